// A minimal xdg-shell client for end-to-end tests. It creates one or more top-level surfaces,
// prints every configure it receives (one line each, flushed), acknowledges it and commits an
// shm buffer of the configured size (or of the size given with --buffer) filled with one colour.
//
// Output lines:
//   connected
//   roundtrip (with --timestamps: the registry and the first sync have been answered)
//   configure <toplevel> <width> <height> <state,state,...|->
//   committed <toplevel> <width> <height>
//   close <toplevel>
//   destroyed <toplevel>
// With --animate also, once a second from the first commit of a buffer on:
//   frames <callbacks>
// the frame callbacks of top-level 0 in that second; it commits its buffer again on each one,
// as an animating client does.
// With --input also:
//   keyboard-enter <toplevel>, keyboard-leave <toplevel>, key <keycode> <pressed|released>
//   button <toplevel> <x> <y> <pressed|released> (surface-local position of the pointer)
//   touch <toplevel> <x> <y> (surface-local position of a touch point going down)
// With --keyboards N, the keyboard lines of the further keyboards end with " #<keyboard>".
//
// Commands read from standard input, one per line: "destroy <toplevel>", "quit",
// "create <parent>" (one more top-level, the next index, with that parent or -1 for none),
// "parent <toplevel> <parent>" (set_parent, -1 for none), and
// "request <name> <toplevel>" with a window request name as for --request, answered with
// "requested <name> <toplevel>" once the compositor has handled it, and "keyboard", which
// binds the seat once more and creates one more keyboard on it.
//
// Popups (xdg_popup), numbered from 0 in the order they are made:
//   "popup <parent> <x> <y> <width> <height> <adjust> [grab]": a popup of toplevel <parent>
//   (or of popup N when written "pN"), anchored to the point x,y of its parent's window,
//   growing right and down, with the positioner's constraint_adjustment bits <adjust>; its
//   buffer is committed at each configured size. Reported: "popup-configure <n> <x> <y> <w> <h>",
//   and "popup-done <n>".
//   "remap <n> <x> <y>": unmaps popup n and maps it again at x, y of its parent with the same
//   wl_surface (reported "remapped <n>").
//   "unpopup <n>": destroys popup n (reported "popup-destroyed <n>").
//   "popups <count>": opens and closes count popups of toplevel 0, one after the other, each
//   drawn once; then "popups-done <count>".
// When the compositor ends the connection with a protocol error: "protocol-error <interface>
// <code>".

#define _GNU_SOURCE
#include "clientcommon.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#define MAX_TOPLEVELS 16
#define MAX_POPUPS 16
#define FALLBACK_SIZE 64

struct toplevel
{
    int index;
    struct wl_surface *surface;
    struct xdg_surface *xdg_surface;
    struct xdg_toplevel *xdg_toplevel;
    int32_t pending_width;
    int32_t pending_height;
    bool alive;
};

struct popup
{
    int index;
    struct wl_surface *surface;
    struct xdg_surface *xdg_surface;
    struct xdg_popup *xdg_popup;
    struct xdg_surface *parent;
    int32_t width;
    int32_t height;
    bool alive;
};

static struct popup popups[MAX_POPUPS];
static int popup_count;
// Set by the configure of the flood's current popup.
static bool flood_configured;

static struct wl_seat *seat;
static struct wl_registry *seat_registry;
static uint32_t seat_name;
// --keyboards N: like Firefox, the probe binds the seat once per keyboard. Keyboard 0 comes
// with the seat's capabilities, the others right after the globals.
static int keyboard_count = 1;
static intptr_t keyboards_made = 1;
// --input: the seat's keyboard and pointer events are reported.
static bool input;
static uint32_t input_serial;
static struct toplevel *pointer_focus;
static double pointer_x, pointer_y;
// --buffer WxH: buffers keep this size whatever the compositor configures.
static int fixed_width, fixed_height;
static struct toplevel toplevels[MAX_TOPLEVELS];
static uint32_t colour = 0xffff0000;
// --popup-color RRGGBB: the colour of popups.
static uint32_t popup_colour = 0xff00ff00;
static bool commit_buffers = true;
static FILE *log_file;
// --timestamps: every line starts with "@<microseconds of CLOCK_MONOTONIC> ", and the initial
// commit of each top-level is reported too, so that latencies can be measured without the
// delay of the pipe that carries the lines.
static bool timestamps;
// --fork-after-map: once the first top-level has committed a buffer of a configured size, the
// probe forks; the parent reports "forked <child pid>" and ends, the child keeps the
// connection. The compositor then holds a process id whose process has ended.
static bool fork_after_map;
static struct wl_display *the_display;
// --animate: top-level 0 redraws on every frame callback; the callbacks are counted per second.
static bool animate;
static struct wl_buffer *animation_buffer;
static int animation_width, animation_height;
static struct wl_callback *frame_callback;
static int frame_count;
static long long frame_second_start_us = -1;

