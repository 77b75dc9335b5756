#ifndef VORLANE_FRAMEPACER_H
#define VORLANE_FRAMEPACER_H

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

class QQuickWindow;
class QWaylandQuickOutput;
class QWaylandSurface;

namespace Vorlane {

// Lets the output window draw at most once per refresh of the output (its mode's rate, 60 Hz
// when it has none), whether or not the platform waits for the display. Qt asks for a frame
// a few milliseconds after anything changes, and Qt Wayland Compositor sends every surface its
// frame callbacks after each frame: without vsync (offscreen, linuxfb, X11 without a
// compositing manager) clients that draw on each callback would be driven at whatever rate the
// CPU allows. Requests that come sooner are held and answered at the next refresh, so the
// callbacks of all surfaces and the scene's own animations share the output's pace.
//
// After each frame it sends the frame callbacks itself, to the surfaces whose items are shown:
// a minimised client that draws on each callback would otherwise keep the compositor drawing
// frames that show nothing new. A hidden surface keeps its callbacks until it is shown again.
class FramePacer : public QObject
{
    Q_OBJECT

public:
    static constexpr int FALLBACK_REFRESH_MHZ = 60000;

    FramePacer(QWaylandQuickOutput *output, QQuickWindow *window, QObject *parent = nullptr);
    ~FramePacer() override;

    // Nanoseconds between two frames.
    qint64 intervalNs() const { return m_intervalNs; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateInterval();
    void releaseHeld();
    void advance(qint64 now);
    void takeWaitingRequests();
    void sendFrameCallbacks();
    // Whether an item of this window shows the surface.
    bool isShown(QWaylandSurface *surface) const;

    QPointer<QWaylandQuickOutput> m_output;
    QPointer<QQuickWindow> m_window;
    // Every surface of the compositor, so that a frame need not search the scene for them.
    QList<QWaylandSurface *> m_surfaces;
    // Surfaces told that they are on the output (wl_surface.enter).
    QSet<QWaylandSurface *> m_entered;
    QElapsedTimer m_clock;
    QTimer m_hold;
    qint64 m_intervalNs = 0;
    // The earliest time of the next frame, on m_clock.
    qint64 m_nextNs = 0;
    bool m_releasing = false;
};

} // namespace Vorlane

#endif // VORLANE_FRAMEPACER_H
