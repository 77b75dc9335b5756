#ifndef VORLANE_TOPLEVELCONFIGURATOR_H
#define VORLANE_TOPLEVELCONFIGURATOR_H

#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QSize>
#include <QSizeF>
#include <QtQml/qqmlregistration.h>
#include <QtWaylandCompositor/QWaylandQuickShellSurfaceItem>
#include <QtWaylandCompositor/QWaylandSurface>
#include <QtWaylandCompositor/QWaylandXdgSurface>
#include <QtWaylandCompositor/QWaylandXdgToplevel>

class QWaylandSeat;

namespace Vorlane {

// Tells one xdg top-level what the scene decides for it, and nothing else: the size of its area,
// full screen when that area covers the whole output and maximised in any smaller one (a client
// must obey the size in both), activated while it has the keyboard; a floating one (a dialog) is
// left its own size in neither state. While it is hidden (0 x 0) it keeps the state it was last
// shown in. Until it is given a size (or made floating) it sends nothing: a surface container
// that configures its client itself keeps that to itself, and only the activated state is added
// to what the container sent last. A change is sent once, when every
// binding has settled, and only when it differs from what the client was last told. The
// client's own window requests (full screen, maximise, move, resize, window menu) change
// nothing: the answers of Qt's shell surface item, which would resize or move the surface to
// the whole output, are switched off.
class ToplevelConfigurator : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QWaylandXdgToplevel *toplevel READ toplevel WRITE setToplevel NOTIFY toplevelChanged)
    Q_PROPERTY(QQuickItem *view READ view WRITE setView NOTIFY viewChanged)
    // An invalid size (the default) leaves the size to whoever else tells the client.
    Q_PROPERTY(QSizeF size READ size WRITE setSize NOTIFY sizeChanged)
    Q_PROPERTY(bool floating READ floating WRITE setFloating NOTIFY floatingChanged)
    // True while the area covers the whole output.
    Q_PROPERTY(bool coversOutput READ coversOutput WRITE setCoversOutput NOTIFY coversOutputChanged)
    Q_PROPERTY(bool focused READ focused NOTIFY focusedChanged)
    Q_PROPERTY(int focusRank READ focusRank NOTIFY focusedChanged)

public:
    explicit ToplevelConfigurator(QObject *parent = nullptr);
    ~ToplevelConfigurator() override;

    QWaylandXdgToplevel *toplevel() const { return m_toplevel; }
    void setToplevel(QWaylandXdgToplevel *toplevel);
    // The item that shows the surface, or one that holds it: the shell surface item inside it
    // is found by its surface.
    QQuickItem *view() const { return m_view; }
    void setView(QQuickItem *view);
    QSizeF size() const { return m_size; }
    void setSize(const QSizeF &size);
    bool floating() const { return m_floating; }
    void setFloating(bool floating);
    bool coversOutput() const { return m_coversOutput; }
    void setCoversOutput(bool covers);
    // True while the surface has the keyboard focus of the default seat.
    bool focused() const;
    // Grows each time a surface takes the keyboard: the highest is the most recently focused;
    // 0 for one that never had it.
    int focusRank() const { return m_focusRank; }

    // Sends what the client should know now rather than when control is back in the event
    // loop, and hands it to the client's connection at once.
    Q_INVOKABLE void configureNow();
    Q_INVOKABLE void takeFocus();
    Q_INVOKABLE void releaseFocus();

    // The event that sends a scheduled configure; the frame pacer delivers it before a frame.
    static constexpr QEvent::Type sendEvent = QEvent::Type(QEvent::User + 1);

signals:
    void toplevelChanged();
    void viewChanged();
    void sizeChanged();
    void floatingChanged();
    void coversOutputChanged();
    void focusedChanged();

protected:
    bool event(QEvent *event) override;

private:
    enum class WindowState { None, Maximized, Fullscreen };
    struct Configure
    {
        QSize size { 0, 0 };
        WindowState state = WindowState::None;
        bool activated = false;
        bool operator==(const Configure &other) const
        {
            return size == other.size && state == other.state && activated == other.activated;
        }
    };

    bool decidesSize() const { return m_floating || m_size.isValid(); }
    Configure wanted() const;
    void schedule();
    void send();
    void answerWindowRequest();
    void setWantsFullscreen(bool wants);
    void findShellItem();
    void handleFocusChange(QWaylandSurface *now, QWaylandSurface *before);
    QWaylandSurface *surface() const;
    QWaylandSeat *seat() const;

    QPointer<QWaylandXdgToplevel> m_toplevel;
    QPointer<QWaylandXdgSurface> m_xdgSurface;
    QPointer<QWaylandSurface> m_surface;
    QPointer<QQuickItem> m_view;
    QPointer<QWaylandQuickShellSurfaceItem> m_shellItem;
    QSizeF m_size;
    bool m_floating = false;
    bool m_coversOutput = false;
    // The client asked for full screen (a kiosk browser, a game): it gets that state, at its
    // area's size, wherever it is shown.
    bool m_wantsFullscreen = false;
    // Qt's top-level sends 0x0 without states when it is made.
    Configure m_sent;
    bool m_scheduled = false;
    int m_focusRank = 0;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace Vorlane

#endif // VORLANE_TOPLEVELCONFIGURATOR_H