static long long monotonic_us(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

static void report(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void report(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char line[512];
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (timestamps)
        printf("@%lld ", monotonic_us());
    printf("%s\n", line);
    fflush(stdout);
    if (log_file) {
        fprintf(log_file, "%s\n", line);
        fflush(log_file);
    }
}

static void buffer_release(void *data, struct wl_buffer *buffer)
{
    (void)data;
    wl_buffer_destroy(buffer);
}

static const struct wl_buffer_listener buffer_listener = { buffer_release };

// A buffer filled with one colour; released_once: destroyed when the compositor releases it.
static struct wl_buffer *create_buffer_of(int width, int height, uint32_t fill, bool released_once)
{
    const int stride = width * 4;
    const size_t size = (size_t)stride * (size_t)height;
    int fd = memfd_create("vorlane-probe", MFD_CLOEXEC);
    if (fd < 0)
        return NULL;
    if (ftruncate(fd, (off_t)size) < 0) {
        close(fd);
        return NULL;
    }
    uint32_t *pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        close(fd);
        return NULL;
    }
    for (size_t i = 0; i < size / 4; ++i)
        pixels[i] = fill;
    munmap(pixels, size);

    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, (int32_t)size);
    struct wl_buffer *buffer
        = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    if (released_once)
        wl_buffer_add_listener(buffer, &buffer_listener, NULL);
    return buffer;
}

static struct wl_buffer *create_buffer(int width, int height)
{
    return create_buffer_of(width, height, colour, true);
}

static void request_frame(struct toplevel *t, int width, int height);

static void frame_done(void *data, struct wl_callback *callback, uint32_t time)
{
    (void)time;
    struct toplevel *t = data;
    wl_callback_destroy(callback);
    frame_callback = NULL;
    ++frame_count;
    if (!t->alive)
        return;
    if (!animation_buffer) {
        animation_buffer = create_buffer_of(animation_width, animation_height, colour, false);
        if (!animation_buffer)
            return;
    }
    wl_surface_attach(t->surface, animation_buffer, 0, 0);
    wl_surface_damage(t->surface, 0, 0, animation_width, animation_height);
    request_frame(t, animation_width, animation_height);
    wl_surface_commit(t->surface);
}

static const struct wl_callback_listener frame_listener = { frame_done };

// Asks for the next frame callback of t, whose buffers are now of this size; one at a time, also
// when a configure commits between two frames.
static void request_frame(struct toplevel *t, int width, int height)
{
    if (width != animation_width || height != animation_height) {
        if (animation_buffer)
            wl_buffer_destroy(animation_buffer);
        animation_buffer = NULL;
        animation_width = width;
        animation_height = height;
    }
    if (frame_second_start_us < 0)
        frame_second_start_us = monotonic_us();
    if (frame_callback)
        return;
    frame_callback = wl_surface_frame(t->surface);
    wl_callback_add_listener(frame_callback, &frame_listener, t);
}

static void xdg_surface_configure(void *data, struct xdg_surface *xdg_surface, uint32_t serial)
{
    struct toplevel *t = data;
    xdg_surface_ack_configure(xdg_surface, serial);
    if (!commit_buffers)
        return;
    // A zero size leaves the choice to the client.
    int width = t->pending_width > 0 ? t->pending_width : FALLBACK_SIZE;
    int height = t->pending_height > 0 ? t->pending_height : FALLBACK_SIZE;
    if (fixed_width > 0) {
        width = fixed_width;
        height = fixed_height;
    }
    struct wl_buffer *buffer = create_buffer(width, height);
    if (!buffer) {
        report("error buffer %d", t->index);
        return;
    }
    wl_surface_attach(t->surface, buffer, 0, 0);
    wl_surface_damage(t->surface, 0, 0, width, height);
    if (animate && t->index == 0)
        request_frame(t, width, height);
    wl_surface_commit(t->surface);
    report("committed %d %d %d", t->index, width, height);
    if (fork_after_map && t->pending_width > 0 && t->pending_height > 0) {
        fork_after_map = false;
        wl_display_flush(the_display);
        const pid_t child = fork();
        if (child > 0) {
            report("forked %d", (int)child);
            _exit(0);
        }
        // Whoever read the parent's output may close it: the child must outlive that.
        signal(SIGPIPE, SIG_IGN);
    }
}

