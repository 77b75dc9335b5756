#include "waylandsocket.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Vorlane {

namespace {

// The first descriptor systemd passes, and the last "wayland-N" libwayland would try.
const int firstPassedFd = 3;
const int lastDisplayNumber = 32;

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool isListeningUnixStream(int fd)
{
    int value = 0;
    socklen_t length = sizeof(value);
    if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &value, &length) != 0 || !value)
        return false;
    length = sizeof(value);
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &value, &length) != 0 || value != SOCK_STREAM)
        return false;
    length = sizeof(value);
    return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &value, &length) == 0 && value == AF_UNIX;
}

} // namespace

WaylandSocket::~WaylandSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
    // A socket of our own goes with us; one of systemd's stays for the next start.
    if (!m_activated && !m_path.empty()) {
        ::unlink(m_path.c_str());
        ::unlink(m_lockPath.c_str());
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool WaylandSocket::open()
{
    if (m_fd >= 0)
        return true;
    return adoptActivated() || bindFree();
}

bool WaylandSocket::adoptActivated()
{
    const std::string pid = environment("LISTEN_PID");
    const std::string count = environment("LISTEN_FDS");
    if (pid.empty() || count.empty() || std::atoll(pid.c_str()) != ::getpid())
        return false;
    // Meant for this process only: the clients it starts must not take them for their own.
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    const int fds = std::atoi(count.c_str());
    if (fds < 1)
        return false;
    if (fds > 1)
        std::fprintf(stderr,
                     "Socket activation passed %d sockets; the first one is the Wayland socket, "
                     "the rest are not used\n",
                     fds);
    if (!isListeningUnixStream(firstPassedFd)) {
        std::fprintf(stderr,
                     "Socket activation passed a descriptor that is not a listening Unix stream "
                     "socket; opening a socket of our own\n");
        return false;
    }
    ::fcntl(firstPassedFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(firstPassedFd, F_SETFL, ::fcntl(firstPassedFd, F_GETFL) | O_NONBLOCK);
    m_fd = firstPassedFd;
    m_activated = true;

    sockaddr_un address;
    socklen_t length = sizeof(address);
    std::memset(&address, 0, sizeof(address));
    if (::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) == 0
        && address.sun_path[0] != '\0') {
        const std::string path(address.sun_path,
                               strnlen(address.sun_path, sizeof(address.sun_path)));
        std::string runtime = environment("XDG_RUNTIME_DIR");
        while (runtime.size() > 1 && runtime.back() == '/')
            runtime.pop_back();
        const size_t slash = path.rfind('/');
        const bool inRuntime = !runtime.empty() && slash != std::string::npos && slash > 0
            && path.compare(0, slash, runtime) == 0 && runtime.size() == slash;
        m_name = inRuntime ? path.substr(slash + 1) : path;
    } else {
        m_name = "wayland-0";
    }
    return true;
}

bool WaylandSocket::bindFree()
{
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (runtime.empty())
        return false;
    for (int number = 0; number <= lastDisplayNumber; ++number) {
        const std::string name = "wayland-" + std::to_string(number);
        const std::string path = runtime + '/' + name;
        sockaddr_un address;
        if (path.size() >= sizeof(address.sun_path)) {
            std::fprintf(stderr, "The Wayland socket path %s is too long\n", path.c_str());
            return false;
        }
        const std::string lockPath = path + ".lock";
        const int lockFd = ::open(lockPath.c_str(), O_CREAT | O_CLOEXEC | O_RDWR,
                                  S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP);
        if (lockFd < 0)
            continue;
        if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
            ::close(lockFd);
            continue;
        }
        // Whoever left the socket behind no longer holds the lock.
        struct stat status;
        if (::lstat(path.c_str(), &status) == 0 && (status.st_mode & (S_IWUSR | S_IWGRP)))
            ::unlink(path.c_str());

        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        std::memset(&address, 0, sizeof(address));
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size());
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0
            || ::listen(fd, SOMAXCONN) != 0) {
            std::fprintf(stderr, "Cannot listen on the Wayland socket %s: %s\n", path.c_str(),
                         std::strerror(errno));
            if (fd >= 0)
                ::close(fd);
            ::close(lockFd);
            return false;
        }
        m_fd = fd;
        m_lockFd = lockFd;
        m_name = name;
        m_path = path;
        m_lockPath = lockPath;
        return true;
    }
    return false;
}

} // namespace Vorlane
