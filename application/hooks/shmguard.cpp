#include "shmguard.h"
#include "hookcheck.h"

#include <QDebug>
#include <QSocketNotifier>

#include <wayland-server-core.h>
#include <wayland-server-protocol.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

// Qt reads a buffer's pixels only through the QImage that wraps wl_shm_buffer_get_data(); it
// takes a reference on the buffer's pool for that image (wl_shm_buffer_ref_pool) and drops it
// with wl_shm_pool_unref when the image goes. While such a reference is held libwayland neither
// moves nor unmaps the pool. So the program keeps, per referenced pool, the span of the buffers
// read from it and the client they belong to, from the first reference to the last unref.

namespace {

// Pools Qt holds images of at one time: about one per surface on screen.
constexpr int slotCount = 1024; // a power of two
// Faults waiting for the event loop; more in one frame means the same clients again.
constexpr int pendingCount = 64;

struct Slot
{
    // Odd while a writer changes the slot: the signal handler reads without a lock.
    std::atomic<unsigned> sequence { 0 };
    std::atomic<uintptr_t> begin { 0 };
    std::atomic<uintptr_t> end { 0 };
    std::atomic<wl_client *> client { nullptr };
    std::atomic<uint32_t> resourceId { 0 };
    // Only touched under writerMutex.
    wl_shm_pool *pool = nullptr;
    int references = 0;
};

struct Pending
{
    enum { Free, Writing, Ready };
    std::atomic<int> state { Free };
    std::atomic<wl_client *> client { nullptr };
    std::atomic<uint32_t> resourceId { 0 };
};

Slot table[slotCount];
Pending pending[pendingCount];
std::mutex writerMutex;
std::atomic<int> wakeFd { -1 };
std::atomic<wl_display *> serverDisplay { nullptr };
std::atomic<bool> tableFullReported { false };
struct sigaction previousAction;
uintptr_t pageSize = 4096;

// The buffer Qt is turning into an image on this thread: it asks for the buffer of a resource,
// references its pool, then takes its data.
thread_local wl_resource *recentResource = nullptr;
thread_local wl_shm_buffer *recentBuffer = nullptr;
thread_local wl_shm_buffer *recentPoolBuffer = nullptr;
thread_local wl_shm_pool *recentPool = nullptr;

template<typename Function> Function next(const char *name)
{
    auto *function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    if (!function)
        qFatal("Cannot find libwayland-server's %s", name);
    return function;
}

void beginWrite(Slot &slot)
{
    slot.sequence.store(slot.sequence.load(std::memory_order_relaxed) + 1,
                        std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
}

void endWrite(Slot &slot)
{
    slot.sequence.store(slot.sequence.load(std::memory_order_relaxed) + 1,
                        std::memory_order_release);
}

// The table is an open-addressed hash on the pool; a freed slot that others may have probed
// past keeps a mark until the run it belongs to ends in an empty slot.
wl_shm_pool *const removedPool = reinterpret_cast<wl_shm_pool *>(uintptr_t(1));

int home(wl_shm_pool *pool)
{
    return int(((uintptr_t(pool) >> 4) * 0x9E3779B97F4A7C15ull) >> 32) & (slotCount - 1);
}

// Under writerMutex.
Slot *findSlot(wl_shm_pool *pool)
{
    for (int i = 0, at = home(pool); i < slotCount; ++i, at = (at + 1) & (slotCount - 1)) {
        if (table[at].pool == pool)
            return &table[at];
        if (!table[at].pool)
            return nullptr;
    }
    return nullptr;
}

// Under writerMutex; the pool has no slot yet.
Slot *takeSlot(wl_shm_pool *pool)
{
    for (int i = 0, at = home(pool); i < slotCount; ++i, at = (at + 1) & (slotCount - 1)) {
        if (!table[at].pool || table[at].pool == removedPool) {
            table[at].pool = pool;
            return &table[at];
        }
    }
    return nullptr;
}

// Under writerMutex.
void releaseSlot(Slot *slot)
{
    int at = int(slot - table);
    table[at].pool = removedPool;
    // A run that ends here needs no marks: clear them backwards.
    if (table[(at + 1) & (slotCount - 1)].pool)
        return;
    while (table[at].pool == removedPool) {
        table[at].pool = nullptr;
        at = (at + slotCount - 1) & (slotCount - 1);
    }
}

void report(wl_client *client, uint32_t resourceId)
{
    for (Pending &entry : pending) {
        int expected = Pending::Free;
        if (entry.state.compare_exchange_strong(expected, Pending::Writing)) {
            entry.client.store(client, std::memory_order_relaxed);
            entry.resourceId.store(resourceId, std::memory_order_relaxed);
            entry.state.store(Pending::Ready, std::memory_order_release);
            return;
        }
    }
}

// Async-signal-safe: atomics, mmap, write and sigaction only.
void onBusError(int, siginfo_t *info, void *)
{
    const int savedErrno = errno;
    const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    bool handled = false;
    // A positive code is a fault of this process's own access; a signal sent by a process
    // (kill, raise) is left to the previous action.
    if (info->si_code > 0) {
        for (Slot &slot : table) {
            uintptr_t begin = 0;
            uintptr_t end = 0;
            wl_client *client = nullptr;
            uint32_t resourceId = 0;
            bool consistent = false;
            // A writer on another thread finishes within a few instructions.
            for (int attempt = 0; attempt < 1000000 && !consistent; ++attempt) {
                const unsigned before = slot.sequence.load(std::memory_order_acquire);
                if (before & 1)
                    continue;
                begin = slot.begin.load(std::memory_order_relaxed);
                end = slot.end.load(std::memory_order_relaxed);
                client = slot.client.load(std::memory_order_relaxed);
                resourceId = slot.resourceId.load(std::memory_order_relaxed);
                std::atomic_thread_fence(std::memory_order_acquire);
                consistent = slot.sequence.load(std::memory_order_relaxed) == before;
            }
            if (!consistent || address < begin || address >= end)
                continue;
            // The span lies inside the pool's one mapping, which begins and ends on whole pages.
            const uintptr_t first = begin & ~(pageSize - 1);
            const uintptr_t last = (end + pageSize - 1) & ~(pageSize - 1);
            const long mapped = syscall(SYS_mmap, first, last - first, PROT_READ | PROT_WRITE,
                                        MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (mapped == -1)
                continue;
            report(client, resourceId);
            handled = true;
        }
    }
    if (handled) {
        const uint64_t one = 1;
        const int fd = wakeFd.load(std::memory_order_relaxed);
        if (fd >= 0)
            (void)!write(fd, &one, sizeof(one));
    } else {
        // Returning makes a faulting access fault again, now under the previous action; a
        // signal sent by a process is sent once more, and arrives once this handler returns.
        sigaction(SIGBUS, &previousAction, nullptr);
        if (info->si_code <= 0)
            raise(SIGBUS);
    }
    errno = savedErrno;
}

bool connected(wl_display *display, wl_client *client)
{
    wl_client *each = nullptr;
    wl_client_for_each(each, wl_display_get_client_list(display))
    {
        if (each == client)
            return true;
    }
    return false;
}

} // namespace

extern "C" {

Q_DECL_EXPORT struct wl_shm_buffer *wl_shm_buffer_get(struct wl_resource *resource)
{
    static const auto real = next<wl_shm_buffer *(*)(wl_resource *)>("wl_shm_buffer_get");
    wl_shm_buffer *buffer = real(resource);
    recentResource = resource;
    recentBuffer = buffer;
    if (buffer && !serverDisplay.load(std::memory_order_relaxed))
        serverDisplay.store(wl_client_get_display(wl_resource_get_client(resource)));
    return buffer;
}

Q_DECL_EXPORT struct wl_shm_pool *wl_shm_buffer_ref_pool(struct wl_shm_buffer *buffer)
{
    static const auto real = next<wl_shm_pool *(*)(wl_shm_buffer *)>("wl_shm_buffer_ref_pool");
    wl_shm_pool *pool = real(buffer);
    recentPoolBuffer = buffer;
    recentPool = pool;
    std::lock_guard<std::mutex> lock(writerMutex);
    Slot *slot = findSlot(pool);
    if (!slot)
        slot = takeSlot(pool);
    if (slot)
        ++slot->references;
    else if (!tableFullReported.exchange(true))
        qWarning("ShmGuard: more than %d client memory pools in use, the rest are unguarded",
                 slotCount);
    return pool;
}

Q_DECL_EXPORT void *wl_shm_buffer_get_data(struct wl_shm_buffer *buffer)
{
    static const auto real = next<void *(*)(wl_shm_buffer *)>("wl_shm_buffer_get_data");
    void *data = real(buffer);
    if (!data || buffer != recentPoolBuffer)
        return data;
    const auto begin = reinterpret_cast<uintptr_t>(data);
    const uintptr_t end = begin
        + size_t(wl_shm_buffer_get_stride(buffer)) * size_t(wl_shm_buffer_get_height(buffer));
    wl_client *client = nullptr;
    uint32_t resourceId = 0;
    if (buffer == recentBuffer && recentResource) {
        client = wl_resource_get_client(recentResource);
        resourceId = wl_resource_get_id(recentResource);
    }
    std::lock_guard<std::mutex> lock(writerMutex);
    Slot *slot = findSlot(recentPool);
    if (!slot)
        return data;
    // Every buffer of a pool lies in the pool's one mapping: keep the span of all of them.
    const uintptr_t oldBegin = slot->begin.load(std::memory_order_relaxed);
    const uintptr_t oldEnd = slot->end.load(std::memory_order_relaxed);
    beginWrite(*slot);
    slot->begin.store(oldEnd > oldBegin ? std::min(oldBegin, begin) : begin,
                      std::memory_order_relaxed);
    slot->end.store(oldEnd > oldBegin ? std::max(oldEnd, end) : end, std::memory_order_relaxed);
    if (client) {
        slot->client.store(client, std::memory_order_relaxed);
        slot->resourceId.store(resourceId, std::memory_order_relaxed);
    }
    endWrite(*slot);
    return data;
}

Q_DECL_EXPORT void wl_shm_pool_unref(struct wl_shm_pool *pool)
{
    static const auto real = next<void (*)(wl_shm_pool *)>("wl_shm_pool_unref");
    {
        std::lock_guard<std::mutex> lock(writerMutex);
        Slot *slot = findSlot(pool);
        if (slot && --slot->references == 0) {
            beginWrite(*slot);
            slot->begin.store(0, std::memory_order_relaxed);
            slot->end.store(0, std::memory_order_relaxed);
            slot->client.store(nullptr, std::memory_order_relaxed);
            slot->resourceId.store(0, std::memory_order_relaxed);
            endWrite(*slot);
            releaseSlot(slot);
        }
    }
    real(pool);
}

} // extern "C"

namespace Vorlane {

ShmGuard::ShmGuard(QObject *parent)
    : QObject(parent)
{
    pageSize = uintptr_t(sysconf(_SC_PAGESIZE));
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        qWarning("ShmGuard: cannot create an eventfd (%s); truncated client buffers stay fatal",
                 strerror(errno));
        return;
    }
    wakeFd.store(m_wakeFd);
    m_notifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ShmGuard::disconnectFaultyClients);

    struct sigaction action = {};
    action.sa_sigaction = onBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    struct sigaction installed = {};
    if (sigaction(SIGBUS, &action, &previousAction) != 0
        || sigaction(SIGBUS, nullptr, &installed) != 0 || installed.sa_sigaction != onBusError)
        qWarning("ShmGuard: cannot handle SIGBUS; truncated client buffers stay fatal");
}

ShmGuard::~ShmGuard()
{
    if (m_wakeFd < 0)
        return;
    sigaction(SIGBUS, &previousAction, nullptr);
    wakeFd.store(-1);
    delete m_notifier;
    close(m_wakeFd);
}

bool ShmGuard::inEffect()
{
    for (const char *function : { "wl_shm_buffer_get", "wl_shm_buffer_ref_pool",
                                  "wl_shm_buffer_get_data", "wl_shm_pool_unref" }) {
        if (HookCheck::qtBinding(function) != HookCheck::Binding::Ours)
            return false;
    }
    return true;
}

void ShmGuard::disconnectFaultyClients()
{
    uint64_t count = 0;
    (void)!read(m_wakeFd, &count, sizeof(count));
    wl_display *display = serverDisplay.load();
    for (Pending &entry : pending) {
        if (entry.state.load(std::memory_order_acquire) != Pending::Ready)
            continue;
        wl_client *client = entry.client.load(std::memory_order_relaxed);
        const uint32_t resourceId = entry.resourceId.load(std::memory_order_relaxed);
        entry.state.store(Pending::Free, std::memory_order_release);
        // The client may have gone meanwhile, and with it the pointer.
        if (!client || !display || !connected(display, client))
            continue;
        pid_t pid = 0;
        wl_client_get_credentials(client, &pid, nullptr, nullptr);
        qWarning("ShmGuard: client %d truncated the memory of a buffer in use; disconnecting it",
                 int(pid));
        wl_resource *buffer = resourceId ? wl_client_get_object(client, resourceId) : nullptr;
        if (buffer && qstrcmp(wl_resource_get_class(buffer), wl_buffer_interface.name) == 0)
            wl_resource_post_error(buffer, WL_SHM_ERROR_INVALID_FD,
                                   "the buffer's memory was truncated while in use");
        else
            wl_client_post_no_memory(client);
        wl_client_flush(client);
        wl_client_destroy(client);
    }
}

} // namespace Vorlane
