#pragma once

// The globals and the start-up that the probe and the hostile clients share. Each of them is a
// single source file, so that the state below is its own.

#include "xdg-shell-client-protocol.h"

#include <stdbool.h>
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm_base;

static inline void wm_base_ping(void *data, struct xdg_wm_base *base, uint32_t serial)
{
    (void)data;
    xdg_wm_base_pong(base, serial);
}

static const struct xdg_wm_base_listener wm_base_listener = { wm_base_ping };

// Binds wl_compositor, wl_shm and xdg_wm_base (answering its pings); false for any other
// interface.
static inline bool bind_common_global(struct wl_registry *registry, uint32_t name,
                                      const char *interface)
{
    if (strcmp(interface, wl_compositor_interface.name) == 0) {
        compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 1);
    } else if (strcmp(interface, wl_shm_interface.name) == 0) {
        shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    } else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
    } else {
        return false;
    }
    return true;
}

static inline void common_registry_global(void *data, struct wl_registry *registry, uint32_t name,
                                          const char *interface, uint32_t version)
{
    (void)data;
    (void)version;
    bind_common_global(registry, name, interface);
}

static inline void registry_global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener common_registry_listener
    = { common_registry_global, registry_global_remove };

// The connection to $WAYLAND_DISPLAY, or NULL with a message.
static inline struct wl_display *connect_display(void)
{
    struct wl_display *display = wl_display_connect(NULL);
    if (!display)
        fprintf(stderr, "cannot connect to the Wayland display\n");
    return display;
}

// Binds the globals through listener; false, with a message, when the connection fails or one
// of the common globals (wl_shm only if need_shm) is missing.
static inline bool bind_globals(struct wl_display *display,
                                const struct wl_registry_listener *listener, bool need_shm)
{
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, listener, NULL);
    if (wl_display_roundtrip(display) < 0 || !compositor || !wm_base || (need_shm && !shm)) {
        fprintf(stderr, "missing globals\n");
        return false;
    }
    return true;
}
