// Loaded into the compositor with LD_PRELOAD, ahead of the program's own library: Qt's calls that
// hand over the Wayland socket (or, built with BLOCK_SHM, that read client buffers) reach these
// definitions, which go straight to libwayland, as they would if Qt called other functions than
// the program expects.

#define _GNU_SOURCE
#include <dlfcn.h>

struct wl_display;

static void *libwayland(const char *name)
{
    void *library = dlopen("libwayland-server.so.0", RTLD_NOW | RTLD_NOLOAD);
    return library ? dlsym(library, name) : 0;
}

#ifdef BLOCK_SHM

struct wl_shm_buffer;

void *wl_shm_buffer_get_data(struct wl_shm_buffer *buffer)
{
    void *(*real)(struct wl_shm_buffer *) = libwayland("wl_shm_buffer_get_data");
    return real ? real(buffer) : 0;
}

#else

const char *wl_display_add_socket_auto(struct wl_display *display)
{
    const char *(*real)(struct wl_display *) = libwayland("wl_display_add_socket_auto");
    return real ? real(display) : 0;
}

int wl_display_add_socket(struct wl_display *display, const char *name)
{
    int (*real)(struct wl_display *, const char *) = libwayland("wl_display_add_socket");
    return real ? real(display, name) : -1;
}

#endif
