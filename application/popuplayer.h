#ifndef VORLANE_POPUPLAYER_H
#define VORLANE_POPUPLAYER_H

#include "messagethrottle.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QQuickItem>
#include <QRect>
#include <QtQml/qqmlregistration.h>
#include <QtWaylandCompositor/QWaylandQuickShellSurfaceItem>
#include <QtWaylandCompositor/QWaylandXdgShell>

struct wl_client;

namespace Vorlane {

// Shows every xdg popup (menu, drop-down, tooltip) above the regions and the quick bar, whole:
// the layer covers the screen, and each popup's item is placed where its parent's item shows the
// parent, at the same scale. A popup that would leave the screen is moved back as far as its
// positioner allows (flip, slide, resize) and the client is told the adjusted geometry.
// While a client holds a popup grab, a press anywhere but on one of its popups closes its
// grabbing popups (popup_done, the top-most first) and goes no further. A popup whose parent is
// hidden is closed too.
class PopupLayer : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QWaylandXdgShell *shell READ shell WRITE setShell NOTIFY shellChanged)

public:
    explicit PopupLayer(QQuickItem *parent = nullptr);
    ~PopupLayer() override;

    QWaylandXdgShell *shell() const { return m_shell; }
    void setShell(QWaylandXdgShell *shell);

signals:
    void shellChanged();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void touchEvent(QTouchEvent *event) override;

private:
    struct Popup
    {
        QPointer<QWaylandXdgPopup> popup;
        QPointer<QWaylandXdgSurface> xdgSurface;
        QPointer<QWaylandXdgSurface> parent;
        QPointer<QWaylandQuickShellSurfaceItem> item;
        wl_client *client = nullptr;
        int children = 0;
        bool grabbing = false;
        QList<QMetaObject::Connection> parentWatch;
    };

    void handlePopupCreated(QWaylandXdgPopup *popup, QWaylandXdgSurface *xdgSurface);
    void handleGrab(QWaylandXdgSurface *xdgSurface);
    void forget(QWaylandXdgSurface *xdgSurface);
    // Sends popup_done to every popup of client that grabs (or to all of them), top-most first.
    void close(wl_client *client, bool grabbingOnly);
    void closeChildrenOf(QWaylandXdgSurface *parent);
    bool dismissGrabs();
    QWaylandQuickItem *itemOf(QWaylandXdgSurface *xdgSurface) const;
    void updateInputAcceptance();

    QPointer<QWaylandXdgShell> m_shell;
    QHash<QWaylandXdgSurface *, Popup *> m_popups;
    // Popups in the order they were made, so the last is the top-most.
    QList<QWaylandXdgSurface *> m_order;
    // Where Qt's own popup handling moves its items; the layer places them itself.
    QQuickItem *m_ignoredMoves;
    MessageThrottle m_unplacedWarnings;
    MessageThrottle m_grabWarnings;
};

} // namespace Vorlane

#endif // VORLANE_POPUPLAYER_H
