#ifndef VORLANE_TEXTINPUTFOCUS_H
#define VORLANE_TEXTINPUTFOCUS_H

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QtQml/qqmlregistration.h>
#include <QtWaylandCompositor/QWaylandCompositor>
#include <QtWaylandCompositor/QWaylandSurface>

class QWaylandSeat;

namespace Vorlane {

class TextInputManagerV3;

// Whether the surface with the keyboard focus wants text typed into it, by any of the
// text-input protocols: what shows and hides the on-screen keyboard. Given a compositor, it
// offers clients those protocols. It turns false only after a moment: toolkits disable and
// enable again within a few milliseconds when their focus moves between text fields, and the
// client under the panel would be resized twice for nothing. It also tells whether that surface's
// client holds a text-input object at all: one that may soon want text.
class TextInputFocus : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(
        QWaylandCompositor *compositor READ compositor WRITE setCompositor NOTIFY compositorChanged)
    Q_PROPERTY(bool wanted READ wanted NOTIFY wantedChanged)
    Q_PROPERTY(bool possible READ possible NOTIFY possibleChanged)

public:
    explicit TextInputFocus(QObject *parent = nullptr);

    // Text input v2 and v3 for compositor, made once; its v3 manager. Made before the first
    // clients are answered, so that they find them in their first round trip.
    static TextInputManagerV3 *offerTextInput(QWaylandCompositor *compositor);

    QWaylandCompositor *compositor() const { return m_compositor; }
    void setCompositor(QWaylandCompositor *compositor);
    bool wanted() const { return m_wanted; }
    bool possible() const { return m_possible; }

signals:
    void compositorChanged();
    void wantedChanged();
    void possibleChanged();

private slots:
    void update();

private:
    void watchFocus(QWaylandSurface *surface);

    QPointer<QWaylandCompositor> m_compositor;
    QPointer<QWaylandSeat> m_seat;
    QPointer<TextInputManagerV3> m_v3;
    QPointer<QWaylandSurface> m_focus;
    QPointer<QObject> m_control;
    QMetaObject::Connection m_controlConnection;
    QMetaObject::Connection m_surfaceConnection;
    QTimer m_release;
    bool m_wanted = false;
    bool m_possible = false;
};

} // namespace Vorlane

#endif // VORLANE_TEXTINPUTFOCUS_H
