// A libwayland client that uses zwp_text_input_v3 the way careless or hostile clients do:
// enable and commit without focus, commit without enable, surrounding text near the size
// limit with positions outside it or inside a character, and the text input or the surface
// destroyed while text input is enabled. It prints one line per step ("step NAME") after the
// compositor has answered it, and "events" with what it received.
//
// usage: vorlane_textinputprobe            the careless steps, then it ends
//        vorlane_textinputprobe --idle     a surface that never wants text; runs until killed
//        vorlane_textinputprobe --capable  the same, with a text-input object that it never
//                                          enables
//        vorlane_textinputprobe --dialog   a window with a green 300 x 150 dialog that wants
//                                          text; runs until killed
//        vorlane_textinputprobe --once     text input enabled for a second, then disabled, and
//                                          again; runs until killed (for the bench)

#define _GNU_SOURCE
#include "clientcommon.h"
#include "text-input-unstable-v3-client-protocol.h"

#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

static struct wl_seat *seat;
static struct zwp_text_input_manager_v3 *manager;
static int entered;
static int left;
static struct wl_surface *focused;
static int done_events;

static void registry_global(void *data, struct wl_registry *registry, uint32_t name,
                            const char *interface, uint32_t version)
{
    (void)data;
    (void)version;
    if (bind_common_global(registry, name, interface))
        return;
    if (strcmp(interface, wl_seat_interface.name) == 0)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, zwp_text_input_manager_v3_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwp_text_input_manager_v3_interface, 1);
}

static const struct wl_registry_listener registry_listener
    = { registry_global, registry_global_remove };

static void ti_enter(void *data, struct zwp_text_input_v3 *ti, struct wl_surface *surface)
{
    (void)data;
    (void)ti;
    focused = surface;
    ++entered;
}
static void ti_leave(void *data, struct zwp_text_input_v3 *ti, struct wl_surface *surface)
{
    (void)data;
    (void)ti;
    if (focused == surface)
        focused = NULL;
    ++left;
}
static void ti_preedit(void *data, struct zwp_text_input_v3 *ti, const char *text, int32_t begin,
                       int32_t end)
{
    (void)data;
    (void)ti;
    (void)text;
    (void)begin;
    (void)end;
}
static void ti_commit(void *data, struct zwp_text_input_v3 *ti, const char *text)
{
    (void)data;
    (void)ti;
    (void)text;
}
static void ti_delete(void *data, struct zwp_text_input_v3 *ti, uint32_t before, uint32_t after)
{
    (void)data;
    (void)ti;
    (void)before;
    (void)after;
}
static void ti_done(void *data, struct zwp_text_input_v3 *ti, uint32_t serial)
{
    (void)data;
    (void)ti;
    (void)serial;
    ++done_events;
}
static const struct zwp_text_input_v3_listener ti_listener
    = { ti_enter, ti_leave, ti_preedit, ti_commit, ti_delete, ti_done };

static struct wl_display *display;

static void step(const char *name)
{
    if (wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "connection lost at %s\n", name);
        exit(1);
    }
    printf("step %s\n", name);
    fflush(stdout);
}

// Long enough for the compositor to hide its keyboard.
static void settle(void)
{
    wl_display_roundtrip(display);
    usleep(500000);
}

static struct zwp_text_input_v3 *new_text_input(void)
{
    struct zwp_text_input_v3 *ti = zwp_text_input_manager_v3_get_text_input(manager, seat);
    zwp_text_input_v3_add_listener(ti, &ti_listener, NULL);
    return ti;
}

static void xdg_configure(void *data, struct xdg_surface *surface, uint32_t serial)
{
    (void)data;
    xdg_surface_ack_configure(surface, serial);
}
static const struct xdg_surface_listener xdg_listener = { xdg_configure };

// A toplevel with a buffer of the given size and colour (ARGB), a dialog of parent if that is
// not null.
static struct wl_surface *coloured_surface(struct xdg_surface **xs, struct xdg_toplevel **tl,
                                           struct xdg_toplevel *parent, int width, int height,
                                           uint32_t colour)
{
    struct wl_surface *surface = wl_compositor_create_surface(compositor);
    *xs = xdg_wm_base_get_xdg_surface(wm_base, surface);
    xdg_surface_add_listener(*xs, &xdg_listener, NULL);
    *tl = xdg_surface_get_toplevel(*xs);
    if (parent)
        xdg_toplevel_set_parent(*tl, parent);
    wl_surface_commit(surface);
    wl_display_roundtrip(display);
    const int size = width * height * 4;
    const int fd = memfd_create("textinputprobe", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) < 0)
        exit(1);
    uint32_t *pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED)
        exit(1);
    for (int i = 0; i < width * height; ++i)
        pixels[i] = colour;
    munmap(pixels, size);
    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, size);
    close(fd);
    wl_surface_attach(surface, wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, 0), 0,
                      0);
    wl_shm_pool_destroy(pool);
    wl_surface_commit(surface);
    return surface;
}

// A toplevel with a black 64 x 64 buffer.
static struct wl_surface *shown_surface(struct xdg_surface **xs, struct xdg_toplevel **tl)
{
    return coloured_surface(xs, tl, NULL, 64, 64, 0xff000000u);
}

