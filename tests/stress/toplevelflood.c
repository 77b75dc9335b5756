// A client that floods the compositor with top-level surfaces: it connects through
// $WAYLAND_DISPLAY, creates N xdg top-levels (each committed once, without a buffer), waits until
// the compositor has handled all of them, prints "created N" and then keeps reading events
// until it is killed. With --ack it acknowledges every configure it receives.
//
//   vorlane_toplevelflood N [--ack]

#include "clientcommon.h"

#include <errno.h>
#include <poll.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client.h>

static bool ack_configures;

static void xdg_surface_configure(void *data, struct xdg_surface *xdg_surface, uint32_t serial)
{
    struct wl_surface *surface = data;
    if (ack_configures) {
        xdg_surface_ack_configure(xdg_surface, serial);
        wl_surface_commit(surface);
    }
}

static const struct xdg_surface_listener xdg_surface_listener = { xdg_surface_configure };

// Sends everything queued, waiting while the socket is full; reads events meanwhile so that
// the compositor's side of the connection never fills up either.
static bool flush_all(struct wl_display *display)
{
    while (wl_display_flush(display) < 0) {
        if (errno != EAGAIN)
            return false;
        struct pollfd fd = { wl_display_get_fd(display), POLLOUT | POLLIN, 0 };
        if (poll(&fd, 1, -1) < 0 && errno != EINTR)
            return false;
        if ((fd.revents & POLLIN) && wl_display_dispatch(display) < 0)
            return false;
    }
    return true;
}

int main(int argc, char **argv)
{
    const long count = argc > 1 ? strtol(argv[1], NULL, 10) : 0;
    if (count <= 0) {
        fprintf(stderr, "usage: %s N [--ack]\n", argv[0]);
        return 2;
    }
    ack_configures = argc > 2 && strcmp(argv[2], "--ack") == 0;

    struct wl_display *display = connect_display();
    if (!display || !bind_globals(display, &common_registry_listener, false))
        return 1;

    for (long i = 0; i < count; ++i) {
        struct wl_surface *surface = wl_compositor_create_surface(compositor);
        struct xdg_surface *xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, surface);
        xdg_surface_add_listener(xdg_surface, &xdg_surface_listener, surface);
        struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(xdg_surface);
        xdg_toplevel_set_title(toplevel, "flood");
        wl_surface_commit(surface);
        if (i % 64 == 63 && (!flush_all(display) || wl_display_dispatch_pending(display) < 0))
            return 1;
    }
    if (!flush_all(display) || wl_display_roundtrip(display) < 0)
        return 1;
    printf("created %ld\n", count);
    fflush(stdout);

    while (wl_display_dispatch(display) >= 0) { }
    fprintf(stderr, "disconnected: %s\n", strerror(wl_display_get_error(display)));
    return 1;
}