static const struct xdg_surface_listener xdg_surface_listener = { xdg_surface_configure };

static void toplevel_configure(void *data, struct xdg_toplevel *xdg_toplevel, int32_t width,
                               int32_t height, struct wl_array *states)
{
    (void)xdg_toplevel;
    struct toplevel *t = data;
    t->pending_width = width;
    t->pending_height = height;

    char names[256] = "";
    uint32_t *state;
    wl_array_for_each(state, states)
    {
        const char *name = "other";
        switch (*state) {
        case XDG_TOPLEVEL_STATE_MAXIMIZED:
            name = "maximized";
            break;
        case XDG_TOPLEVEL_STATE_FULLSCREEN:
            name = "fullscreen";
            break;
        case XDG_TOPLEVEL_STATE_RESIZING:
            name = "resizing";
            break;
        case XDG_TOPLEVEL_STATE_ACTIVATED:
            name = "activated";
            break;
        default:
            break;
        }
        if (names[0])
            strncat(names, ",", sizeof(names) - strlen(names) - 1);
        strncat(names, name, sizeof(names) - strlen(names) - 1);
    }
    report("configure %d %d %d %s", t->index, width, height, names[0] ? names : "-");
}

static void toplevel_close(void *data, struct xdg_toplevel *xdg_toplevel)
{
    (void)xdg_toplevel;
    struct toplevel *t = data;
    report("close %d", t->index);
}

static const struct xdg_toplevel_listener toplevel_listener = {
    .configure = toplevel_configure,
    .close = toplevel_close,
};

static struct toplevel *toplevel_of(struct wl_surface *surface)
{
    for (int i = 0; i < MAX_TOPLEVELS; ++i) {
        if (toplevels[i].alive && toplevels[i].surface == surface)
            return &toplevels[i];
    }
    return NULL;
}

static void keyboard_keymap(void *data, struct wl_keyboard *keyboard, uint32_t format, int32_t fd,
                            uint32_t size)
{
    (void)data;
    (void)keyboard;
    (void)format;
    (void)size;
    close(fd);
}

// " #<keyboard>" for every keyboard but the first.
static const char *keyboard_suffix(void *data)
{
    static char suffix[16];
    suffix[0] = '\0';
    if (data)
        snprintf(suffix, sizeof(suffix), " #%d", (int)(intptr_t)data);
    return suffix;
}

static void keyboard_enter(void *data, struct wl_keyboard *keyboard, uint32_t serial,
                           struct wl_surface *surface, struct wl_array *keys)
{
    (void)keyboard;
    (void)keys;
    input_serial = serial;
    const struct toplevel *t = toplevel_of(surface);
    report("keyboard-enter %d%s", t ? t->index : -1, keyboard_suffix(data));
}

static void keyboard_leave(void *data, struct wl_keyboard *keyboard, uint32_t serial,
                           struct wl_surface *surface)
{
    (void)keyboard;
    (void)serial;
    const struct toplevel *t = toplevel_of(surface);
    report("keyboard-leave %d%s", t ? t->index : -1, keyboard_suffix(data));
}

static void keyboard_key(void *data, struct wl_keyboard *keyboard, uint32_t serial, uint32_t time,
                         uint32_t key, uint32_t state)
{
    (void)keyboard;
    (void)time;
    input_serial = serial;
    report("key %u %s%s", key, state == WL_KEYBOARD_KEY_STATE_PRESSED ? "pressed" : "released",
           keyboard_suffix(data));
}

static void keyboard_modifiers(void *data, struct wl_keyboard *keyboard, uint32_t serial,
                               uint32_t depressed, uint32_t latched, uint32_t locked,
                               uint32_t group)
{
    (void)data;
    (void)keyboard;
    (void)serial;
    (void)depressed;
    (void)latched;
    (void)locked;
    (void)group;
}

static const struct wl_keyboard_listener keyboard_listener = {
    .keymap = keyboard_keymap,
    .enter = keyboard_enter,
    .leave = keyboard_leave,
    .key = keyboard_key,
    .modifiers = keyboard_modifiers,
};

static void pointer_enter(void *data, struct wl_pointer *pointer, uint32_t serial,
                          struct wl_surface *surface, wl_fixed_t x, wl_fixed_t y)
{
    (void)data;
    (void)pointer;
    (void)serial;
    pointer_focus = toplevel_of(surface);
    pointer_x = wl_fixed_to_double(x);
    pointer_y = wl_fixed_to_double(y);
}

