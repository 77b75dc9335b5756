// A hostile Wayland client: random sequences of requests with random arguments against the
// compositor of $WAYLAND_DISPLAY. Each sequence is one connection, driven by its own seed; when
// the compositor ends the connection (a protocol error, as expected for much of this input) the
// next sequence connects anew. A second connection checks after every sequence that the
// compositor still answers a roundtrip.
//
//   vorlane_wlfuzz [--seed S] [--seconds T]   run sequences with seeds derived from S for T s
//   vorlane_wlfuzz --replay SEED              run the one sequence of that seed
//
//   vorlane_wlfuzz --case NAME [--repeat N]   one of the fixed sequences of run_case(), N times
//
// Output: "seed S", one "sequence N seed X" line per sequence, and at the end
// "sequences N requests N disconnects N". Exit status 0, or 3 when the compositor stopped
// answering, 4 when it could not be reached any more.

#define _GNU_SOURCE
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <errno.h>
#include <inttypes.h>
#include <poll.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#define MAX_OBJECTS 24
#define ANSWER_TIMEOUT_MS 30000

// splitmix64: small, and the same on every machine, so that a seed replays exactly.
static uint64_t rng_state;
static uint64_t next_random(void)
{
    uint64_t z = (rng_state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}
static uint32_t below(uint32_t n)
{
    return n ? (uint32_t)(next_random() % n) : 0;
}
static bool chance(uint32_t percent)
{
    return below(100) < percent;
}

// Mostly small sensible numbers, sometimes the edges.
static int32_t any_int(void)
{
    static const int32_t edges[]
        = { 0, 1, -1, 2, 16384, 16385, 65535, INT32_MAX, INT32_MIN, INT32_MAX / 4, -16384, 4096 };
    switch (below(4)) {
    case 0:
        return edges[below(sizeof(edges) / sizeof(edges[0]))];
    case 1:
        return (int32_t)next_random();
    default:
        return (int32_t)below(1000) - 100;
    }
}
static uint32_t any_enum(uint32_t count)
{
    return chance(85) ? below(count) : (uint32_t)any_int();
}

struct list
{
    void *items[MAX_OBJECTS];
    int count;
};

static void *pick(struct list *l)
{
    return l->count ? l->items[below((uint32_t)l->count)] : NULL;
}
static void *pick_or_null(struct list *l)
{
    return chance(20) ? NULL : pick(l);
}
static bool full(const struct list *l)
{
    return l->count >= MAX_OBJECTS;
}
static void add(struct list *l, void *item)
{
    if (item && l->count < MAX_OBJECTS)
        l->items[l->count++] = item;
}
static void forget(struct list *l, void *item)
{
    for (int i = 0; i < l->count; ++i) {
        if (l->items[i] == item) {
            l->items[i] = l->items[--l->count];
            return;
        }
    }
}

struct pool
{
    struct wl_shm_pool *proxy;
    int fd;
    int32_t size;
};

enum kind {
    K_SURFACE,
    K_REGION,
    K_BUFFER,
    K_SUBSURFACE,
    K_CALLBACK,
    K_XDG_SURFACE,
    K_POSITIONER,
    K_TOPLEVEL,
    K_POPUP,
    K_DECORATION,
    K_POINTER,
    K_KEYBOARD,
    K_TOUCH,
    K_COUNT
};

static struct
{
    struct wl_display *display;
    struct wl_registry *registry;
    struct wl_compositor *compositor;
    struct wl_subcompositor *subcompositor;
    struct wl_shm *shm;
    struct wl_seat *seat;
    struct wl_output *output;
    struct xdg_wm_base *wm_base;
    struct zxdg_decoration_manager_v1 *decoration_manager;
    struct list objects[K_COUNT];
    struct pool pools[8];
    int pool_count;
    uint32_t last_serial;
    uint64_t requests;
} c;

static struct xdg_toplevel *any_toplevel(void)
{
    return pick(&c.objects[K_TOPLEVEL]);
}

// Events ------------------------------------------------------------------------------------

static void wm_base_ping(void *data, struct xdg_wm_base *base, uint32_t serial)
{
    (void)data;
    if (chance(90))
        xdg_wm_base_pong(base, serial);
}
static const struct xdg_wm_base_listener wm_base_listener = { wm_base_ping };

static void xdg_surface_configure(void *data, struct xdg_surface *surface, uint32_t serial)
{
    (void)data;
    (void)surface;
    c.last_serial = serial;
}
static const struct xdg_surface_listener xdg_surface_listener = { xdg_surface_configure };

static void toplevel_configure(void *d, struct xdg_toplevel *t, int32_t w, int32_t h,
                               struct wl_array *s)
{
    (void)d, (void)t, (void)w, (void)h, (void)s;
}
static void toplevel_close(void *d, struct xdg_toplevel *t)
{
    (void)d, (void)t;
}
static const struct xdg_toplevel_listener toplevel_listener = {
    .configure = toplevel_configure,
    .close = toplevel_close,
};

static void popup_configure(void *d, struct xdg_popup *p, int32_t x, int32_t y, int32_t w,
                            int32_t h)
{
    (void)d, (void)p, (void)x, (void)y, (void)w, (void)h;
}
static void popup_done(void *d, struct xdg_popup *p)
{
    (void)d, (void)p;
}
static const struct xdg_popup_listener popup_listener = {
    .configure = popup_configure,
    .popup_done = popup_done,
};

static void callback_done(void *data, struct wl_callback *callback, uint32_t time)
{
    (void)data, (void)time;
    forget(&c.objects[K_CALLBACK], callback);
    wl_callback_destroy(callback);
}
static const struct wl_callback_listener callback_listener = { callback_done };

static void buffer_release(void *d, struct wl_buffer *b)
{
    (void)d, (void)b;
}
static const struct wl_buffer_listener buffer_listener = { buffer_release };

static void keymap(void *d, struct wl_keyboard *k, uint32_t format, int32_t fd, uint32_t size)
{
    (void)d, (void)k, (void)format, (void)size;
    close(fd);
}
static void kb_enter(void *d, struct wl_keyboard *k, uint32_t serial, struct wl_surface *s,
                     struct wl_array *keys)
{
    (void)d, (void)k, (void)s, (void)keys;
    c.last_serial = serial;
}
static void kb_leave(void *d, struct wl_keyboard *k, uint32_t serial, struct wl_surface *s)
{
    (void)d, (void)k, (void)serial, (void)s;
}
static void kb_key(void *d, struct wl_keyboard *k, uint32_t serial, uint32_t t, uint32_t key,
                   uint32_t state)
{
    (void)d, (void)k, (void)serial, (void)t, (void)key, (void)state;
}
static void kb_modifiers(void *d, struct wl_keyboard *k, uint32_t serial, uint32_t a, uint32_t b,
                         uint32_t e, uint32_t g)
{
    (void)d, (void)k, (void)serial, (void)a, (void)b, (void)e, (void)g;
}
static void kb_repeat(void *d, struct wl_keyboard *k, int32_t rate, int32_t delay)
{
    (void)d, (void)k, (void)rate, (void)delay;
}
static const struct wl_keyboard_listener keyboard_listener
    = { keymap, kb_enter, kb_leave, kb_key, kb_modifiers, kb_repeat };

static void decoration_configure(void *d, struct zxdg_toplevel_decoration_v1 *x, uint32_t mode)
{
    (void)d, (void)x, (void)mode;
}
static const struct zxdg_toplevel_decoration_v1_listener decoration_listener
    = { decoration_configure };

static bool newest_versions;
static uint32_t bind_version(uint32_t offered, uint32_t known)
{
    const uint32_t top = offered < known ? offered : known;
    return newest_versions || chance(70) ? top : 1 + below(top);
}

static void registry_global(void *data, struct wl_registry *registry, uint32_t name,
                            const char *interface, uint32_t version)
{
    (void)data;
#define BIND(field, iface)                                                                         \
    if (strcmp(interface, iface.name) == 0 && !c.field) {                                          \
        c.field = wl_registry_bind(registry, name, &iface, bind_version(version, iface.version));  \
        return;                                                                                    \
    }
    BIND(compositor, wl_compositor_interface)
    BIND(subcompositor, wl_subcompositor_interface)
    BIND(shm, wl_shm_interface)
    BIND(seat, wl_seat_interface)
    BIND(output, wl_output_interface)
    BIND(wm_base, xdg_wm_base_interface)
    BIND(decoration_manager, zxdg_decoration_manager_v1_interface)
#undef BIND
}
static void registry_global_remove(void *d, struct wl_registry *r, uint32_t n)
{
    (void)d, (void)r, (void)n;
}
static const struct wl_registry_listener registry_listener
    = { registry_global, registry_global_remove };

// Requests ----------------------------------------------------------------------------------

static void new_pool(void)
{
    if (!c.shm || c.pool_count >= 8)
        return;
    const int32_t size = chance(10) ? (int32_t)below(64) : 1 + (int32_t)below(4 << 20);
    const int fd = memfd_create("wlfuzz", MFD_CLOEXEC);
    if (fd < 0)
        return;
    // The file always holds the whole pool: a pool larger than its file is another fault,
    // guarded elsewhere.
    if (ftruncate(fd, size) < 0) {
        close(fd);
        return;
    }
    struct pool *p = &c.pools[c.pool_count++];
    p->fd = fd;
    p->size = size;
    p->proxy = wl_shm_create_pool(c.shm, fd, chance(95) ? size : any_int());
}

static void pool_request(void)
{
    if (!c.pool_count)
        return new_pool();
    const int at = (int)below((uint32_t)c.pool_count);
    struct pool *p = &c.pools[at];
    switch (below(4)) {
    case 0: {
        if (full(&c.objects[K_BUFFER]))
            return;
        int32_t w, h, stride, offset;
        if (chance(70)) {
            w = 1 + (int32_t)below(400);
            h = 1 + (int32_t)below(400);
            stride = w * 4;
            offset = 0;
            while ((int64_t)stride * h > p->size && h > 1)
                h /= 2;
        } else {
            w = any_int(), h = any_int(), stride = any_int(), offset = any_int();
        }
        const uint32_t format = chance(90) ? below(2) : (uint32_t)any_int();
        struct wl_buffer *b = wl_shm_pool_create_buffer(p->proxy, offset, w, h, stride, format);
        wl_buffer_add_listener(b, &buffer_listener, NULL);
        add(&c.objects[K_BUFFER], b);
        break;
    }
    case 1: {
        const int64_t grown = (int64_t)p->size + below(1 << 20);
        const int32_t size = chance(80) && grown <= (8 << 20) ? (int32_t)grown : any_int();
        if (size > p->size && ftruncate(p->fd, size) < 0)
            return;
        if (size > p->size)
            p->size = size;
        wl_shm_pool_resize(p->proxy, size);
        break;
    }
    case 2:
        wl_shm_pool_destroy(p->proxy);
        close(p->fd);
        c.pools[at] = c.pools[--c.pool_count];
        break;
    default:
        new_pool();
        break;
    }
}

static void surface_request(void)
{
    struct wl_surface *s = pick(&c.objects[K_SURFACE]);
    if (!s || (chance(10) && !full(&c.objects[K_SURFACE]))) {
        if (c.compositor && !full(&c.objects[K_SURFACE]))
            add(&c.objects[K_SURFACE], wl_compositor_create_surface(c.compositor));
        return;
    }
    const uint32_t version = wl_proxy_get_version((struct wl_proxy *)s);
    switch (below(12)) {
    case 0:
        wl_surface_attach(s, pick_or_null(&c.objects[K_BUFFER]), any_int() % 8, any_int() % 8);
        break;
    case 1:
        wl_surface_damage(s, any_int(), any_int(), any_int(), any_int());
        break;
    case 2:
        if (!full(&c.objects[K_CALLBACK])) {
            struct wl_callback *cb = wl_surface_frame(s);
            wl_callback_add_listener(cb, &callback_listener, NULL);
            add(&c.objects[K_CALLBACK], cb);
        }
        break;
    case 3:
        wl_surface_set_opaque_region(s, pick_or_null(&c.objects[K_REGION]));
        break;
    case 4:
        wl_surface_set_input_region(s, pick_or_null(&c.objects[K_REGION]));
        break;
    case 5:
    case 6:
    case 7:
        wl_surface_commit(s);
        break;
    case 8:
        if (version >= 2)
            wl_surface_set_buffer_transform(s, (int32_t)any_enum(8));
        break;
    case 9:
        if (version >= 3)
            wl_surface_set_buffer_scale(s, chance(80) ? 1 + (int32_t)below(3) : any_int());
        break;
    case 10:
        if (version >= 4)
            wl_surface_damage_buffer(s, any_int(), any_int(), any_int(), any_int());
        break;
    default:
        if (chance(30)) {
            forget(&c.objects[K_SURFACE], s);
            wl_surface_destroy(s);
        }
        break;
    }
}

static void region_request(void)
{
    struct wl_region *r = pick(&c.objects[K_REGION]);
    if (!r || chance(20)) {
        if (c.compositor && !full(&c.objects[K_REGION]))
            add(&c.objects[K_REGION], wl_compositor_create_region(c.compositor));
        return;
    }
    switch (below(3)) {
    case 0:
        wl_region_add(r, any_int(), any_int(), any_int(), any_int());
        break;
    case 1:
        wl_region_subtract(r, any_int(), any_int(), any_int(), any_int());
        break;
    default:
        forget(&c.objects[K_REGION], r);
        wl_region_destroy(r);
        break;
    }
}

static void buffer_request(void)
{
    struct wl_buffer *b = pick(&c.objects[K_BUFFER]);
    if (b) {
        forget(&c.objects[K_BUFFER], b);
        wl_buffer_destroy(b);
    }
}

static void subsurface_request(void)
{
    struct wl_subsurface *s = pick(&c.objects[K_SUBSURFACE]);
    if (!s || chance(25)) {
        struct wl_surface *child = pick(&c.objects[K_SURFACE]);
        struct wl_surface *parent = pick(&c.objects[K_SURFACE]);
        if (c.subcompositor && child && parent && !full(&c.objects[K_SUBSURFACE]))
            add(&c.objects[K_SUBSURFACE],
                wl_subcompositor_get_subsurface(c.subcompositor, child, parent));
        return;
    }
    switch (below(6)) {
    case 0:
        wl_subsurface_set_position(s, any_int(), any_int());
        break;
    case 1:
        if (c.objects[K_SURFACE].count)
            wl_subsurface_place_above(s, pick(&c.objects[K_SURFACE]));
        break;
    case 2:
        if (c.objects[K_SURFACE].count)
            wl_subsurface_place_below(s, pick(&c.objects[K_SURFACE]));
        break;
    case 3:
        wl_subsurface_set_sync(s);
        break;
    case 4:
        wl_subsurface_set_desync(s);
        break;
    default:
        forget(&c.objects[K_SUBSURFACE], s);
        wl_subsurface_destroy(s);
        break;
    }
}

static void positioner_request(void)
{
    struct xdg_positioner *p = pick(&c.objects[K_POSITIONER]);
    if (!p || chance(15)) {
        if (c.wm_base && !full(&c.objects[K_POSITIONER]))
            add(&c.objects[K_POSITIONER], xdg_wm_base_create_positioner(c.wm_base));
        return;
    }
    switch (below(7)) {
    case 0:
        xdg_positioner_set_size(p, chance(70) ? 1 + (int32_t)below(300) : any_int(),
                                chance(70) ? 1 + (int32_t)below(300) : any_int());
        break;
    case 1:
        xdg_positioner_set_anchor_rect(p, any_int(), any_int(),
                                       chance(70) ? 1 + (int32_t)below(300) : any_int(),
                                       chance(70) ? 1 + (int32_t)below(300) : any_int());
        break;
    case 2:
        xdg_positioner_set_anchor(p, any_enum(9));
        break;
    case 3:
        xdg_positioner_set_gravity(p, any_enum(9));
        break;
    case 4:
        xdg_positioner_set_constraint_adjustment(p, any_enum(64));
        break;
    case 5:
        xdg_positioner_set_offset(p, any_int(), any_int());
        break;
    default:
        forget(&c.objects[K_POSITIONER], p);
        xdg_positioner_destroy(p);
        break;
    }
}

static void xdg_surface_request(void)
{
    struct xdg_surface *x = pick(&c.objects[K_XDG_SURFACE]);
    if (!x || chance(20)) {
        struct wl_surface *s = pick(&c.objects[K_SURFACE]);
        if (c.wm_base && s && !full(&c.objects[K_XDG_SURFACE])) {
            x = xdg_wm_base_get_xdg_surface(c.wm_base, s);
            xdg_surface_add_listener(x, &xdg_surface_listener, NULL);
            add(&c.objects[K_XDG_SURFACE], x);
        }
        return;
    }
    switch (below(6)) {
    case 0:
    case 1:
        if (!full(&c.objects[K_TOPLEVEL])) {
            struct xdg_toplevel *t = xdg_surface_get_toplevel(x);
            xdg_toplevel_add_listener(t, &toplevel_listener, NULL);
            add(&c.objects[K_TOPLEVEL], t);
        }
        break;
    case 2: {
        struct xdg_positioner *p = pick(&c.objects[K_POSITIONER]);
        if (p && !full(&c.objects[K_POPUP])) {
            struct xdg_popup *popup
                = xdg_surface_get_popup(x, pick_or_null(&c.objects[K_XDG_SURFACE]), p);
            xdg_popup_add_listener(popup, &popup_listener, NULL);
            add(&c.objects[K_POPUP], popup);
        }
        break;
    }
    case 3:
        xdg_surface_set_window_geometry(x, any_int(), any_int(), any_int(), any_int());
        break;
    case 4:
        xdg_surface_ack_configure(x, chance(80) ? c.last_serial : (uint32_t)any_int());
        break;
    default:
        forget(&c.objects[K_XDG_SURFACE], x);
        xdg_surface_destroy(x);
        break;
    }
}

static void random_text(char *text, size_t size)
{
    const size_t length = below((uint32_t)size);
    for (size_t i = 0; i < length; ++i)
        text[i] = (char)(1 + below(255));
    text[length] = 0;
}

static void toplevel_request(void)
{
    struct xdg_toplevel *t = any_toplevel();
    if (!t)
        return;
    char text[300];
    switch (below(16)) {
    case 0:
        xdg_toplevel_set_parent(t, chance(30) ? NULL : any_toplevel());
        break;
    case 1:
        random_text(text, sizeof(text));
        xdg_toplevel_set_title(t, text);
        break;
    case 2:
        random_text(text, sizeof(text));
        xdg_toplevel_set_app_id(t, text);
        break;
    case 3:
        if (c.seat)
            xdg_toplevel_show_window_menu(t, c.seat, c.last_serial, any_int(), any_int());
        break;
    case 4:
        if (c.seat)
            xdg_toplevel_move(t, c.seat, chance(50) ? c.last_serial : (uint32_t)any_int());
        break;
    case 5:
        if (c.seat)
            xdg_toplevel_resize(t, c.seat, c.last_serial, any_enum(11));
        break;
    case 6:
        xdg_toplevel_set_max_size(t, any_int(), any_int());
        break;
    case 7:
        xdg_toplevel_set_min_size(t, any_int(), any_int());
        break;
    case 8:
        xdg_toplevel_set_maximized(t);
        break;
    case 9:
        xdg_toplevel_unset_maximized(t);
        break;
    case 10:
        xdg_toplevel_set_fullscreen(t, chance(50) ? c.output : NULL);
        break;
    case 11:
        xdg_toplevel_unset_fullscreen(t);
        break;
    case 12:
        xdg_toplevel_set_minimized(t);
        break;
    case 13:
        if (c.decoration_manager && !full(&c.objects[K_DECORATION])) {
            struct zxdg_toplevel_decoration_v1 *d
                = zxdg_decoration_manager_v1_get_toplevel_decoration(c.decoration_manager, t);
            zxdg_toplevel_decoration_v1_add_listener(d, &decoration_listener, NULL);
            add(&c.objects[K_DECORATION], d);
        }
        break;
    case 14:
        // Out of order on purpose: the role object goes while its surface stays.
        forget(&c.objects[K_TOPLEVEL], t);
        xdg_toplevel_destroy(t);
        break;
    default:
        // The compositor forgets the object, this side keeps using its id.
        wl_proxy_marshal_flags((struct wl_proxy *)t, XDG_TOPLEVEL_DESTROY, NULL,
                               wl_proxy_get_version((struct wl_proxy *)t), 0);
        break;
    }
}

static void popup_request(void)
{
    struct xdg_popup *p = pick(&c.objects[K_POPUP]);
    if (!p)
        return;
    if (chance(50) && c.seat) {
        xdg_popup_grab(p, c.seat, chance(50) ? c.last_serial : (uint32_t)any_int());
    } else {
        forget(&c.objects[K_POPUP], p);
        xdg_popup_destroy(p);
    }
}

static void decoration_request(void)
{
    struct zxdg_toplevel_decoration_v1 *d = pick(&c.objects[K_DECORATION]);
    if (!d)
        return;
    switch (below(3)) {
    case 0:
        zxdg_toplevel_decoration_v1_set_mode(d, any_enum(4));
        break;
    case 1:
        zxdg_toplevel_decoration_v1_unset_mode(d);
        break;
    default:
        forget(&c.objects[K_DECORATION], d);
        zxdg_toplevel_decoration_v1_destroy(d);
        break;
    }
}

static void seat_request(void)
{
    if (!c.seat)
        return;
    const uint32_t version = wl_proxy_get_version((struct wl_proxy *)c.seat);
    switch (below(6)) {
    case 0:
        if (!full(&c.objects[K_POINTER]))
            add(&c.objects[K_POINTER], wl_seat_get_pointer(c.seat));
        break;
    case 1:
        if (!full(&c.objects[K_KEYBOARD])) {
            struct wl_keyboard *k = wl_seat_get_keyboard(c.seat);
            wl_keyboard_add_listener(k, &keyboard_listener, NULL);
            add(&c.objects[K_KEYBOARD], k);
        }
        break;
    case 2:
        if (!full(&c.objects[K_TOUCH]))
            add(&c.objects[K_TOUCH], wl_seat_get_touch(c.seat));
        break;
    case 3: {
        struct wl_pointer *p = pick(&c.objects[K_POINTER]);
        if (p)
            wl_pointer_set_cursor(p, chance(50) ? c.last_serial : (uint32_t)any_int(),
                                  pick_or_null(&c.objects[K_SURFACE]), any_int(), any_int());
        break;
    }
    case 4:
        if (c.objects[K_POINTER].count) {
            struct wl_pointer *p = pick(&c.objects[K_POINTER]);
            forget(&c.objects[K_POINTER], p);
            version >= 3 ? wl_pointer_release(p) : wl_pointer_destroy(p);
        }
        break;
    default:
        if (c.objects[K_KEYBOARD].count) {
            struct wl_keyboard *k = pick(&c.objects[K_KEYBOARD]);
            forget(&c.objects[K_KEYBOARD], k);
            version >= 3 ? wl_keyboard_release(k) : wl_keyboard_destroy(k);
        } else if (c.objects[K_TOUCH].count) {
            struct wl_touch *t = pick(&c.objects[K_TOUCH]);
            forget(&c.objects[K_TOUCH], t);
            version >= 3 ? wl_touch_release(t) : wl_touch_destroy(t);
        }
        break;
    }
}

static void wm_base_request(void)
{
    if (!c.wm_base)
        return;
    if (chance(50))
        xdg_wm_base_pong(c.wm_base, (uint32_t)any_int());
    else if (chance(5)) {
        // Destroying the shell with its surfaces alive is a protocol error.
        xdg_wm_base_destroy(c.wm_base);
        c.wm_base = NULL;
    }
}

static void sync_done(void *data, struct wl_callback *callback, uint32_t time)
{
    (void)time;
    *(bool *)data = true;
    wl_callback_destroy(callback);
}
static const struct wl_callback_listener sync_listener = { sync_done };

// A roundtrip that gives up after ANSWER_TIMEOUT_MS: 1 when answered, 0 when the time ran out,
// -1 when the connection failed.
static int timed_roundtrip(struct wl_display *display)
{
    bool done = false;
    struct wl_callback *sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &sync_listener, &done);
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int result = -1;
    for (;;) {
        if (wl_display_dispatch_pending(display) < 0)
            break;
        if (done)
            return 1;
        if (wl_display_flush(display) < 0 && errno != EAGAIN)
            break;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsed
            = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= ANSWER_TIMEOUT_MS) {
            result = 0;
            break;
        }
        if (wl_display_prepare_read(display) != 0)
            continue;
        struct pollfd fd = { wl_display_get_fd(display), POLLIN, 0 };
        if (poll(&fd, 1, (int)(ANSWER_TIMEOUT_MS - elapsed)) > 0) {
            if (wl_display_read_events(display) < 0)
                break;
        } else {
            wl_display_cancel_read(display);
        }
    }
    wl_callback_destroy(sync);
    return result;
}

