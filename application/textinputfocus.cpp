#include "textinputfocus.h"

#include "textinputv3.h"

#include <QtWaylandCompositor/QWaylandClient>
#include <QtWaylandCompositor/QWaylandInputMethodControl>
#include <QtWaylandCompositor/QWaylandSeat>
#include <QtWaylandCompositor/QWaylandTextInputManager>

#include <wayland-server-core.h>

#include <cstring>

namespace Vorlane {

namespace {

constexpr int releaseDelayMs = 100;

// Whether a client holds a text-input object of a protocol this compositor serves.
bool holdsTextInput(QWaylandSurface *surface)
{
    QWaylandClient *client = surface->client();
    if (!client || !client->client())
        return false;
    bool found = false;
    wl_client_for_each_resource(
        client->client(),
        [](wl_resource *resource, void *data) {
            const char *name = wl_resource_get_class(resource);
            if (std::strcmp(name, "zwp_text_input_v3") != 0
                && std::strcmp(name, "zwp_text_input_v2") != 0)
                return WL_ITERATOR_CONTINUE;
            *static_cast<bool *>(data) = true;
            return WL_ITERATOR_STOP;
        },
        &found);
    return found;
}

} // namespace

TextInputFocus::TextInputFocus(QObject *parent)
    : QObject(parent)
{
    m_release.setSingleShot(true);
    m_release.setInterval(releaseDelayMs);
    connect(&m_release, &QTimer::timeout, this, [this] {
        m_wanted = false;
        emit wantedChanged();
    });
}

TextInputManagerV3 *TextInputFocus::offerTextInput(QWaylandCompositor *compositor)
{
    if (TextInputManagerV3 *existing = TextInputManagerV3::findIn(compositor))
        return existing;
    // An extension is not a child of the compositor it serves: it would outlive it.
    (new QWaylandTextInputManager(compositor))->setParent(compositor);
    auto *v3 = new TextInputManagerV3(compositor);
    v3->setParent(compositor);
    return v3;
}

void TextInputFocus::setCompositor(QWaylandCompositor *compositor)
{
    if (m_compositor == compositor)
        return;
    if (m_compositor)
        m_compositor->disconnect(this);
    m_compositor = compositor;
    if (m_compositor) {
        // The protocols start serving once the compositor is created and control is back in
        // the event loop; the seat appears with the compositor. Qt's own text-input method is
        // left out: Qt 6.4 clients that are offered it keep it enabled after their text field
        // loses the focus, and crash when text-input v2 is announced before it.
        if (!m_v3) {
            m_v3 = offerTextInput(m_compositor);
            connect(m_v3, &TextInputManagerV3::activeSurfaceChanged, this, &TextInputFocus::update);
        }
        connect(m_compositor, &QWaylandCompositor::createdChanged, this, &TextInputFocus::update);
        connect(m_compositor, &QWaylandCompositor::defaultSeatChanged, this,
                &TextInputFocus::update);
    }
    update();
    emit compositorChanged();
}

void TextInputFocus::watchFocus(QWaylandSurface *surface)
{
    if (surface == m_focus && (m_control || !surface))
        return;
    disconnect(m_controlConnection);
    disconnect(m_surfaceConnection);
    m_focus = surface;
    m_control = surface ? surface->inputMethodControl() : nullptr;
    // Qt does not export the control's class: its signal is reached through the meta-object.
    if (m_control)
        m_controlConnection
            = connect(m_control, SIGNAL(enabledChanged(bool)), this, SLOT(update()));
    if (surface)
        m_surfaceConnection = connect(surface, &QWaylandSurface::surfaceDestroyed, this,
                                      &TextInputFocus::update, Qt::QueuedConnection);
}

void TextInputFocus::update()
{
    QWaylandSeat *seat = m_compositor ? m_compositor->defaultSeat() : nullptr;
    if (seat != m_seat) {
        if (m_seat)
            m_seat->disconnect(this);
        m_seat = seat;
        if (m_seat)
            connect(m_seat, &QWaylandSeat::keyboardFocusChanged, this, &TextInputFocus::update);
    }

    QWaylandSurface *focus = seat ? seat->keyboardFocus() : nullptr;
    if (focus && !focus->resource())
        focus = nullptr;
    watchFocus(focus);
    const bool possible = focus && holdsTextInput(focus);
    if (possible != m_possible) {
        m_possible = possible;
        emit possibleChanged();
    }
    bool wanted = false;
    if (focus) {
        wanted = (m_control && m_control->property("enabled").toBool())
            || (m_v3 && m_v3->activeSurface() == focus);
    }
    if (wanted) {
        m_release.stop();
        if (!m_wanted) {
            m_wanted = true;
            emit wantedChanged();
        }
    } else if (m_wanted && !m_release.isActive()) {
        m_release.start();
    }
}

} // namespace Vorlane