static void pointer_leave(void *data, struct wl_pointer *pointer, uint32_t serial,
                          struct wl_surface *surface)
{
    (void)data;
    (void)pointer;
    (void)serial;
    (void)surface;
    pointer_focus = NULL;
}

static void pointer_motion(void *data, struct wl_pointer *pointer, uint32_t time, wl_fixed_t x,
                           wl_fixed_t y)
{
    (void)data;
    (void)pointer;
    (void)time;
    pointer_x = wl_fixed_to_double(x);
    pointer_y = wl_fixed_to_double(y);
}

static void pointer_button(void *data, struct wl_pointer *pointer, uint32_t serial, uint32_t time,
                           uint32_t button, uint32_t state)
{
    (void)data;
    (void)pointer;
    (void)time;
    (void)button;
    input_serial = serial;
    report("button %d %.0f %.0f %s", pointer_focus ? pointer_focus->index : -1, pointer_x,
           pointer_y, state == WL_POINTER_BUTTON_STATE_PRESSED ? "pressed" : "released");
}

static void pointer_axis(void *data, struct wl_pointer *pointer, uint32_t time, uint32_t axis,
                         wl_fixed_t value)
{
    (void)data;
    (void)pointer;
    (void)time;
    (void)axis;
    (void)value;
}

static const struct wl_pointer_listener pointer_listener = {
    .enter = pointer_enter,
    .leave = pointer_leave,
    .motion = pointer_motion,
    .button = pointer_button,
    .axis = pointer_axis,
};

static void touch_down(void *data, struct wl_touch *touch, uint32_t serial, uint32_t time,
                       struct wl_surface *surface, int32_t id, wl_fixed_t x, wl_fixed_t y)
{
    (void)data;
    (void)touch;
    (void)time;
    (void)id;
    input_serial = serial;
    const struct toplevel *t = toplevel_of(surface);
    report("touch %d %.0f %.0f", t ? t->index : -1, wl_fixed_to_double(x), wl_fixed_to_double(y));
}

static void touch_up(void *data, struct wl_touch *touch, uint32_t serial, uint32_t time, int32_t id)
{
    (void)data;
    (void)touch;
    (void)serial;
    (void)time;
    (void)id;
}

static void touch_motion(void *data, struct wl_touch *touch, uint32_t time, int32_t id,
                         wl_fixed_t x, wl_fixed_t y)
{
    (void)data;
    (void)touch;
    (void)time;
    (void)id;
    (void)x;
    (void)y;
}

static void touch_frame(void *data, struct wl_touch *touch)
{
    (void)data;
    (void)touch;
}

static void touch_cancel(void *data, struct wl_touch *touch)
{
    (void)data;
    (void)touch;
}

static const struct wl_touch_listener touch_listener = {
    .down = touch_down,
    .up = touch_up,
    .motion = touch_motion,
    .frame = touch_frame,
    .cancel = touch_cancel,
};

static void seat_capabilities(void *data, struct wl_seat *the_seat, uint32_t capabilities)
{
    (void)data;
    static bool keyboard_bound, pointer_bound, touch_bound;
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !keyboard_bound) {
        keyboard_bound = true;
        wl_keyboard_add_listener(wl_seat_get_keyboard(the_seat), &keyboard_listener, NULL);
    }
    if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && !pointer_bound) {
        pointer_bound = true;
        wl_pointer_add_listener(wl_seat_get_pointer(the_seat), &pointer_listener, NULL);
    }
    if ((capabilities & WL_SEAT_CAPABILITY_TOUCH) && !touch_bound) {
        touch_bound = true;
        wl_touch_add_listener(wl_seat_get_touch(the_seat), &touch_listener, NULL);
    }
}

static const struct wl_seat_listener seat_listener = { .capabilities = seat_capabilities };

