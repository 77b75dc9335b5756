#include "framepacer.h"

#include "toplevelconfigurator.h"

#include <QCoreApplication>
#include <QEvent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QWaylandCompositor>
#include <QWaylandOutputMode>
#include <QWaylandQuickItem>
#include <QWaylandQuickOutput>
#include <QWaylandSurface>
#include <QWaylandView>

#include <wayland-server-core.h>

namespace Vorlane {

namespace {

// A request this close to its refresh is answered at once: the hold timer counts whole
// milliseconds, and waiting for less would only add a late frame.
constexpr qint64 SLACK_NS = 1000000;

} // namespace

FramePacer::FramePacer(QWaylandQuickOutput *output, QQuickWindow *window, QObject *parent)
    : QObject(parent)
    , m_output(output)
    , m_window(window)
{
    m_clock.start();
    m_hold.setSingleShot(true);
    m_hold.setTimerType(Qt::PreciseTimer);
    connect(&m_hold, &QTimer::timeout, this, &FramePacer::releaseHeld);
    updateInterval();
    if (output) {
        connect(output, &QWaylandOutput::currentModeChanged, this, &FramePacer::updateInterval);
        output->setAutomaticFrameCallback(false);
        if (QWaylandCompositor *compositor = output->compositor()) {
            connect(compositor, &QWaylandCompositor::surfaceCreated, this,
                    [this](QWaylandSurface *surface) {
                        m_surfaces.append(surface);
                        connect(surface, &QObject::destroyed, this, [this, surface] {
                            m_surfaces.removeOne(surface);
                            m_entered.remove(surface);
                        });
                    });
        }
    }
    if (window) {
        window->installEventFilter(this);
        // From the render thread where there is one: queued to this thread, as Qt does.
        connect(window, &QQuickWindow::afterRendering, this,
                qOverload<>(&FramePacer::sendFrameCallbacks));
    }
}

FramePacer::~FramePacer()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

void FramePacer::updateInterval()
{
    int milliHertz = m_output ? m_output->currentMode().refreshRate() : 0;
    // Below 1 Hz or above 1000 Hz the platform reported no usable rate.
    if (milliHertz < 1000 || milliHertz > 1000000)
        milliHertz = FALLBACK_REFRESH_MHZ;
    m_intervalNs = qint64(1000000000000LL / milliHertz);
}

bool FramePacer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::UpdateRequest || watched != m_window || m_releasing)
        return QObject::eventFilter(watched, event);
    if (m_hold.isActive())
        return true;
    const qint64 now = m_clock.nsecsElapsed();
    if (now + SLACK_NS >= m_nextNs) {
        advance(now);
        takeWaitingRequests();
        return QObject::eventFilter(watched, event);
    }
    const qint64 waitNs = m_nextNs - now;
    m_hold.start(int((waitNs + 999999) / 1000000));
    return true;
}

void FramePacer::advance(qint64 now)
{
    // While frames follow each other, keep to the grid of refreshes, so that a late timer does
    // not lower the rate; after a pause, start a new grid.
    m_nextNs = now - m_nextNs < m_intervalNs ? m_nextNs + m_intervalNs : now + m_intervalNs;
}

void FramePacer::releaseHeld()
{
    if (!m_window)
        return;
    advance(m_clock.nsecsElapsed());
    takeWaitingRequests();
    m_releasing = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
    m_releasing = false;
}

// Requests that clients sent while the last frame was drawn are handled before the next one,
// and the configures they called for go out at once: a frame takes milliseconds, and a new
// window would otherwise wait for its size until the frame is done.
void FramePacer::takeWaitingRequests()
{
    if (!m_output || !m_output->compositor())
        return;
    m_output->compositor()->processWaylandEvents();
    QCoreApplication::sendPostedEvents(nullptr, ToplevelConfigurator::sendEvent);
}

void FramePacer::sendFrameCallbacks()
{
    if (!m_window || !m_output || !m_output->compositor())
        return;
    for (QWaylandSurface *surface : std::as_const(m_surfaces)) {
        if (surface->isDestroyed() || !surface->hasContent() || !isShown(surface))
            continue;
        if (!m_entered.contains(surface)) {
            m_entered.insert(surface);
            m_output->surfaceEnter(surface);
        }
        surface->frameStarted();
        surface->sendFrameCallbacks();
    }
    wl_display_flush_clients(m_output->compositor()->display());
}

bool FramePacer::isShown(QWaylandSurface *surface) const
{
    const QList<QWaylandView *> views = surface->views();
    for (QWaylandView *view : views) {
        // Visible here means visible with all its parents: a hidden container hides it.
        auto *item = qobject_cast<QWaylandQuickItem *>(view->renderObject());
        if (item && item->window() == m_window && item->isVisible())
            return true;
    }
    return false;
}

} // namespace Vorlane
