#include "popuprequests.h"

#include <QHash>

#include <cstring>
#include <wayland-server.h>

namespace Vorlane::PopupRequests {

namespace {

constexpr uint32_t XDG_WM_BASE_ERROR_NOT_THE_TOPMOST_POPUP = 2;

struct Adopted
{
    Handlers handlers;
    const void *qtImplementation;
    wl_listener destroyed;
};

QHash<wl_resource *, Adopted *> adopted;

// Runs before the resource's destructor, which is Qt's: Qt finds its own data only through its
// own table.
void resourceDestroyed(wl_listener *listener, void *data)
{
    auto *resource = static_cast<wl_resource *>(data);
    Adopted *entry = adopted.take(resource);
    if (entry)
        resource->object.implementation = entry->qtImplementation;
    wl_list_remove(&listener->link);
    delete entry;
}

bool isClass(wl_resource *resource, const char *name)
{
    return std::strcmp(wl_resource_get_class(resource), name) == 0;
}

// The protocol's errors about popups belong to the client's xdg_wm_base.
wl_resource *wmBaseOf(wl_client *client)
{
    wl_resource *found = nullptr;
    wl_client_for_each_resource(
        client,
        [](wl_resource *resource, void *data) {
            if (!isClass(resource, "xdg_wm_base"))
                return WL_ITERATOR_CONTINUE;
            *static_cast<wl_resource **>(data) = resource;
            return WL_ITERATOR_STOP;
        },
        &found);
    return found;
}

void destroy(wl_client *client, wl_resource *resource)
{
    Adopted *entry = adopted.value(resource);
    if (entry && entry->handlers.destroying && !entry->handlers.destroying()) {
        wl_resource *wmBase = wmBaseOf(client);
        wl_resource_post_error(wmBase ? wmBase : resource, XDG_WM_BASE_ERROR_NOT_THE_TOPMOST_POPUP,
                               "a popup was destroyed before the popups above it");
        return;
    }
    wl_resource_destroy(resource);
}

void grab(wl_client *, wl_resource *resource, wl_resource *, uint32_t)
{
    Adopted *entry = adopted.value(resource);
    if (entry && entry->handlers.grab)
        entry->handlers.grab();
}

// reposition (version 3) cannot arrive: Qt offers xdg_wm_base version 1.
void reposition(wl_client *, wl_resource *, wl_resource *, uint32_t) { }

const struct
{
    void (*destroy)(wl_client *, wl_resource *);
    void (*grab)(wl_client *, wl_resource *, wl_resource *, uint32_t);
    void (*reposition)(wl_client *, wl_resource *, wl_resource *, uint32_t);
} implementation = { destroy, grab, reposition };

} // namespace

wl_resource *adoptNewPopup(wl_client *client, Handlers handlers)
{
    if (!client)
        return nullptr;
    // Qt's new popup is the one xdg_popup of the client not adopted yet.
    wl_resource *found = nullptr;
    wl_client_for_each_resource(
        client,
        [](wl_resource *resource, void *data) {
            if (!isClass(resource, "xdg_popup") || adopted.contains(resource))
                return WL_ITERATOR_CONTINUE;
            *static_cast<wl_resource **>(data) = resource;
            return WL_ITERATOR_STOP;
        },
        &found);
    if (!found)
        return nullptr;
    auto *entry = new Adopted { std::move(handlers), found->object.implementation, {} };
    entry->destroyed.notify = resourceDestroyed;
    wl_resource_add_destroy_listener(found, &entry->destroyed);
    adopted.insert(found, entry);
    found->object.implementation = &implementation;
    return found;
}

} // namespace Vorlane::PopupRequests