// Sends one window request; false for an unknown name. Those that need a seat are sent only
// with --input.
static bool window_request(struct toplevel *t, const char *name)
{
    if (!t->alive)
        return false;
    if (strcmp(name, "set_fullscreen") == 0)
        xdg_toplevel_set_fullscreen(t->xdg_toplevel, NULL);
    else if (strcmp(name, "unset_fullscreen") == 0)
        xdg_toplevel_unset_fullscreen(t->xdg_toplevel);
    else if (strcmp(name, "set_maximized") == 0)
        xdg_toplevel_set_maximized(t->xdg_toplevel);
    else if (strcmp(name, "unset_maximized") == 0)
        xdg_toplevel_unset_maximized(t->xdg_toplevel);
    else if (strcmp(name, "set_minimized") == 0)
        xdg_toplevel_set_minimized(t->xdg_toplevel);
    else if (strcmp(name, "move") == 0 && seat)
        xdg_toplevel_move(t->xdg_toplevel, seat, input_serial);
    else if (strcmp(name, "resize") == 0 && seat)
        xdg_toplevel_resize(t->xdg_toplevel, seat, input_serial,
                            XDG_TOPLEVEL_RESIZE_EDGE_BOTTOM_RIGHT);
    else if (strcmp(name, "menu") == 0 && seat)
        xdg_toplevel_show_window_menu(t->xdg_toplevel, seat, input_serial, 0, 0);
    else
        return false;
    return true;
}

static void create_toplevel(int index, int parent, const char *title)
{
    struct toplevel *t = &toplevels[index];
    t->index = index;
    t->surface = wl_compositor_create_surface(compositor);
    t->xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, t->surface);
    xdg_surface_add_listener(t->xdg_surface, &xdg_surface_listener, t);
    t->xdg_toplevel = xdg_surface_get_toplevel(t->xdg_surface);
    xdg_toplevel_add_listener(t->xdg_toplevel, &toplevel_listener, t);
    xdg_toplevel_set_title(t->xdg_toplevel, title);
    if (parent >= 0 && parent < MAX_TOPLEVELS && toplevels[parent].alive)
        xdg_toplevel_set_parent(t->xdg_toplevel, toplevels[parent].xdg_toplevel);
    t->alive = true;
}

static int globals_seen;

static void registry_global(void *data, struct wl_registry *registry, uint32_t name,
                            const char *interface, uint32_t version)
{
    (void)data;
    (void)version;
    ++globals_seen;
    if (!bind_common_global(registry, name, interface) && input
        && strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
        wl_seat_add_listener(seat, &seat_listener, NULL);
        seat_registry = registry;
        seat_name = name;
    }
}

static void add_keyboard(void)
{
    if (!seat_registry)
        return;
    struct wl_seat *another = wl_registry_bind(seat_registry, seat_name, &wl_seat_interface, 1);
    wl_keyboard_add_listener(wl_seat_get_keyboard(another), &keyboard_listener,
                             (void *)keyboards_made++);
}

static const struct wl_registry_listener registry_listener
    = { registry_global, registry_global_remove };

static void destroy_toplevel(struct toplevel *t)
{
    if (!t->alive)
        return;
    xdg_toplevel_destroy(t->xdg_toplevel);
    xdg_surface_destroy(t->xdg_surface);
    wl_surface_destroy(t->surface);
    t->alive = false;
    report("destroyed %d", t->index);
}

static void popup_surface_configure(void *data, struct xdg_surface *xdg_surface, uint32_t serial)
{
    struct popup *p = data;
    xdg_surface_ack_configure(xdg_surface, serial);
    flood_configured = true;
    struct wl_buffer *buffer = create_buffer_of(p->width > 0 ? p->width : 1,
                                                p->height > 0 ? p->height : 1, popup_colour, true);
    if (!buffer)
        return;
    wl_surface_attach(p->surface, buffer, 0, 0);
    wl_surface_damage(p->surface, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_commit(p->surface);
}

static const struct xdg_surface_listener popup_surface_listener = { popup_surface_configure };

static void popup_configure(void *data, struct xdg_popup *xdg_popup, int32_t x, int32_t y,
                            int32_t width, int32_t height)
{
    (void)xdg_popup;
    struct popup *p = data;
    p->width = width;
    p->height = height;
    if (p->index >= 0)
        report("popup-configure %d %d %d %d %d", p->index, x, y, width, height);
}

static void popup_done(void *data, struct xdg_popup *xdg_popup)
{
    (void)xdg_popup;
    struct popup *p = data;
    if (p->index >= 0)
        report("popup-done %d", p->index);
}

// Only sent from version 3 of xdg_wm_base; the probe binds version 1.
static void popup_repositioned(void *data, struct xdg_popup *xdg_popup, uint32_t token)
{
    (void)data;
    (void)xdg_popup;
    (void)token;
}

static const struct xdg_popup_listener popup_listener
    = { popup_configure, popup_done, popup_repositioned };

// Makes a popup of parent (an xdg_surface) in p; index -1 for one that reports nothing. With
// remap, p's wl_surface is kept and given the popup role again.
static void create_popup(struct popup *p, int index, struct xdg_surface *parent, int x, int y,
                         int width, int height, uint32_t adjust, bool grab, bool remap)
{
    struct xdg_positioner *positioner = xdg_wm_base_create_positioner(wm_base);
    xdg_positioner_set_size(positioner, width, height);
    xdg_positioner_set_anchor_rect(positioner, x, y, 1, 1);
    xdg_positioner_set_anchor(positioner, XDG_POSITIONER_ANCHOR_TOP_LEFT);
    xdg_positioner_set_gravity(positioner, XDG_POSITIONER_GRAVITY_BOTTOM_RIGHT);
    xdg_positioner_set_constraint_adjustment(positioner, adjust);
    p->index = index;
    p->width = width;
    p->height = height;
    if (!remap)
        p->surface = wl_compositor_create_surface(compositor);
    p->parent = parent;
    p->xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, p->surface);
    xdg_surface_add_listener(p->xdg_surface, &popup_surface_listener, p);
    p->xdg_popup = xdg_surface_get_popup(p->xdg_surface, parent, positioner);
    xdg_popup_add_listener(p->xdg_popup, &popup_listener, p);
    xdg_positioner_destroy(positioner);
    if (grab && seat)
        xdg_popup_grab(p->xdg_popup, seat, input_serial);
    wl_surface_commit(p->surface);
    p->alive = true;
}

