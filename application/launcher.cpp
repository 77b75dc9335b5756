// The program's entry point. The compositor itself needs some sixty shared libraries (Qt and
// what it uses), whose loading takes tens of milliseconds before any code of it runs; this small
// launcher opens the Wayland socket first, so that clients can connect (and wait in the backlog)
// meanwhile, and then loads the compositor and hands it the socket.

#include "waylandsocket.h"

#include <cstdio>
#include <dlfcn.h>
#include <sys/resource.h>

namespace {

// A service starts with a soft limit of 1024 descriptors, which some hundred connections of one
// careless or hostile program use up; take all that the hard limit allows.
void raiseFileLimit()
{
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace

int main(int argc, char *argv[])
{
    // Static, so that the socket file also goes when the compositor ends the process with exit()
    // (its option parser does).
    static Vorlane::WaylandSocket socket;
    socket.open();
    raiseFileLimit();

    // Global, so that Qt Wayland Compositor finds the compositor's own socket set-up.
    void *compositor = ::dlopen(VORLANE_COMPOSITOR_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
    if (!compositor) {
        std::fprintf(stderr, "Cannot load the compositor: %s\n", ::dlerror());
        return 127;
    }
    using Entry = int (*)(int, char **, Vorlane::WaylandSocket *);
    const auto entry = reinterpret_cast<Entry>(::dlsym(compositor, "vorlane_application_main"));
    if (!entry) {
        std::fprintf(stderr, "Cannot start the compositor: %s\n", ::dlerror());
        return 127;
    }
    return entry(argc, argv, &socket);
}
