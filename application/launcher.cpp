// The program's entry point. The compositor itself needs some sixty shared libraries (Qt and
// what it uses), whose loading takes tens of milliseconds before any code of it runs; this small
// launcher opens the Wayland socket first, so that clients can connect (and wait in the backlog)
// meanwhile, and then loads the compositor and hands it the socket.

#include "hooks/waylandsocket.h"

#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

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

// The compositor library beside the program (build tree) or in the library directory beside the
// binary directory (installed). Found by path: a sanitizer's dlopen would search the run path
// of the sanitizer's library instead of the program's. Global, so that Qt Wayland Compositor
// finds the compositor's own socket set-up.
void *loadCompositor()
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string dir = length > 0 ? std::string(self, size_t(length)) : std::string();
    dir = dir.substr(0, dir.rfind('/') + 1);
    for (const char *relative : { "", "../" VORLANE_INSTALL_LIBDIR "/" }) {
        const std::string path = dir + relative + VORLANE_COMPOSITOR_LIBRARY;
        if (::access(path.c_str(), F_OK) == 0)
            return ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    }
    return ::dlopen(VORLANE_COMPOSITOR_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
}

} // namespace

int main(int argc, char *argv[])
{
    // Static, so that the socket file also goes when the compositor ends the process with exit()
    // (its option parser does).
    static Vorlane::WaylandSocket socket;
    socket.open();
    raiseFileLimit();

    void *compositor = loadCompositor();
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