// One sequence: connect, bind, a random number of random requests, read events now and then.
// Returns 0, 3 when the compositor stopped answering, 4 when it could not be reached; a
// disconnect is reported in *lost.
static int run_sequence(uint64_t seed, bool *lost)
{
    const uint64_t requests = c.requests;
    memset(&c, 0, sizeof(c));
    c.requests = requests;
    rng_state = seed;
    c.display = wl_display_connect(NULL);
    if (!c.display)
        return 4;
    bool answered = true;
    c.registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(c.registry, &registry_listener, NULL);
    if (wl_display_roundtrip(c.display) < 0) {
        *lost = true;
    } else {
        if (c.wm_base)
            xdg_wm_base_add_listener(c.wm_base, &wm_base_listener, NULL);
        const uint32_t steps = 1 + below(chance(20) ? 2000 : 300);
        for (uint32_t step = 0; step < steps; ++step) {
            static void (*const actions[])(void)
                = { surface_request,     surface_request,     surface_request,
                    region_request,      pool_request,        pool_request,
                    buffer_request,      subsurface_request,  positioner_request,
                    xdg_surface_request, xdg_surface_request, toplevel_request,
                    toplevel_request,    popup_request,       decoration_request,
                    seat_request,        wm_base_request };
            actions[below(sizeof(actions) / sizeof(actions[0]))]();
            ++c.requests;
            if (step % 16 == 15) {
                if (wl_display_flush(c.display) < 0 && errno != EAGAIN)
                    break;
                if (wl_display_dispatch_pending(c.display) < 0)
                    break;
                if (wl_display_prepare_read(c.display) == 0) {
                    struct pollfd fd = { wl_display_get_fd(c.display), POLLIN, 0 };
                    if (poll(&fd, 1, 0) > 0)
                        wl_display_read_events(c.display);
                    else
                        wl_display_cancel_read(c.display);
                }
                if (wl_display_get_error(c.display))
                    break;
            }
        }
        answered = timed_roundtrip(c.display) != 0;
        *lost = wl_display_get_error(c.display) != 0;
    }

    for (int k = 0; k < K_COUNT; ++k) {
        for (int i = 0; i < c.objects[k].count; ++i)
            wl_proxy_destroy(c.objects[k].items[i]);
    }
    for (int i = 0; i < c.pool_count; ++i) {
        wl_proxy_destroy((struct wl_proxy *)c.pools[i].proxy);
        close(c.pools[i].fd);
    }
    void *globals[] = { c.compositor, c.subcompositor,      c.shm,     c.seat, c.output,
                        c.wm_base,    c.decoration_manager, c.registry };
    for (size_t i = 0; i < sizeof(globals) / sizeof(globals[0]); ++i) {
        if (globals[i])
            wl_proxy_destroy(globals[i]);
    }
    wl_display_disconnect(c.display);
    return answered ? 0 : 3;
}