static bool has_entered(int count, struct wl_surface *surface)
{
    return entered >= count && (!surface || focused == surface);
}

// Waits up to 30 s for the keyboard focus, told by text input enter events: count of them, and
// on surface when that is not null.
static void wait_for_enter_on(int count, struct wl_surface *surface)
{
    const time_t until = time(NULL) + 30;
    while (!has_entered(count, surface) && time(NULL) < until) {
        wl_display_roundtrip(display);
        usleep(20000);
    }
    if (!has_entered(count, surface)) {
        fprintf(stderr, "no enter event\n");
        exit(1);
    }
}

static void wait_for_enter(int count)
{
    wait_for_enter_on(count, NULL);
}

static void enable(struct zwp_text_input_v3 *ti)
{
    zwp_text_input_v3_enable(ti);
    zwp_text_input_v3_set_content_type(ti, ZWP_TEXT_INPUT_V3_CONTENT_HINT_SENSITIVE_DATA,
                                       ZWP_TEXT_INPUT_V3_CONTENT_PURPOSE_PASSWORD);
    zwp_text_input_v3_commit(ti);
}

// A surface that has the keyboard, with text input enabled for a second when once is true;
// then it answers the compositor until it is killed.
static int hold(bool once, bool capable)
{
    // Without the keyboard there is no text input to tell about the focus.
    struct zwp_text_input_v3 *ti = manager && capable ? new_text_input() : NULL;
    struct xdg_surface *xs;
    struct xdg_toplevel *tl;
    shown_surface(&xs, &tl);
    if (ti)
        wait_for_enter(1);
    step("ready");
    // Twice: the first time the compositor builds its panel.
    for (int i = 0; once && i < 2; ++i) {
        enable(ti);
        step("enabled");
        sleep(1);
        zwp_text_input_v3_disable(ti);
        zwp_text_input_v3_commit(ti);
        step("disabled");
        sleep(1);
    }
    while (wl_display_dispatch(display) >= 0) { }
    return 0;
}

// A window with a green 300 x 150 dialog that wants text as soon as it has the keyboard; then
// it answers the compositor until it is killed.
static int dialog(void)
{
    struct xdg_surface *xs, *dialog_xs;
    struct xdg_toplevel *tl, *dialog_tl;
    shown_surface(&xs, &tl);
    struct zwp_text_input_v3 *ti = new_text_input();
    struct wl_surface *dialog_surface
        = coloured_surface(&dialog_xs, &dialog_tl, tl, 300, 150, 0xff00ff00u);
    // The window may have the focus first; text input enabled there would end with its leave.
    wait_for_enter_on(1, dialog_surface);
    enable(ti);
    step("enabled");
    while (wl_display_dispatch(display) >= 0) { }
    return 0;
}

int main(int argc, char **argv)
{
    display = connect_display();
    if (!display || !bind_globals(display, &registry_listener, true))
        return 1;
    const bool once = argc > 1 && strcmp(argv[1], "--once") == 0;
    const bool with_dialog = argc > 1 && strcmp(argv[1], "--dialog") == 0;
    if (!seat || (!manager && (once || with_dialog || argc == 1))) {
        fprintf(stderr, "no seat or no zwp_text_input_manager_v3\n");
        return 1;
    }
    if (with_dialog)
        return dialog();
    if (argc > 1)
        return hold(once, strcmp(argv[1], "--idle") != 0);

    // Without any surface of this client having the keyboard focus.
    struct zwp_text_input_v3 *early = new_text_input();
    zwp_text_input_v3_commit(early);
    step("commit-without-enable");
    enable(early);
    step("enable-without-focus");

    struct xdg_surface *xs;
    struct xdg_toplevel *tl;
    struct wl_surface *surface = shown_surface(&xs, &tl);
    wait_for_enter(1);

    // Close to the limit of a Wayland message: 3,998 bytes of two-byte characters and a
    // cursor inside one of them, the anchor far beyond the end.
    char *text = malloc(4000);
    for (int i = 0; i < 3998; i += 2) {
        text[i] = (char)0xc3;
        text[i + 1] = (char)0xa4;
    }
    text[3998] = 'a';
    text[3999] = '\0';
    zwp_text_input_v3_enable(early);
    zwp_text_input_v3_set_surrounding_text(early, text, 1001, 100000);
    zwp_text_input_v3_set_cursor_rectangle(early, -5, -5, -1, 100000);
    zwp_text_input_v3_commit(early);
    free(text);
    step("enabled-long-text");

    zwp_text_input_v3_destroy(early);
    settle();
    step("text-input-destroyed");

    struct zwp_text_input_v3 *second = new_text_input();
    wait_for_enter(2);
    enable(second);
    step("enabled-again");

    xdg_toplevel_destroy(tl);
    xdg_surface_destroy(xs);
    wl_surface_destroy(surface);
    settle();
    step("surface-destroyed");

    // The text input outlives its surface.
    enable(second);
    zwp_text_input_v3_disable(second);
    zwp_text_input_v3_commit(second);
    step("used-after-surface");

    printf("events entered %d left %d done %d\n", entered, left, done_events);
    zwp_text_input_v3_destroy(second);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