static void destroy_popup(struct popup *p)
{
    xdg_popup_destroy(p->xdg_popup);
    xdg_surface_destroy(p->xdg_surface);
    wl_surface_destroy(p->surface);
    p->alive = false;
}

// Opens and closes count popups, each configured and drawn before it goes.
static void popup_flood(long count)
{
    if (!toplevels[0].alive)
        return;
    for (long i = 0; i < count; ++i) {
        struct popup p;
        flood_configured = false;
        create_popup(&p, -1, toplevels[0].xdg_surface, 10, 10, 40, 30, 0, false, false);
        while (!flood_configured) {
            if (wl_display_dispatch(the_display) < 0)
                return;
        }
        destroy_popup(&p);
        if (i % 64 == 63 && wl_display_roundtrip(the_display) < 0)
            return;
    }
    wl_display_roundtrip(the_display);
    report("popups-done %ld", count);
}

// Returns false when the probe should end.
static bool handle_command(char *line)
{
    int index;
    char name[32];
    if (sscanf(line, "request %31s %d", name, &index) == 2) {
        if (index < 0 || index >= MAX_TOPLEVELS || !window_request(&toplevels[index], name)) {
            report("error request %s", line + 8);
        } else {
            // Once the compositor has handled it.
            wl_display_roundtrip(the_display);
            report("requested %s %d", name, index);
        }
        return true;
    }
    int parent;
    if (sscanf(line, "create %d", &parent) == 1) {
        int free_index = 0;
        while (free_index < MAX_TOPLEVELS && toplevels[free_index].xdg_toplevel)
            ++free_index;
        if (free_index == MAX_TOPLEVELS) {
            report("error create");
        } else {
            create_toplevel(free_index, parent, "vorlane-probe");
            wl_surface_commit(toplevels[free_index].surface);
            report("created %d", free_index);
        }
        return true;
    }
    if (sscanf(line, "parent %d %d", &index, &parent) == 2) {
        if (index >= 0 && index < MAX_TOPLEVELS && toplevels[index].alive) {
            const bool valid = parent >= 0 && parent < MAX_TOPLEVELS && toplevels[parent].alive;
            xdg_toplevel_set_parent(toplevels[index].xdg_toplevel,
                                    valid ? toplevels[parent].xdg_toplevel : NULL);
        }
        return true;
    }
    if (strcmp(line, "keyboard") == 0) {
        add_keyboard();
        return true;
    }
    char popup_parent[16];
    int x, y, width, height;
    unsigned adjust;
    if (sscanf(line, "popup %15s %d %d %d %d %u", popup_parent, &x, &y, &width, &height, &adjust)
        == 6) {
        struct xdg_surface *parent_surface = NULL;
        const int number = atoi(popup_parent[0] == 'p' ? popup_parent + 1 : popup_parent);
        if (popup_parent[0] == 'p' && number >= 0 && number < MAX_POPUPS && popups[number].alive)
            parent_surface = popups[number].xdg_surface;
        else if (popup_parent[0] != 'p' && number >= 0 && number < MAX_TOPLEVELS
                 && toplevels[number].alive)
            parent_surface = toplevels[number].xdg_surface;
        if (!parent_surface || popup_count >= MAX_POPUPS || width < 1 || height < 1) {
            report("error popup");
            return true;
        }
        const int n = popup_count++;
        create_popup(&popups[n], n, parent_surface, x, y, width, height, adjust,
                     strstr(line, " grab") != NULL, false);
        return true;
    }
    // Moved as GTK 4 moves popups where it cannot reposition them: unmapped and mapped again,
    // with the same wl_surface.
    if (sscanf(line, "remap %d %d %d", &index, &x, &y) == 3) {
        if (index >= 0 && index < MAX_POPUPS && popups[index].alive) {
            struct popup *p = &popups[index];
            xdg_popup_destroy(p->xdg_popup);
            xdg_surface_destroy(p->xdg_surface);
            wl_surface_attach(p->surface, NULL, 0, 0);
            wl_surface_commit(p->surface);
            create_popup(p, index, p->parent, x, y, p->width, p->height, 0, false, true);
            report("remapped %d", index);
        }
        return true;
    }
    if (sscanf(line, "unpopup %d", &index) == 1) {
        if (index >= 0 && index < MAX_POPUPS && popups[index].alive) {
            destroy_popup(&popups[index]);
            report("popup-destroyed %d", index);
        }
        return true;
    }
    long count;
    if (sscanf(line, "popups %ld", &count) == 1) {
        popup_flood(count);
        return true;
    }
    if (sscanf(line, "destroy %d", &index) == 1) {
        if (index >= 0 && index < MAX_TOPLEVELS)
            destroy_toplevel(&toplevels[index]);
        return true;
    }
    return strncmp(line, "quit", 4) != 0;
}

