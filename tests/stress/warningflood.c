// A hostile client: it sends, a thousand times each, the requests that make a compositor warn
// without ending the connection: damage and damage_buffer in one commit, a maximum size below
// the minimum, and a popup that asks for a grab and is destroyed.
//
// Output lines: "flooded" once every request has been handled; then, for each "again" read
// from standard input, one more of each and "again".

#define _GNU_SOURCE
#include "clientcommon.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <wayland-client.h>

#define COUNT 1000

static struct wl_compositor *compositor4;
static struct wl_seat *seat;
static struct wl_surface *surface;
static struct xdg_surface *xdg_surface;
static struct xdg_toplevel *toplevel;

static void registry_global(void *data, struct wl_registry *registry, uint32_t name,
                            const char *interface, uint32_t version)
{
    (void)data;
    // damage_buffer needs version 4 of wl_compositor.
    if (strcmp(interface, wl_compositor_interface.name) == 0 && version >= 4)
        compositor4 = wl_registry_bind(registry, name, &wl_compositor_interface, 4);
    if (bind_common_global(registry, name, interface))
        return;
    if (strcmp(interface, wl_seat_interface.name) == 0)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
}

static const struct wl_registry_listener registry_listener
    = { registry_global, registry_global_remove };

static void surface_configure(void *data, struct xdg_surface *surface_, uint32_t serial)
{
    (void)data;
    xdg_surface_ack_configure(surface_, serial);
}

static const struct xdg_surface_listener surface_listener = { surface_configure };

static void popup_configure(void *data, struct xdg_popup *popup, int32_t x, int32_t y,
                            int32_t width, int32_t height)
{
    (void)data, (void)popup, (void)x, (void)y, (void)width, (void)height;
}

static void popup_done(void *data, struct xdg_popup *popup)
{
    (void)data, (void)popup;
}

static const struct xdg_popup_listener popup_listener
    = { .configure = popup_configure, .popup_done = popup_done };

static void warn_once(void)
{
    wl_surface_damage(surface, 0, 0, 1, 1);
    wl_surface_damage_buffer(surface, 0, 0, 1, 1);
    wl_surface_commit(surface);

    xdg_toplevel_set_min_size(toplevel, 200, 200);
    xdg_toplevel_set_max_size(toplevel, 100, 100);
    wl_surface_commit(surface);
    xdg_toplevel_set_min_size(toplevel, 0, 0);
    xdg_toplevel_set_max_size(toplevel, 0, 0);
    wl_surface_commit(surface);

    struct xdg_positioner *positioner = xdg_wm_base_create_positioner(wm_base);
    xdg_positioner_set_size(positioner, 10, 10);
    xdg_positioner_set_anchor_rect(positioner, 0, 0, 1, 1);
    struct wl_surface *popup_surface = wl_compositor_create_surface(compositor4);
    struct xdg_surface *popup_xdg = xdg_wm_base_get_xdg_surface(wm_base, popup_surface);
    struct xdg_popup *popup = xdg_surface_get_popup(popup_xdg, xdg_surface, positioner);
    xdg_popup_add_listener(popup, &popup_listener, NULL);
    xdg_surface_add_listener(popup_xdg, &surface_listener, NULL);
    if (seat)
        xdg_popup_grab(popup, seat, 0);
    wl_surface_commit(popup_surface);
    xdg_popup_destroy(popup);
    xdg_surface_destroy(popup_xdg);
    wl_surface_destroy(popup_surface);
    xdg_positioner_destroy(positioner);
}

int main(void)
{
    struct wl_display *display = connect_display();
    if (!display || !bind_globals(display, &registry_listener, false))
        return 1;
    if (!compositor4) {
        fprintf(stderr, "wl_compositor version 4 is missing\n");
        return 1;
    }
    surface = wl_compositor_create_surface(compositor4);
    xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, surface);
    xdg_surface_add_listener(xdg_surface, &surface_listener, NULL);
    toplevel = xdg_surface_get_toplevel(xdg_surface);
    xdg_toplevel_set_title(toplevel, "warning flood");
    wl_surface_commit(surface);
    if (wl_display_roundtrip(display) < 0)
        return 1;

    for (int i = 0; i < COUNT; ++i) {
        warn_once();
        // Now and then, so that neither side's buffer fills.
        if (i % 50 == 49 && wl_display_roundtrip(display) < 0)
            return 1;
    }
    if (wl_display_roundtrip(display) < 0)
        return 1;
    printf("flooded\n");
    fflush(stdout);

    char line[64];
    while (fgets(line, sizeof(line), stdin)) {
        if (strncmp(line, "again", 5) != 0)
            continue;
        warn_once();
        if (wl_display_roundtrip(display) < 0)
            return 1;
        printf("again\n");
        fflush(stdout);
    }
    wl_display_disconnect(display);
    return 0;
}
