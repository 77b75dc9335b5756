// A hostile client: it shows a buffer from a file-backed shm pool, then truncates the file to
// nothing and commits the buffer again, so that the compositor's next read of the buffer faults.
//
// With --no-commit it commits nothing after the truncation: the compositor faults only when it
// draws the picture it already has again.
//
// Output lines: "committed", "truncated", then "disconnected" (with the protocol error, if any,
// on standard error) once the compositor has closed the connection. Exits 0 then.

#define _GNU_SOURCE
#include "clientcommon.h"

#include <errno.h>
#include <poll.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#define FALLBACK_SIZE 64
// How long to wait for a configure with a size, and for the first frame to be drawn, before
// going on anyway.
#define SIZE_WAIT_MS 3000
#define FRAME_WAIT_MS 5000

static int32_t configured_width;
static int32_t configured_height;
static bool configured;
static bool sized;
static bool frame_done;

static void say(const char *line)
{
    printf("%s\n", line);
    fflush(stdout);
}

static void frame_callback_done(void *data, struct wl_callback *callback, uint32_t time)
{
    (void)data;
    (void)time;
    wl_callback_destroy(callback);
    frame_done = true;
}

static const struct wl_callback_listener frame_listener = { frame_callback_done };

static void xdg_surface_configure(void *data, struct xdg_surface *xdg_surface, uint32_t serial)
{
    (void)data;
    xdg_surface_ack_configure(xdg_surface, serial);
    configured = true;
}

static const struct xdg_surface_listener xdg_surface_listener = { xdg_surface_configure };

static void toplevel_configure(void *data, struct xdg_toplevel *toplevel, int32_t width,
                               int32_t height, struct wl_array *states)
{
    (void)data;
    (void)toplevel;
    (void)states;
    configured_width = width;
    configured_height = height;
    sized = width > 0 && height > 0;
}

static void toplevel_close(void *data, struct xdg_toplevel *toplevel)
{
    (void)data;
    (void)toplevel;
}

static const struct xdg_toplevel_listener toplevel_listener = {
    .configure = toplevel_configure,
    .close = toplevel_close,
};

// Dispatches until *flag is set or the connection ends; with a timeout (ms, -1 for none) it
// also returns when nothing arrives for that long. False when the connection ended.
static bool dispatch_until(struct wl_display *display, const bool *flag, int timeout)
{
    while (!flag || !*flag) {
        while (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0)
                return false;
        }
        if (flag && *flag) {
            wl_display_cancel_read(display);
            break;
        }
        // A closed connection may still hold the compositor's last words: read them first.
        if (wl_display_flush(display) < 0 && errno != EAGAIN && errno != EPIPE) {
            wl_display_cancel_read(display);
            return false;
        }
        struct pollfd fd = { wl_display_get_fd(display), POLLIN, 0 };
        const int ready = poll(&fd, 1, timeout);
        if (ready <= 0) {
            wl_display_cancel_read(display);
            if (ready < 0 && errno == EINTR)
                continue;
            return ready == 0;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            return false;
    }
    return true;
}

static void report_end(struct wl_display *display)
{
    say("disconnected");
    const int error = wl_display_get_error(display);
    if (error == EPROTO) {
        const struct wl_interface *interface = NULL;
        uint32_t id = 0;
        const uint32_t code = wl_display_get_protocol_error(display, &interface, &id);
        fprintf(stderr, "protocol error %u on %s@%u\n", code,
                interface ? interface->name : "unknown", id);
    } else if (error) {
        fprintf(stderr, "connection error: %s\n", strerror(error));
    }
}

int main(int argc, char **argv)
{
    const bool commit_again = !(argc > 1 && strcmp(argv[1], "--no-commit") == 0);
    struct wl_display *display = connect_display();
    if (!display || !bind_globals(display, &common_registry_listener, true))
        return 1;

    struct wl_surface *surface = wl_compositor_create_surface(compositor);
    struct xdg_surface *xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, surface);
    xdg_surface_add_listener(xdg_surface, &xdg_surface_listener, NULL);
    struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(xdg_surface);
    xdg_toplevel_add_listener(toplevel, &toplevel_listener, NULL);
    xdg_toplevel_set_title(toplevel, "vorlane-truncatepool");
    wl_surface_commit(surface);
    // The first configure leaves the size to the client; the placed one follows.
    if (!dispatch_until(display, &configured, -1)
        || !dispatch_until(display, &sized, SIZE_WAIT_MS)) {
        report_end(display);
        return 0;
    }

    const int width = configured_width > 0 ? configured_width : FALLBACK_SIZE;
    const int height = configured_height > 0 ? configured_height : FALLBACK_SIZE;
    const int stride = width * 4;
    const size_t size = (size_t)stride * (size_t)height;
    const int fd = memfd_create("vorlane-truncatepool", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, (off_t)size) < 0) {
        perror("memfd");
        return 1;
    }
    uint32_t *pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    for (size_t i = 0; i < size / 4; ++i)
        pixels[i] = 0xff00ff00;
    munmap(pixels, size);

    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, (int32_t)size);
    struct wl_buffer *buffer
        = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, width, height);
    struct wl_callback *frame = wl_surface_frame(surface);
    wl_callback_add_listener(frame, &frame_listener, NULL);
    wl_surface_commit(surface);
    wl_display_flush(display);
    say("committed");

    // Let the compositor draw the buffer once, as a client that worked until now would have.
    if (!dispatch_until(display, &frame_done, FRAME_WAIT_MS)) {
        report_end(display);
        return 0;
    }

    if (ftruncate(fd, 0) < 0) {
        perror("ftruncate");
        return 1;
    }
    if (commit_again) {
        // The next frame of the same buffer, as clients that draw in place send it.
        wl_surface_attach(surface, buffer, 0, 0);
        wl_surface_damage(surface, 0, 0, width, height);
        wl_surface_commit(surface);
        wl_display_flush(display);
    }
    say("truncated");

    dispatch_until(display, NULL, -1);
    report_end(display);
    return 0;
}
