// Cost of the program's SIGBUS guard on the path Qt takes for every shared-memory buffer it
// draws: wl_shm_buffer_get, wl_shm_buffer_ref_pool, wl_shm_buffer_get_data and, when the image
// goes, wl_shm_pool_unref. The same sequence runs through libwayland-server directly and through
// the guard's definitions (linked into this program), with 1 and with 500 other pools held, as by
// that many surfaces on screen.

#include "shmguard.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <wayland-client.h>
#include <wayland-server.h>

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int ITERATIONS = 2000000;
constexpr int RUNS = 5;
constexpr int HELD_POOLS = 500;

struct Accessors
{
    wl_shm_buffer *(*get)(wl_resource *);
    wl_shm_pool *(*refPool)(wl_shm_buffer *);
    void *(*data)(wl_shm_buffer *);
    void (*unref)(wl_shm_pool *);
};

wl_shm *clientShm = nullptr;

void registryGlobal(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (qstrcmp(interface, wl_shm_interface.name) == 0)
        clientShm = static_cast<wl_shm *>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
}

void registryGlobalRemove(void *, wl_registry *, uint32_t) { }

const wl_registry_listener registryListener = { registryGlobal, registryGlobalRemove };

wl_buffer *createBuffer()
{
    const int size = 64 * 64 * 4;
    const int fd = memfd_create("bench", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0)
        return nullptr;
    wl_shm_pool *pool = wl_shm_create_pool(clientShm, fd, size);
    wl_buffer *buffer = wl_shm_pool_create_buffer(pool, 0, 64, 64, 256, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

// Nanoseconds per sequence, the median of RUNS.
double measure(const Accessors &accessors, wl_resource *resource)
{
    std::vector<double> runs;
    for (int run = 0; run < RUNS; ++run) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < ITERATIONS; ++i) {
            wl_shm_buffer *buffer = accessors.get(resource);
            wl_shm_pool *pool = accessors.refPool(buffer);
            void *data = accessors.data(buffer);
            asm volatile("" : : "r"(data) : "memory");
            accessors.unref(pool);
        }
        runs.push_back(double(timer.nsecsElapsed()) / ITERATIONS);
    }
    std::sort(runs.begin(), runs.end());
    return runs[RUNS / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Vorlane::ShmGuard guard;

    // A server with wl_shm and one client on a socket pair; the server runs in its own thread
    // only until the client's buffers exist.
    wl_display *server = wl_display_create();
    wl_display_init_shm(server);
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return 1;
    wl_client *serverClient = wl_client_create(server, sockets[0]);
    std::thread serverThread([server] { wl_display_run(server); });

    wl_display *client = wl_display_connect_to_fd(sockets[1]);
    wl_registry *registry = wl_display_get_registry(client);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(client);
    if (!clientShm)
        return 1;
    std::vector<wl_buffer *> buffers;
    for (int i = 0; i <= HELD_POOLS; ++i)
        buffers.push_back(createBuffer());
    wl_display_roundtrip(client);
    wl_display_terminate(server);
    serverThread.join();

    std::vector<wl_resource *> resources;
    for (wl_buffer *buffer : buffers)
        resources.push_back(wl_client_get_object(
            serverClient, wl_proxy_get_id(reinterpret_cast<wl_proxy *>(buffer))));
    const Accessors direct = {
        reinterpret_cast<wl_shm_buffer *(*)(wl_resource *)>(dlsym(RTLD_NEXT, "wl_shm_buffer_get")),
        reinterpret_cast<wl_shm_pool *(*)(wl_shm_buffer *)>(
            dlsym(RTLD_NEXT, "wl_shm_buffer_ref_pool")),
        reinterpret_cast<void *(*)(wl_shm_buffer *)>(dlsym(RTLD_NEXT, "wl_shm_buffer_get_data")),
        reinterpret_cast<void (*)(wl_shm_pool *)>(dlsym(RTLD_NEXT, "wl_shm_pool_unref")),
    };
    const Accessors guarded
        = { wl_shm_buffer_get, wl_shm_buffer_ref_pool, wl_shm_buffer_get_data, wl_shm_pool_unref };

    std::printf("Buffer accessors per drawn buffer (get, ref_pool, get_data, pool_unref), "
                "median of %d runs of %d\n",
                RUNS, ITERATIONS);
    std::printf("%-28s %12s %12s %12s\n", "pools held", "direct ns", "guarded ns", "added ns");
    const double directOne = measure(direct, resources.front());
    const double guardedOne = measure(guarded, resources.front());
    std::printf("%-28d %12.1f %12.1f %12.1f\n", 1, directOne, guardedOne, guardedOne - directOne);

    // The other pools stay referenced, as by images on screen; the measured one is the last.
    std::vector<wl_shm_pool *> held;
    for (int i = 1; i <= HELD_POOLS; ++i) {
        wl_shm_buffer *buffer = wl_shm_buffer_get(resources[size_t(i)]);
        held.push_back(wl_shm_buffer_ref_pool(buffer));
        wl_shm_buffer_get_data(buffer);
    }
    const double directMany = measure(direct, resources.front());
    const double guardedMany = measure(guarded, resources.front());
    std::printf("%-28d %12.1f %12.1f %12.1f\n", HELD_POOLS + 1, directMany, guardedMany,
                guardedMany - directMany);
    for (wl_shm_pool *pool : held)
        wl_shm_pool_unref(pool);

    wl_display_disconnect(client);
    wl_client_destroy(serverClient);
    wl_display_destroy(server);
    return 0;
}