// Request sequences that once brought the compositor down, each on a connection of its own.
static struct xdg_toplevel *shown_toplevel(struct wl_surface *surface, struct xdg_surface **xs)
{
    *xs = xdg_wm_base_get_xdg_surface(c.wm_base, surface);
    struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(*xs);
    wl_surface_commit(surface);
    wl_display_roundtrip(c.display);
    return toplevel;
}

static void note_serial(void *data, struct xdg_surface *surface, uint32_t serial)
{
    (void)surface;
    *(uint32_t *)data = serial;
}

static const struct xdg_surface_listener serial_listener = { note_serial };

static struct wl_buffer *small_buffer(void)
{
    const int fd = memfd_create("wlfuzz", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 64 * 64 * 4) < 0) {
        if (fd >= 0)
            close(fd);
        return NULL;
    }
    struct wl_shm_pool *pool = wl_shm_create_pool(c.shm, fd, 64 * 64 * 4);
    close(fd);
    struct wl_buffer *buffer = wl_shm_pool_create_buffer(pool, 0, 64, 64, 256, 0);
    wl_shm_pool_destroy(pool);
    return buffer;
}

// A top-level that loses its wl_surface or its xdg_surface before its role object, while the
// compositor still has a configure for it in hand: in the same batch of requests that made it
// ("new") or that gave it its first buffer ("mapped"). A top-level that lost its wl_surface is
// kept a while before it goes, so that whatever the compositor queued for it runs meanwhile.
static bool destroy_out_of_order(struct wl_surface *surface, bool surface_first, bool mapped)
{
    struct xdg_surface *xs = xdg_wm_base_get_xdg_surface(c.wm_base, surface);
    xdg_surface_add_listener(xs, &xdg_surface_listener, NULL);
    struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(xs);
    wl_surface_commit(surface);
    if (mapped) {
        c.last_serial = 0;
        wl_display_roundtrip(c.display);
        struct wl_buffer *buffer = small_buffer();
        if (!c.last_serial || !buffer)
            return false;
        xdg_surface_ack_configure(xs, c.last_serial);
        wl_surface_attach(surface, buffer, 0, 0);
        wl_surface_commit(surface);
    }
    if (!surface_first) {
        xdg_surface_destroy(xs);
        return true;
    }
    wl_surface_destroy(surface);
    wl_display_roundtrip(c.display);
    usleep(20000);
    wl_display_roundtrip(c.display);
    xdg_toplevel_destroy(toplevel);
    xdg_surface_destroy(xs);
    return true;
}

