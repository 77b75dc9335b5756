#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The address of the Unix socket at path; false when path is too long for one.
inline bool unixAddress(const QString &path, sockaddr_un &address)
{
    const QByteArray encoded = QFile::encodeName(path);
    std::memset(&address, 0, sizeof(address));
    if (encoded.size() >= int(sizeof(address.sun_path)))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    return true;
}

// A stream socket connected to address (flags such as SOCK_NONBLOCK added), or -1.
inline int connectUnix(const sockaddr_un &address, int flags = 0)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    if (fd >= 0
        && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline int connectUnix(const QString &path, int flags = 0)
{
    sockaddr_un address;
    return unixAddress(path, address) ? connectUnix(address, flags) : -1;
}

// True when a Unix socket at path takes a connection: a compositor's Wayland socket exists
// before it is served, so its file alone says nothing.
inline bool socketAccepts(const QString &path)
{
    const int fd = connectUnix(path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// True when the compositor behind path answers a request within timeoutMs: a socket that
// accepts may still hold its connections in the backlog while the compositor starts.
inline bool socketServes(const QString &path, int timeoutMs = 200)
{
    const int fd = connectUnix(path);
    if (fd < 0)
        return false;
    // wl_display.sync (object 1, opcode 0, 12 bytes) with the new callback object 2.
    const uint32_t sync[3] = { 1, 12u << 16, 2 };
    pollfd reply = { fd, POLLIN, 0 };
    char byte;
    const bool answered = ::send(fd, sync, sizeof(sync), MSG_NOSIGNAL) == ssize_t(sizeof(sync))
        && ::poll(&reply, 1, timeoutMs) == 1 && ::recv(fd, &byte, 1, 0) == 1;
    ::close(fd);
    return answered;
}
