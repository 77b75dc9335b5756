#include "waylandsocket.h"

#include <QDebug>

#include <cerrno>
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
    if (!m_activated && !m_path.isEmpty()) {
        ::unlink(m_path.constData());
        ::unlink(m_lockPath.constData());
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
    const QByteArray pid = qgetenv("LISTEN_PID");
    const QByteArray count = qgetenv("LISTEN_FDS");
    if (pid.isEmpty() || count.isEmpty() || pid.toLongLong() != ::getpid())
        return false;
    // Meant for this process only: the clients it starts must not take them for their own.
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    const int fds = count.toInt();
    if (fds < 1)
        return false;
    if (fds > 1)
        qWarning() << "Socket activation passed" << fds
                   << "sockets; the first one is the Wayland socket, the rest are not used";
    if (!isListeningUnixStream(firstPassedFd)) {
        qWarning() << "Socket activation passed a descriptor that is not a listening Unix stream "
                      "socket; opening a socket of our own";
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
        const QByteArray path(address.sun_path,
                              int(strnlen(address.sun_path, sizeof(address.sun_path))));
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const int slash = path.lastIndexOf('/');
        const bool inRuntime = !runtime.isEmpty() && slash > 0
            && (path.left(slash) == runtime || path.left(slash) + '/' == runtime);
        m_name = inRuntime ? path.mid(slash + 1) : path;
    } else {
        m_name = QByteArrayLiteral("wayland-0");
    }
    return true;
}

bool WaylandSocket::bindFree()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return false;
    for (int number = 0; number <= lastDisplayNumber; ++number) {
        const QByteArray name = "wayland-" + QByteArray::number(number);
        const QByteArray path = runtime + '/' + name;
        sockaddr_un address;
        if (size_t(path.size()) >= sizeof(address.sun_path)) {
            qWarning() << "The Wayland socket path" << path << "is too long";
            return false;
        }
        const QByteArray lockPath = path + ".lock";
        const int lockFd = ::open(lockPath.constData(), O_CREAT | O_CLOEXEC | O_RDWR,
                                  S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP);
        if (lockFd < 0)
            continue;
        if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
            ::close(lockFd);
            continue;
        }
        // Whoever left the socket behind no longer holds the lock.
        struct stat status;
        if (::lstat(path.constData(), &status) == 0 && (status.st_mode & (S_IWUSR | S_IWGRP)))
            ::unlink(path.constData());

        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        std::memset(&address, 0, sizeof(address));
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0
            || ::listen(fd, SOMAXCONN) != 0) {
            qWarning() << "Cannot listen on the Wayland socket" << path << ":"
                       << std::strerror(errno);
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