static int run_case(const char *name)
{
    memset(&c, 0, sizeof(c));
    newest_versions = true;
    c.display = wl_display_connect(NULL);
    if (!c.display)
        return 4;
    c.registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(c.registry, &registry_listener, NULL);
    wl_display_roundtrip(c.display);
    if (!c.compositor || !c.subcompositor || !c.wm_base)
        return 4;
    struct wl_surface *a = wl_compositor_create_surface(c.compositor);
    struct wl_surface *b = wl_compositor_create_surface(c.compositor);
    struct xdg_surface *xa, *xb;
    if (strcmp(name, "self-subsurface") == 0) {
        shown_toplevel(a, &xa);
        wl_subcompositor_get_subsurface(c.subcompositor, a, a);
    } else if (strcmp(name, "subsurface-cycle") == 0) {
        shown_toplevel(a, &xa);
        wl_subcompositor_get_subsurface(c.subcompositor, b, a);
        wl_subcompositor_get_subsurface(c.subcompositor, a, b);
    } else if (strcmp(name, "surface-gone") == 0) {
        xa = xdg_wm_base_get_xdg_surface(c.wm_base, a);
        wl_surface_destroy(a);
        xdg_surface_get_toplevel(xa);
    } else if (strcmp(name, "parent-gone") == 0) {
        struct xdg_toplevel *ta = shown_toplevel(a, &xa);
        struct xdg_toplevel *tb = shown_toplevel(b, &xb);
        xdg_surface_destroy(xb);
        xdg_toplevel_set_parent(ta, tb);
    } else if (strcmp(name, "xdg-surface-first") == 0) {
        shown_toplevel(a, &xa);
        xdg_surface_destroy(xa);
    } else if (strncmp(name, "surface-first-", 14) == 0
               || strncmp(name, "xdg-surface-first-", 18) == 0) {
        if (!destroy_out_of_order(a, name[0] == 's', strstr(name, "-mapped") != NULL))
            return 4;
    } else if (strcmp(name, "toplevel-gone-ack") == 0) {
        // Qt reads the deleted top-level whatever the serial.
        xdg_toplevel_destroy(shown_toplevel(a, &xa));
        xdg_surface_ack_configure(xa, 1);
    } else if (strcmp(name, "second-xdg-surface") == 0) {
        // Qt lets one wl_surface have two top-levels, which then share its item and focus; the
        // first that goes may leave the other's focus handling with a stale pointer.
        uint32_t serials[2] = { 0, 0 };
        xa = xdg_wm_base_get_xdg_surface(c.wm_base, a);
        xb = xdg_wm_base_get_xdg_surface(c.wm_base, a);
        xdg_surface_add_listener(xa, &serial_listener, &serials[0]);
        xdg_surface_add_listener(xb, &serial_listener, &serials[1]);
        struct xdg_toplevel *ta = xdg_surface_get_toplevel(xa);
        struct xdg_toplevel *tb = xdg_surface_get_toplevel(xb);
        wl_surface_commit(a);
        wl_display_roundtrip(c.display);
        struct wl_buffer *buffer = small_buffer();
        if (!buffer)
            return 4;
        xdg_surface_ack_configure(xa, serials[0]);
        xdg_surface_ack_configure(xb, serials[1]);
        wl_surface_attach(a, buffer, 0, 0);
        wl_surface_commit(a);
        wl_display_roundtrip(c.display);
        usleep(20000);
        wl_display_roundtrip(c.display);
        xdg_toplevel_destroy(ta);
        wl_display_roundtrip(c.display);
        usleep(20000);
        wl_display_roundtrip(c.display);
        xdg_toplevel_set_title(tb, "second");
        xdg_surface_ack_configure(xb, serials[1]);
        wl_surface_attach(a, buffer, 0, 0);
        wl_surface_commit(a);
        wl_display_roundtrip(c.display);
        usleep(20000);
        xdg_toplevel_destroy(tb);
        xdg_surface_destroy(xb);
        xdg_surface_destroy(xa);
        wl_surface_destroy(a);
    } else if (strcmp(name, "zero-scale") == 0) {
        shown_toplevel(a, &xa);
        struct wl_buffer *buffer = small_buffer();
        if (!buffer)
            return 4;
        wl_surface_attach(a, buffer, 0, 0);
        wl_surface_set_buffer_scale(a, 0);
        wl_surface_commit(a);
    } else if (strcmp(name, "popup") == 0) {
        // Not refused either: Qt never frees a popup, even one destroyed in order.
        shown_toplevel(a, &xa);
        xb = xdg_wm_base_get_xdg_surface(c.wm_base, b);
        struct xdg_positioner *p = xdg_wm_base_create_positioner(c.wm_base);
        xdg_positioner_set_size(p, 10, 10);
        xdg_positioner_set_anchor_rect(p, 0, 0, 5, 5);
        struct xdg_popup *popup = xdg_surface_get_popup(xb, xa, p);
        wl_surface_commit(b);
        wl_display_roundtrip(c.display);
        xdg_popup_destroy(popup);
        xdg_surface_destroy(xb);
    } else if (strcmp(name, "subsurface") == 0) {
        // Not refused: Qt never frees its record of a sub-surface (see README.md).
        wl_subcompositor_get_subsurface(c.subcompositor, b, a);
    } else {
        fprintf(stderr, "unknown case %s\n", name);
        return 2;
    }
    wl_display_roundtrip(c.display);
    printf("case %s: %s\n", name, wl_display_get_error(c.display) ? "refused" : "accepted");
    fflush(stdout);
    wl_display_disconnect(c.display);
    return 0;
}

