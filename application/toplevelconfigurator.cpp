#include "toplevelconfigurator.h"

#include <QCoreApplication>

#include <QtWaylandCompositor/QWaylandClient>
#include <QtWaylandCompositor/QWaylandCompositor>
#include <QtWaylandCompositor/QWaylandQuickShellIntegration>
#include <QtWaylandCompositor/QWaylandSeat>
#include <QtWaylandCompositor/QWaylandSurface>
#include <QtWaylandCompositor/QWaylandXdgShell>

#include <cmath>
#include <wayland-server-core.h>

namespace Vorlane {

namespace {

int wholePixels(qreal value)
{
    return std::isfinite(value) && value > 0 ? qRound(value) : 0;
}

} // namespace

ToplevelConfigurator::ToplevelConfigurator(QObject *parent)
    : QObject(parent)
{ }

ToplevelConfigurator::~ToplevelConfigurator() = default;

void ToplevelConfigurator::setToplevel(QWaylandXdgToplevel *toplevel)
{
    if (m_toplevel == toplevel)
        return;
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_toplevel = toplevel;
    // Qt keeps plain pointers from the top-level to its xdg surface and on to its wl_surface;
    // a client can destroy either first, so both are watched here.
    m_xdgSurface = m_toplevel ? m_toplevel->xdgSurface() : nullptr;
    m_surface = m_xdgSurface ? m_xdgSurface->surface() : nullptr;
    m_sent = Configure();
    m_wantsFullscreen = false;
    m_shellItem.clear();

    if (m_toplevel) {
        using T = QWaylandXdgToplevel;
        const auto answer = [this] { answerWindowRequest(); };
        m_connections << connect(m_toplevel, &T::setFullscreen, this,
                                 [this] { setWantsFullscreen(true); })
                      << connect(m_toplevel, &T::unsetFullscreen, this,
                                 [this] { setWantsFullscreen(false); })
                      << connect(m_toplevel, &T::setMaximized, this, answer)
                      << connect(m_toplevel, &T::unsetMaximized, this, answer);
        if (QWaylandSeat *s = seat()) {
            // The xdg shell would send a configure of its own on every focus change, with
            // whatever size was sent last; the activated state travels with ours instead.
            if (QWaylandXdgShell *shell = m_xdgSurface ? m_xdgSurface->shell() : nullptr)
                disconnect(s, &QWaylandSeat::keyboardFocusChanged, shell, nullptr);
            m_connections << connect(s, &QWaylandSeat::keyboardFocusChanged, this,
                                     &ToplevelConfigurator::handleFocusChange);
        }
        findShellItem();
        schedule();
    }
    emit toplevelChanged();
}

void ToplevelConfigurator::setView(QQuickItem *view)
{
    if (m_view == view)
        return;
    m_view = view;
    m_shellItem.clear();
    findShellItem();
    emit viewChanged();
}

void ToplevelConfigurator::setSize(const QSizeF &size)
{
    if (m_size == size)
        return;
    m_size = size;
    schedule();
    emit sizeChanged();
}

void ToplevelConfigurator::setFloating(bool floating)
{
    if (m_floating == floating)
        return;
    m_floating = floating;
    schedule();
    emit floatingChanged();
}

void ToplevelConfigurator::setCoversOutput(bool covers)
{
    if (m_coversOutput == covers)
        return;
    m_coversOutput = covers;
    schedule();
    emit coversOutputChanged();
}

QWaylandSurface *ToplevelConfigurator::surface() const
{
    return m_toplevel && m_xdgSurface ? m_surface.data() : nullptr;
}

QWaylandSeat *ToplevelConfigurator::seat() const
{
    QWaylandSurface *s = surface();
    return s && s->compositor() ? s->compositor()->defaultSeat() : nullptr;
}

bool ToplevelConfigurator::focused() const
{
    QWaylandSurface *s = surface();
    QWaylandSeat *theSeat = seat();
    return s && theSeat && theSeat->keyboardFocus() == s;
}

void ToplevelConfigurator::configureNow()
{
    send();
    QWaylandSurface *s = surface();
    if (s && s->client() && s->client()->client())
        wl_client_flush(s->client()->client());
}

void ToplevelConfigurator::takeFocus()
{
    if (!m_shellItem)
        findShellItem();
    if (m_shellItem)
        m_shellItem->takeFocus();
    else if (QWaylandSeat *s = seat())
        s->setKeyboardFocus(surface());
}

void ToplevelConfigurator::releaseFocus()
{
    if (focused())
        seat()->setKeyboardFocus(nullptr);
    if (m_shellItem && m_shellItem->hasActiveFocus())
        m_shellItem->setFocus(false);
}

void ToplevelConfigurator::handleFocusChange(QWaylandSurface *now, QWaylandSurface *before)
{
    QWaylandSurface *s = surface();
    if (!s || (now != s && before != s))
        return;
    static int focusCount = 0;
    if (now == s)
        m_focusRank = ++focusCount;
    if (decidesSize()) {
        schedule();
    } else if (QWaylandXdgShell *shell = m_xdgSurface ? m_xdgSurface->shell() : nullptr) {
        // The shell's own answer, cut off for every surface in setToplevel(): what was last
        // sent, with the activated state added or removed. Only this surface's part of the change.
        QMetaObject::invokeMethod(shell, "handleFocusChanged",
                                  Q_ARG(QWaylandSurface *, now == s ? s : nullptr),
                                  Q_ARG(QWaylandSurface *, before == s ? s : nullptr));
    }
    emit focusedChanged();
}

ToplevelConfigurator::Configure ToplevelConfigurator::wanted() const
{
    Configure configure;
    // 0x0 leaves the size to the client.
    configure.size = m_floating ? QSize(0, 0)
                                : QSize(wholePixels(m_size.width()), wholePixels(m_size.height()));
    // Full screen means covering an output: SDL and mpv then draw at the output's size, and
    // Firefox hides its tabs; so part of the screen is maximised, unless the client asked for
    // full screen itself. A hidden surface keeps its state, so hiding changes only the size.
    if (m_floating)
        configure.state = WindowState::None;
    else if (configure.size.isEmpty())
        configure.state = m_sent.state;
    else
        configure.state = m_coversOutput || m_wantsFullscreen ? WindowState::Fullscreen
                                                              : WindowState::Maximized;
    configure.activated = focused();
    return configure;
}

// Sizes arrive one dimension at a time while bindings settle, and focus moves within the same
// handler: the configure waits until control is back in the event loop. There it goes first,
// before a frame whose drawing was asked for meanwhile, and out at once, not with the next flush
// of all clients.
void ToplevelConfigurator::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QCoreApplication::postEvent(this, new QEvent(sendEvent), Qt::HighEventPriority);
}