// --count-signals: SIGQUIT, SIGTERM, SIGHUP, SIGINT and SIGCONT are reported as
// "signal <number>" and do not end the probe, so a test can count what reached it.
static void count_signal(int number)
{
    char line[16] = "signal ";
    int at = 7;
    if (number >= 10)
        line[at++] = (char)('0' + number / 10);
    line[at++] = (char)('0' + number % 10);
    line[at++] = '\n';
    ssize_t ignored = write(STDOUT_FILENO, line, (size_t)at);
    (void)ignored;
}

static void install_signal_counters(void)
{
    const int numbers[] = { SIGQUIT, SIGTERM, SIGHUP, SIGINT, SIGCONT };
    for (size_t i = 0; i < sizeof(numbers) / sizeof(numbers[0]); ++i) {
        struct sigaction action;
        memset(&action, 0, sizeof(action));
        action.sa_handler = count_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(numbers[i], &action, NULL);
    }
}

static void usage(const char *program)
{
    fprintf(stderr,
            "usage: %s [--color RRGGBB] [--popup-color RRGGBB] [--toplevels N] [--no-buffer] "
            "[--exit-after-connect]"
            " [--exit-after-create]"
            " [--title TEXT] [--log FILE] [--timestamps] [--count-signals]"
            " [--fork-after-map] [--input] [--keyboards N] [--buffer WxH] [--request NAME]..."
            " [--animate]\n",
            program);
}