int main(int argc, char **argv)
{
    uint64_t seed = (uint64_t)time(NULL) ^ ((uint64_t)getpid() << 32);
    long seconds = 60;
    bool replay = false;
    const char *known_case = NULL;
    long repeat = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--seed") == 0) {
            seed = strtoull(argv[i + 1], NULL, 0);
        } else if (strcmp(argv[i], "--seconds") == 0) {
            seconds = strtol(argv[i + 1], NULL, 0);
        } else if (strcmp(argv[i], "--case") == 0) {
            known_case = argv[i + 1];
        } else if (strcmp(argv[i], "--repeat") == 0) {
            repeat = strtol(argv[i + 1], NULL, 0);
        } else if (strcmp(argv[i], "--replay") == 0) {
            seed = strtoull(argv[i + 1], NULL, 0);
            replay = true;
        } else {
            fprintf(
                stderr,
                "usage: %s [--seed S] [--seconds T] | --replay SEED | --case NAME [--repeat N]\n",
                argv[0]);
            return 2;
        }
    }
    printf("seed %" PRIu64 "\n", seed);
    fflush(stdout);

    struct wl_display *watch = wl_display_connect(NULL);
    if (!watch) {
        fprintf(stderr, "cannot connect to the Wayland display\n");
        return 4;
    }
    if (known_case) {
        int status = 0;
        int answer = 1;
        for (long round = 0; round < repeat && !status && answer > 0; ++round) {
            status = run_case(known_case);
            answer = timed_roundtrip(watch);
        }
        if (answer <= 0)
            fprintf(stderr, "the compositor %s\n", answer == 0 ? "stopped answering" : "is gone");
        wl_display_disconnect(watch);
        return status ? status : answer == 0 ? 3 : answer < 0 ? 4 : 0;
    }
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    uint64_t sequences = 0, disconnects = 0;
    rng_state = seed;
    int status = 0;
    for (;;) {
        const uint64_t sequence_seed = replay ? seed : next_random();
        const uint64_t master = rng_state;
        printf("sequence %" PRIu64 " seed %" PRIu64 "\n", sequences, sequence_seed);
        fflush(stdout);
        bool lost = false;
        status = run_sequence(sequence_seed, &lost);
        if (status) {
            fprintf(stderr, "%s during the sequence of seed %" PRIu64 "\n",
                    status == 3 ? "the compositor stopped answering" : "the compositor is gone",
                    sequence_seed);
            break;
        }
        rng_state = master;
        ++sequences;
        disconnects += lost;
        const int answer = timed_roundtrip(watch);
        if (answer <= 0) {
            fprintf(stderr, "%s after the sequence of seed %" PRIu64 "\n",
                    answer == 0 ? "the compositor stopped answering" : "the compositor is gone",
                    sequence_seed);
            status = answer == 0 ? 3 : 4;
            break;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (replay || now.tv_sec - start.tv_sec >= seconds)
            break;
    }
    printf("sequences %" PRIu64 " requests %" PRIu64 " disconnects %" PRIu64 "\n", sequences,
           c.requests, disconnects);
    wl_display_disconnect(watch);
    return status;
}
