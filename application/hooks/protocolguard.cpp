#include "protocolguard.h"

#include "surfacerole.h"

#include <QCoreApplication>
#include <QHash>
#include <QPair>
#include <QSet>

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <wayland-server.h>

namespace Vorlane::ProtocolGuard {
namespace {

constexpr uint32_t XDG_WM_BASE_ERROR_ROLE = 0;
constexpr uint32_t XDG_SURFACE_ERROR_NOT_CONSTRUCTED = 1;
constexpr uint32_t XDG_SURFACE_ERROR_ALREADY_CONSTRUCTED = 2;

// The parent of every surface that was given a sub-surface role, for as long as both live.
QHash<wl_resource *, wl_resource *> parents;
QHash<wl_resource *, wl_listener *> watches;
// The wl_surface of every xdg_surface by client and object id, null once the surface is gone.
// Qt keeps a dangling pointer to it instead.
using ObjectKey = QPair<wl_client *, uint32_t>;
QHash<ObjectKey, wl_resource *> xdgSurfaces;
// The live xdg_surface of every wl_surface. Qt accepts a second one, and the two top-levels it
// lets them make share the surface: when one goes, the other's focus handling may read freed
// memory.
QHash<wl_resource *, ObjectKey> xdgSurfaceOf;
// The xdg_surface of every xdg_toplevel and xdg_popup (role objects), by client and id.
QHash<ObjectKey, ObjectKey> toplevels;
// The live role object of an xdg_surface: Qt leaves it dangling or leaked when its xdg_surface
// goes first, which the protocol forbids anyway.
QHash<ObjectKey, uint32_t> roles;
// Whether each wl_surface that was given an xdg role was a popup, for as long as it lives: a
// surface that gets a new xdg_surface may take the same role again, and no other.
QHash<wl_resource *, bool> wasPopup;
// The xdg_surfaces whose xdg_toplevel was destroyed: Qt deletes the top-level but its xdg_surface
// keeps the pointer and acknowledges configures into the freed top-level.
QSet<ObjectKey> toplevelsGone;
QHash<wl_client *, wl_listener *> clientWatches;

void clientDestroyed(wl_listener *listener, void *data)
{
    auto *client = static_cast<wl_client *>(data);
    for (auto it = xdgSurfaceOf.begin(); it != xdgSurfaceOf.end();) {
        if (it.value().first == client)
            it = xdgSurfaceOf.erase(it);
        else
            ++it;
    }
    for (auto it = xdgSurfaces.begin(); it != xdgSurfaces.end();) {
        if (it.key().first == client)
            it = xdgSurfaces.erase(it);
        else
            ++it;
    }
    for (auto it = toplevels.begin(); it != toplevels.end();) {
        if (it.key().first == client)
            it = toplevels.erase(it);
        else
            ++it;
    }
    for (auto it = roles.begin(); it != roles.end();) {
        if (it.key().first == client)
            it = roles.erase(it);
        else
            ++it;
    }
    for (auto it = toplevelsGone.begin(); it != toplevelsGone.end();) {
        if (it->first == client)
            it = toplevelsGone.erase(it);
        else
            ++it;
    }
    clientWatches.remove(client);
    wl_list_remove(&listener->link);
    delete listener;
}

void watchClient(wl_client *client)
{
    if (clientWatches.contains(client))
        return;
    auto *listener = new wl_listener;
    listener->notify = clientDestroyed;
    wl_client_add_destroy_listener(client, listener);
    clientWatches.insert(client, listener);
}

void surfaceDestroyed(wl_listener *listener, void *data)
{
    auto *surface = static_cast<wl_resource *>(data);
    parents.remove(surface);
    xdgSurfaceOf.remove(surface);
    wasPopup.remove(surface);
    for (auto it = xdgSurfaces.begin(); it != xdgSurfaces.end(); ++it) {
        if (it.value() == surface)
            it.value() = nullptr;
    }
    for (auto it = parents.begin(); it != parents.end();) {
        if (it.value() == surface)
            it = parents.erase(it);
        else
            ++it;
    }
    watches.remove(surface);
    wl_list_remove(&listener->link);
    delete listener;
}

void watch(wl_resource *surface)
{
    if (watches.contains(surface))
        return;
    auto *listener = new wl_listener;
    listener->notify = surfaceDestroyed;
    wl_resource_add_destroy_listener(surface, listener);
    watches.insert(surface, listener);
}

bool acceptableSubsurface(wl_resource *surface, wl_resource *parent)
{
    if (!surface || !parent || surface == parent || parents.contains(surface))
        return false;
    for (wl_resource *above = parents.value(parent); above; above = parents.value(above)) {
        if (above == surface)
            return false;
    }
    return true;
}

// The refused request goes here instead of to Qt. libffi calls it with the request's own
// arguments, of which it reads only the first two, the same for every request.
const void *qtImplementation = nullptr;
uint32_t refusalCode = 0;
const char *refusalText = "";

void refuse(wl_client *, wl_resource *resource)
{
    resource->object.implementation = qtImplementation;
    wl_resource_post_error(resource, refusalCode, "%s", refusalText);
}

using Handler = void (*)(wl_client *, wl_resource *);
const Handler refusing[] = { refuse, refuse, refuse, refuse, refuse, refuse, refuse, refuse,
                             refuse, refuse, refuse, refuse, refuse, refuse, refuse, refuse };

bool isClass(wl_resource *resource, const char *name)
{
    return std::strcmp(wl_resource_get_class(resource), name) == 0;
}

// Requests are told apart by name, which stays when an interface gains requests in a new
// version of its protocol; the arguments read here are those of the first version.
void onRequest(void *, wl_protocol_logger_type direction, const wl_protocol_logger_message *message)
{
    if (direction != WL_PROTOCOL_LOGGER_REQUEST || !message->message)
        return;
    wl_resource *resource = message->resource;
    const char *request = message->message->name;
    const auto is = [request](const char *name) { return std::strcmp(request, name) == 0; };
    if ((is("set_buffer_transform") || is("set_buffer_scale"))
        && isClass(resource, wl_surface_interface.name)) {
        // Qt divides by the scale and indexes by the transform.
        const int32_t value = message->arguments[0].i;
        if (is("set_buffer_scale") && value <= 0) {
            refusalCode = WL_SURFACE_ERROR_INVALID_SCALE;
            refusalText = "the buffer scale must be positive";
        } else if (is("set_buffer_transform")
                   && (value < WL_OUTPUT_TRANSFORM_NORMAL
                       || value > WL_OUTPUT_TRANSFORM_FLIPPED_270)) {
            refusalCode = WL_SURFACE_ERROR_INVALID_TRANSFORM;
            refusalText = "no such buffer transform";
        } else {
            return;
        }
    } else if (is("get_subsurface") && isClass(resource, wl_subcompositor_interface.name)) {
        auto *surface = reinterpret_cast<wl_resource *>(message->arguments[1].o);
        auto *parent = reinterpret_cast<wl_resource *>(message->arguments[2].o);
        if (acceptableSubsurface(surface, parent)) {
            parents.insert(surface, parent);
            watch(surface);
            watch(parent);
            return;
        }
        refusalCode = WL_SUBCOMPOSITOR_ERROR_BAD_SURFACE;
        refusalText = "the surface cannot be a sub-surface of that parent";
    } else if (is("get_xdg_surface") && isClass(resource, "xdg_wm_base")) {
        auto *surface = reinterpret_cast<wl_resource *>(message->arguments[1].o);
        wl_client *client = wl_resource_get_client(resource);
        const ObjectKey key(client, message->arguments[0].n);
        if (!surface || !xdgSurfaceOf.contains(surface)) {
            xdgSurfaces.insert(key, surface);
            toplevelsGone.remove(key);
            watchClient(client);
            if (surface) {
                xdgSurfaceOf.insert(surface, key);
                watch(surface);
                if (wasPopup.contains(surface))
                    SurfaceRole::dropXdgRole(surface);
            }
            return;
        }
        refusalCode = XDG_WM_BASE_ERROR_ROLE;
        refusalText = "the wl_surface already has an xdg_surface";
    } else if (isClass(resource, "xdg_surface")) {
        const ObjectKey key(wl_resource_get_client(resource), wl_resource_get_id(resource));
        if (is("destroy")) {
            if (!roles.contains(key)) {
                if (wl_resource *surface = xdgSurfaces.value(key);
                    xdgSurfaceOf.value(surface) == key)
                    xdgSurfaceOf.remove(surface);
                xdgSurfaces.insert(key, nullptr);
                return;
            }
            refusalCode = XDG_SURFACE_ERROR_NOT_CONSTRUCTED;
            refusalText = "the xdg_surface was destroyed before its role object";
        } else if (is("ack_configure") && toplevelsGone.contains(key)) {
            // There is nothing left to acknowledge; Qt would read the deleted top-level.
            refusalCode = XDG_SURFACE_ERROR_NOT_CONSTRUCTED;
            refusalText = "ack_configure on an xdg_surface whose xdg_toplevel is destroyed";
        } else if (wl_resource *surface = xdgSurfaces.value(key)) {
            const bool popup = is("get_popup");
            if (!(is("get_toplevel") || popup) || roles.contains(key))
                return;
            if (wasPopup.value(surface, popup) == popup) {
                wasPopup.insert(surface, popup);
                toplevels.insert({ key.first, message->arguments[0].n }, key);
                roles.insert(key, message->arguments[0].n);
                return;
            }
            refusalCode = XDG_SURFACE_ERROR_ALREADY_CONSTRUCTED;
            refusalText = "the wl_surface had another role before";
        } else {
            refusalCode = XDG_SURFACE_ERROR_NOT_CONSTRUCTED;
            refusalText = "the xdg_surface has lost its wl_surface";
        }
    } else if (isClass(resource, "xdg_toplevel") || isClass(resource, "xdg_popup")) {
        wl_client *client = wl_resource_get_client(resource);
        const auto alive = [client](uint32_t id) {
            const auto it = toplevels.constFind({ client, id });
            return it != toplevels.cend() && xdgSurfaces.value(it.value());
        };
        const bool parentAlive = !is("set_parent") || isClass(resource, "xdg_popup")
            || !message->arguments[0].o
            || alive(wl_resource_get_id(reinterpret_cast<wl_resource *>(message->arguments[0].o)));
        if (is("destroy")) {
            const ObjectKey key(client, wl_resource_get_id(resource));
            const ObjectKey owner = toplevels.take(key);
            if (roles.value(owner) == key.second) {
                roles.remove(owner);
                if (isClass(resource, "xdg_toplevel"))
                    toplevelsGone.insert(owner);
            }
            return;
        }
        if (alive(wl_resource_get_id(resource)) && parentAlive)
            return;
        refusalCode = XDG_SURFACE_ERROR_NOT_CONSTRUCTED;
        refusalText = "the role object or its parent has lost its xdg_surface or wl_surface";
    } else {
        return;
    }
    // libwayland calls the resource's implementation right after its loggers: this one request
    // goes to the refusal instead of Qt.
    qtImplementation = resource->object.implementation;
    resource->object.implementation = refusing;
}

bool reached = false;
void reach(wl_client *, wl_resource *)
{
    reached = true;
}
const Handler reaching[] = { reach, reach, reach, reach, reach, reach, reach, reach,
                             reach, reach, reach, reach, reach, reach, reach, reach };

bool disconnected = false;
void clientGone(wl_listener *listener, void *)
{
    disconnected = true;
    wl_list_remove(&listener->link);
}

void silent(const char *, va_list) { }

} // namespace

bool selfTest()
{
    wl_display *display = wl_display_create();
    int fds[2];
    if (!display || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        if (display)
            wl_display_destroy(display);
        return false;
    }
    // libwayland reports the disconnection of the refused client.
    wl_log_set_handler_server(silent);
    wl_protocol_logger *logger = wl_display_add_protocol_logger(display, onRequest, nullptr);
    wl_client *client = wl_client_create(display, fds[0]);
    // Object 2 of the client: a wl_surface whose implementation only notes that it was reached.
    wl_resource *surface
        = client ? wl_resource_create(client, &wl_surface_interface, 1, 2) : nullptr;
    int opcode = -1;
    for (int i = 0; i < wl_surface_interface.method_count; ++i) {
        if (std::strcmp(wl_surface_interface.methods[i].name, "set_buffer_scale") == 0)
            opcode = i;
    }
    wl_listener listener;
    listener.notify = clientGone;
    disconnected = false;
    reached = false;
    if (surface && opcode >= 0) {
        wl_resource_set_implementation(surface, reaching, nullptr, nullptr);
        wl_client_add_destroy_listener(client, &listener);
        // set_buffer_scale(0), which the guard refuses.
        const uint32_t request[3] = { 2, (12u << 16) | uint32_t(opcode), 0 };
        if (::write(fds[1], request, sizeof(request)) == ssize_t(sizeof(request)))
            wl_event_loop_dispatch(wl_display_get_event_loop(display), 0);
        if (!disconnected)
            wl_list_remove(&listener.link);
    }
    const bool refused = disconnected && !reached;
    if (client && !disconnected)
        wl_client_destroy(client);
    else if (!client)
        ::close(fds[0]);
    ::close(fds[1]);
    wl_protocol_logger_destroy(logger);
    wl_display_destroy(display);
    return refused;
}

void install(wl_display *display)
{
    if (!display)
        return;
    wl_protocol_logger *logger = wl_display_add_protocol_logger(display, onRequest, nullptr);
    // The display outlives the event loop but never frees its loggers.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp,
                     [logger] { wl_protocol_logger_destroy(logger); });
}

} // namespace Vorlane::ProtocolGuard
