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

// True when a Unix socket at path takes a connection: a compositor's Wayland socket exists
// before it is served, so its file alone says nothing.
inline bool socketAccepts(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address;
    if (encoded.size() >= int(sizeof(address.sun_path)))
        return false;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected
        = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

// True when the compositor behind path answers a request within timeoutMs: a socket that
// accepts may still hold its connections in the backlog while the compositor starts.
inline bool socketServes(const QString &path, int timeoutMs = 200)
{
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address;
    if (encoded.size() >= int(sizeof(address.sun_path)))
        return false;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool answered = false;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0) {
        // wl_display.sync (object 1, opcode 0, 12 bytes) with the new callback object 2.
        const uint32_t sync[3] = { 1, 12u << 16, 2 };
        pollfd reply = { fd, POLLIN, 0 };
        char byte;
        answered = ::send(fd, sync, sizeof(sync), MSG_NOSIGNAL) == ssize_t(sizeof(sync))
            && ::poll(&reply, 1, timeoutMs) == 1 && ::recv(fd, &byte, 1, 0) == 1;
    }
    ::close(fd);
    return answered;
}
