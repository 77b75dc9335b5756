#include "subsurfaceguard.h"

#include <QHash>

#include <cstring>
#include <wayland-server.h>

namespace Vorlane::SubsurfaceGuard {
namespace {

constexpr uint32_t GET_SUBSURFACE = 1;

// The parent of every surface that was given a sub-surface role, for as long as both live.
QHash<wl_resource *, wl_resource *> parents;

struct Watch
{
    wl_listener listener;
};
QHash<wl_resource *, Watch *> watches;

void surfaceDestroyed(wl_listener *listener, void *data)
{
    auto *surface = static_cast<wl_resource *>(data);
    parents.remove(surface);
    for (auto it = parents.begin(); it != parents.end();) {
        if (it.value() == surface)
            it = parents.erase(it);
        else
            ++it;
    }
    delete reinterpret_cast<Watch *>(listener);
    watches.remove(surface);
}

void watch(wl_resource *surface)
{
    if (watches.contains(surface))
        return;
    auto *w = new Watch;
    w->listener.notify = surfaceDestroyed;
    wl_resource_add_destroy_listener(surface, &w->listener);
    watches.insert(surface, w);
}

bool acceptable(wl_resource *surface, wl_resource *parent)
{
    if (!surface || !parent || surface == parent || parents.contains(surface))
        return false;
    for (wl_resource *above = parents.value(parent); above; above = parents.value(above)) {
        if (above == surface)
            return false;
    }
    return true;
}

// Stands in for Qt's handler of one refused request only: the client is disconnected by it.
const void *qtImplementation = nullptr;

void refuse(wl_client *, wl_resource *resource, uint32_t, wl_resource *, wl_resource *)
{
    resource->object.implementation = qtImplementation;
    wl_resource_post_error(resource, WL_SUBCOMPOSITOR_ERROR_BAD_SURFACE,
                           "the surface cannot be a sub-surface of that parent");
}

const struct wl_subcompositor_interface refusing = { nullptr, refuse };

void onRequest(void *, wl_protocol_logger_type direction, const wl_protocol_logger_message *message)
{
    if (direction != WL_PROTOCOL_LOGGER_REQUEST || message->message_opcode != GET_SUBSURFACE
        || std::strcmp(wl_resource_get_class(message->resource), wl_subcompositor_interface.name)
            != 0)
        return;
    auto *surface = reinterpret_cast<wl_resource *>(message->arguments[1].o);
    auto *parent = reinterpret_cast<wl_resource *>(message->arguments[2].o);
    if (acceptable(surface, parent)) {
        parents.insert(surface, parent);
        watch(surface);
        watch(parent);
        return;
    }
    // libwayland calls the resource's implementation right after its loggers: this one request
    // goes to the refusal instead of Qt.
    qtImplementation = message->resource->object.implementation;
    message->resource->object.implementation = &refusing;
}

} // namespace

void install(wl_display *display)
{
    if (display)
        wl_display_add_protocol_logger(display, onRequest, nullptr);
}

} // namespace Vorlane::SubsurfaceGuard
