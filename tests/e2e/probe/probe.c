// A minimal xdg-shell client for end-to-end tests. It creates one or more top-level surfaces,
// prints every configure it receives (one line each, flushed), acknowledges it and commits an
// shm buffer of the configured size filled with one colour.
//
// Output lines:
//   connected
//   configure <toplevel> <width> <height> <state,state,...|->
//   committed <toplevel> <width> <height>
//   close <toplevel>
//   destroyed <toplevel>
//
// Commands read from standard input, one per line: "destroy <toplevel>", "quit".

#define _GNU_SOURCE
#include "xdg-shell-client-protocol.h"

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

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm_base;
static struct toplevel toplevels[MAX_TOPLEVELS];
static uint32_t colour = 0xffff0000;
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

static void report(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void report(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char line[512];
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (timestamps) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        printf("@%lld ", (long long)now.tv_sec * 1000000 + now.tv_nsec / 1000);
    }
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

static struct wl_buffer *create_buffer(int width, int height)
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
        pixels[i] = colour;
    munmap(pixels, size);

    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, (int32_t)size);
    struct wl_buffer *buffer
        = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(buffer, &buffer_listener, NULL);
    return buffer;
}

static void xdg_surface_configure(void *data, struct xdg_surface *xdg_surface, uint32_t serial)
{
    struct toplevel *t = data;
    xdg_surface_ack_configure(xdg_surface, serial);
    if (!commit_buffers)
        return;
    // A zero size leaves the choice to the client.
    const int width = t->pending_width > 0 ? t->pending_width : FALLBACK_SIZE;
    const int height = t->pending_height > 0 ? t->pending_height : FALLBACK_SIZE;
    struct wl_buffer *buffer = create_buffer(width, height);
    if (!buffer) {
        report("error buffer %d", t->index);
        return;
    }
    wl_surface_attach(t->surface, buffer, 0, 0);
    wl_surface_damage(t->surface, 0, 0, width, height);
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

static void wm_base_ping(void *data, struct xdg_wm_base *base, uint32_t serial)
{
    (void)data;
    xdg_wm_base_pong(base, serial);
}

static const struct xdg_wm_base_listener wm_base_listener = { wm_base_ping };

static void registry_global(void *data, struct wl_registry *registry, uint32_t name,
                            const char *interface, uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, wl_compositor_interface.name) == 0)
        compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 1);
    else if (strcmp(interface, wl_shm_interface.name) == 0)
        shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
    }
}

static void registry_global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
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

// Returns false when the probe should end.
static bool handle_command(char *line)
{
    int index;
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
            "usage: %s [--color RRGGBB] [--toplevels N] [--no-buffer] [--exit-after-connect]"
            " [--exit-after-create]"
            " [--title TEXT] [--log FILE] [--timestamps] [--count-signals]"
            " [--fork-after-map]\n",
            program);
}

int main(int argc, char **argv)
{
    int count = 1;
    bool exit_after_connect = false;
    bool exit_after_create = false;
    const char *title = "vorlane-probe";
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (strcmp(argv[i], "--color") == 0 && has_value) {
            colour = 0xff000000u | (uint32_t)strtoul(argv[++i], NULL, 16);
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

    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "cannot connect to the Wayland display\n");
        return 1;
    }
    the_display = display;
    report("connected");
    if (exit_after_connect) {
        wl_display_disconnect(display);
        return 0;
    }

    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!compositor || !shm || !wm_base) {
        fprintf(stderr, "missing globals\n");
        return 1;
    }

    for (int i = 0; i < count; ++i) {
        struct toplevel *t = &toplevels[i];
        t->index = i;
        t->surface = wl_compositor_create_surface(compositor);
        t->xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, t->surface);
        xdg_surface_add_listener(t->xdg_surface, &xdg_surface_listener, t);
        t->xdg_toplevel = xdg_surface_get_toplevel(t->xdg_surface);
        xdg_toplevel_add_listener(t->xdg_toplevel, &toplevel_listener, t);
        xdg_toplevel_set_title(t->xdg_toplevel, title);
        t->alive = true;
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
        const int ready = poll(fds, stdin_open ? 2 : 1, -1);
        if (ready < 0) {
            wl_display_cancel_read(display);
            if (errno == EINTR)
                continue;
            break;
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

    report("disconnected");
    wl_display_disconnect(display);
    if (log_file)
        fclose(log_file);
    return 0;
}