int main(int argc, char **argv)
{
    int count = 1;
    bool exit_after_connect = false;
    bool exit_after_create = false;
    const char *title = "vorlane-probe";
    // Window requests sent before the initial commit, as clients that start full screen do.
    const char *early_requests[8];
    int early_count = 0;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (strcmp(argv[i], "--color") == 0 && has_value) {
            colour = 0xff000000u | (uint32_t)strtoul(argv[++i], NULL, 16);
        } else if (strcmp(argv[i], "--popup-color") == 0 && has_value) {
            popup_colour = 0xff000000u | (uint32_t)strtoul(argv[++i], NULL, 16);
        } else if (strcmp(argv[i], "--toplevels") == 0 && has_value) {
            count = atoi(argv[++i]);
            if (count < 1 || count > MAX_TOPLEVELS) {
                usage(argv[0]);
                return 2;
            }
        } else if (strcmp(argv[i], "--no-buffer") == 0) {
            commit_buffers = false;
        } else if (strcmp(argv[i], "--exit-after-connect") == 0) {
            exit_after_connect = true;
        } else if (strcmp(argv[i], "--exit-after-create") == 0) {
            exit_after_create = true;
        } else if (strcmp(argv[i], "--title") == 0 && has_value) {
            title = argv[++i];
        } else if (strcmp(argv[i], "--fork-after-map") == 0) {
            fork_after_map = true;
        } else if (strcmp(argv[i], "--input") == 0) {
            input = true;
        } else if (strcmp(argv[i], "--keyboards") == 0 && has_value) {
            input = true;
            keyboard_count = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--buffer") == 0 && has_value) {
            if (sscanf(argv[++i], "%dx%d", &fixed_width, &fixed_height) != 2 || fixed_width < 1
                || fixed_height < 1 || fixed_width > 8192 || fixed_height > 8192) {
                usage(argv[0]);
                return 2;
            }
        } else if (strcmp(argv[i], "--request") == 0 && has_value && early_count < 8) {
            early_requests[early_count++] = argv[++i];
        } else if (strcmp(argv[i], "--animate") == 0) {
            animate = true;
        } else if (strcmp(argv[i], "--timestamps") == 0) {
            timestamps = true;
        } else if (strcmp(argv[i], "--count-signals") == 0) {
            install_signal_counters();
        } else if (strcmp(argv[i], "--log") == 0 && has_value) {
            log_file = fopen(argv[++i], "a");
        } else {
            usage(argv[0]);
            return 2;
        }
    }

    struct wl_display *display = connect_display();
    if (!display)
        return 1;
    the_display = display;
    report("connected");
    if (exit_after_connect) {
        wl_display_disconnect(display);
        return 0;
    }

    if (!bind_globals(display, &registry_listener, true))
        return 1;
    // The compositor has answered the first round trip: its registry is served.
    if (timestamps)
        report("roundtrip");
    report("globals %d", globals_seen);
    while (keyboards_made < keyboard_count)
        add_keyboard();

    for (int i = 0; i < count; ++i) {
        struct toplevel *t = &toplevels[i];
        create_toplevel(i, -1, title);
        for (int r = 0; r < early_count; ++r) {
            if (!window_request(t, early_requests[r]))
                report("error request %s", early_requests[r]);
        }
        // The initial commit without a buffer asks for the first configure.
        wl_surface_commit(t->surface);
        if (timestamps) {
            wl_display_flush(display);
            report("initial-commit %d", i);
        }
    }
    if (exit_after_create) {
        // Gone before the compositor can look at the process.
        wl_display_flush(display);
        _exit(0);
    }

    char input[256];
    size_t input_used = 0;
    bool stdin_open = true;
    for (;;) {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        wl_display_flush(display);

        struct pollfd fds[2]
            = { { wl_display_get_fd(display), POLLIN, 0 }, { STDIN_FILENO, POLLIN, 0 } };
        int timeout = -1;
        if (animate && frame_second_start_us >= 0) {
            const long long left = frame_second_start_us + 1000000 - monotonic_us();
            timeout = left > 0 ? (int)((left + 999) / 1000) : 0;
        }
        const int ready = poll(fds, stdin_open ? 2 : 1, timeout);
        if (ready < 0) {
            wl_display_cancel_read(display);
            if (errno == EINTR)
                continue;
            break;
        }
        if (animate && frame_second_start_us >= 0
            && monotonic_us() >= frame_second_start_us + 1000000) {
            report("frames %d", frame_count);
            frame_count = 0;
            frame_second_start_us += 1000000;
        }
        if (fds[0].revents & POLLIN) {
            if (wl_display_read_events(display) < 0)
                break;
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0)
            break;
        if (fds[0].revents & (POLLERR | POLLHUP))
            break;

        if (stdin_open && (fds[1].revents & (POLLIN | POLLHUP))) {
            const ssize_t n
                = read(STDIN_FILENO, input + input_used, sizeof(input) - 1 - input_used);
            if (n <= 0) {
                stdin_open = false;
                continue;
            }
            input_used += (size_t)n;
            input[input_used] = '\0';
            char *newline;
            bool keep_running = true;
            while ((newline = strchr(input, '\n')) != NULL) {
                *newline = '\0';
                keep_running = handle_command(input) && keep_running;
                const size_t consumed = (size_t)(newline - input) + 1;
                memmove(input, newline + 1, input_used - consumed + 1);
                input_used -= consumed;
            }
            if (input_used == sizeof(input) - 1)
                input_used = 0; // an overlong line is dropped
            wl_display_flush(display);
            if (!keep_running)
                break;
        }
    }

    uint32_t error_code = 0;
    const struct wl_interface *error_interface = NULL;
    if (wl_display_get_error(display) == EPROTO) {
        error_code = wl_display_get_protocol_error(display, &error_interface, NULL);
        report("protocol-error %s %u", error_interface ? error_interface->name : "?", error_code);
    }
    report("disconnected");
    wl_display_disconnect(display);
    if (log_file)
        fclose(log_file);
    return 0;
}