bool ToplevelConfigurator::event(QEvent *event)
{
    if (event->type() != sendEvent)
        return QObject::event(event);
    if (m_scheduled)
        configureNow();
    return true;
}

void ToplevelConfigurator::send()
{
    m_scheduled = false;
    // Qt's top-level reaches the serial through plain pointers to its xdg surface and on to the
    // wl_surface, either of which the client may have destroyed since the send was queued.
    QWaylandSurface *s = surface();
    if (!s || s->isDestroyed() || !decidesSize())
        return;
    const Configure configure = wanted();
    if (configure == m_sent)
        return;
    QList<QWaylandXdgToplevel::State> states;
    if (configure.state == WindowState::Fullscreen)
        states << QWaylandXdgToplevel::FullscreenState;
    else if (configure.state == WindowState::Maximized)
        states << QWaylandXdgToplevel::MaximizedState;
    if (configure.activated)
        states << QWaylandXdgToplevel::ActivatedState;
    m_toplevel->sendConfigure(configure.size, states);
    m_sent = configure;
}

// Full screen, maximised or neither: the answer is always the area's size in the state the scene
// chose, which the client was told already unless a change is still waiting to be sent.
void ToplevelConfigurator::answerWindowRequest()
{
    if (m_scheduled)
        send();
}

void ToplevelConfigurator::setWantsFullscreen(bool wants)
{
    if (m_wantsFullscreen == wants) {
        answerWindowRequest();
        return;
    }
    m_wantsFullscreen = wants;
    schedule();
}

// Qt's shell surface item answers a client's requests itself: full screen and maximised with
// the output's size, and moves or resizes the item for interactive moves and resizes and on
// state changes. Its connections to the top-level are cut so that only the scene decides.
void ToplevelConfigurator::findShellItem()
{
    if (!m_view || !m_toplevel)
        return;
    QList<QWaylandQuickShellSurfaceItem *> items
        = m_view->findChildren<QWaylandQuickShellSurfaceItem *>();
    if (auto *self = qobject_cast<QWaylandQuickShellSurfaceItem *>(m_view.data()))
        items.prepend(self);
    for (QWaylandQuickShellSurfaceItem *item : std::as_const(items)) {
        if (!m_xdgSurface || item->shellSurface() != m_xdgSurface)
            continue;
        m_shellItem = item;
        // Popups are shown by the scene above every region; one made inside this item would be
        // cut by its container.
        item->setAutoCreatePopupItems(false);
        using T = QWaylandXdgToplevel;
        const QList<QWaylandQuickShellIntegration *> integrations
            = item->findChildren<QWaylandQuickShellIntegration *>(Qt::FindDirectChildrenOnly);
        for (QWaylandQuickShellIntegration *integration : integrations) {
            disconnect(m_toplevel, &T::startMove, integration, nullptr);
            disconnect(m_toplevel, &T::startResize, integration, nullptr);
            disconnect(m_toplevel, &T::setMaximized, integration, nullptr);
            disconnect(m_toplevel, &T::unsetMaximized, integration, nullptr);
            disconnect(m_toplevel, &T::maximizedChanged, integration, nullptr);
            disconnect(m_toplevel, &T::setFullscreen, integration, nullptr);
            disconnect(m_toplevel, &T::unsetFullscreen, integration, nullptr);
            disconnect(m_toplevel, &T::fullscreenChanged, integration, nullptr);
        }
        return;
    }
}

} // namespace Vorlane
