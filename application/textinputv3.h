#ifndef VORLANE_TEXTINPUTV3_H
#define VORLANE_TEXTINPUTV3_H

#include "qwayland-server-text-input-unstable-v3.h"

#include <QList>
#include <QPointer>
#include <QRect>
#include <QtWaylandCompositor/QWaylandCompositorExtensionTemplate>
#include <QtWaylandCompositor/QWaylandSurface>

#include <memory>

class QInputMethodEvent;
class QInputMethodQueryEvent;
class QKeyEvent;
class QWaylandCompositor;

namespace Vorlane {

class TextInputV3;

// zwp_text_input_v3 (GTK 3 and 4, Firefox, Chromium when asked) bridged to the compositor's own
// input method: while the surface with the keyboard focus has text input enabled, the scene
// item that shows it answers the input method's queries from the client's state, and what the
// input method types goes to the client as preedit, commit and delete-surrounding events.
class TextInputManagerV3 : public QWaylandCompositorExtensionTemplate<TextInputManagerV3>,
                           public QtWaylandServer::zwp_text_input_manager_v3
{
    Q_OBJECT

public:
    explicit TextInputManagerV3(QWaylandCompositor *compositor);
    ~TextInputManagerV3() override;

    void initialize() override;

    // The surface whose client has text input enabled while it has the keyboard focus.
    QWaylandSurface *activeSurface() const;

    // Called by the text inputs.
    void inputCommitted(TextInputV3 *input, bool enabledBefore);
    void inputDestroyed(TextInputV3 *input);

signals:
    void activeSurfaceChanged();

protected:
    void zwp_text_input_manager_v3_destroy(Resource *resource) override;
    void zwp_text_input_manager_v3_get_text_input(Resource *resource, uint32_t id,
                                                  struct ::wl_resource *seat) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void focusChanged(QWaylandSurface *now);
    void setActive(TextInputV3 *input);
    void answerQuery(QInputMethodQueryEvent *query) const;
    void sendInputMethodEvent(const QInputMethodEvent *event);
    bool sendTypedKey(const QKeyEvent *event);

    QWaylandCompositor *m_compositor = nullptr;
    QPointer<QWaylandSurface> m_focus;
    std::vector<std::unique_ptr<TextInputV3>> m_inputs;
    TextInputV3 *m_active = nullptr;
    QMetaObject::Connection m_focusDestroyed;
};

} // namespace Vorlane

#endif // VORLANE_TEXTINPUTV3_H
