#include "connectionacceptor.h"
#include "waylandsocket.h"

#include <QDebug>
#include <QSocketNotifier>

#include <wayland-server-core.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>

namespace Vorlane {

namespace {

// Connections taken per wake-up, so that a flood cannot hold up drawing and input.
const int acceptBatch = 64;
// A client takes two descriptors (libwayland keeps a copy of the connection's); the rest stay
// free for the compositor's own files, pipes and messages.
const int descriptorsPerClient = 2;
const int descriptorMargin = 8;

ConnectionAcceptor *activeAcceptor = nullptr;

// libwayland reports a misbehaving client once per event, which a client can repeat at will.
void logFromLibwayland(const char *format, va_list args)
{
    static MessageThrottle throttle;
    if (!throttle.allow())
        return;
    char text[512];
    std::vsnprintf(text, sizeof(text), format, args);
    const int suppressed = throttle.takeSuppressed();
    QByteArray line = QByteArray("libwayland: ") + QByteArray(text).trimmed();
    if (suppressed > 0)
        line += " (" + QByteArray::number(suppressed) + " similar messages suppressed)";
    qWarning().noquote() << line;
}

QString suppressedNote(MessageThrottle &throttle)
{
    const int suppressed = throttle.takeSuppressed();
    return suppressed > 0 ? QStringLiteral(" (%1 similar messages suppressed)").arg(suppressed)
                          : QString();
}

} // namespace

struct ConnectionAcceptor::Connection
{
    wl_listener listener;
    ConnectionAcceptor *acceptor;
    pid_t pid;
};

ConnectionAcceptor::ConnectionAcceptor(WaylandSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_resumeTimer.setSingleShot(true);
    m_resumeTimer.setInterval(PAUSE_MS);
    connect(&m_resumeTimer, &QTimer::timeout, this, &ConnectionAcceptor::resume);
    wl_log_set_handler_server(logFromLibwayland);
    activeAcceptor = this;
}

ConnectionAcceptor::~ConnectionAcceptor()
{
    if (activeAcceptor == this)
        activeAcceptor = nullptr;
    for (Connection *connection : std::as_const(m_connections)) {
        wl_list_remove(&connection->listener.link);
        delete connection;
    }
    if (m_displayListener) {
        wl_list_remove(&m_displayListener->link);
        delete m_displayListener;
    }
}

ConnectionAcceptor *ConnectionAcceptor::instance()
{
    return activeAcceptor;
}

bool ConnectionAcceptor::attach(wl_display *display)
{
    if (m_display || !display || !m_socket || !m_socket->isOpen())
        return false;
    m_display = display;
    m_displayListener = new wl_listener;
    m_displayListener->notify = &ConnectionAcceptor::displayDestroyed;
    wl_display_add_destroy_listener(display, m_displayListener);
    m_notifier = new QSocketNotifier(m_socket->fd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ConnectionAcceptor::acceptPending);
    return true;
}

const char *ConnectionAcceptor::socketName() const
{
    return m_socket->name().c_str();
}

void ConnectionAcceptor::acceptWaiting()
{
    if (m_notifier && m_notifier->isEnabled())
        acceptPending();
}

void ConnectionAcceptor::acceptPending()
{
    for (int i = 0; i < acceptBatch && m_display; ++i) {
        // Short of descriptors, leave the connection in the backlog.
        if (!descriptorsFree(descriptorsPerClient + descriptorMargin)) {
            pause(EMFILE);
            return;
        }
        const int fd = ::accept4(m_socket->fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            serve(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            pause(errno);
        return;
    }
}

bool ConnectionAcceptor::descriptorsFree(int count) const
{
    int taken[descriptorsPerClient + descriptorMargin];
    int got = 0;
    while (got < count && got < int(std::size(taken))) {
        const int fd = ::fcntl(m_socket->fd(), F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            break;
        taken[got++] = fd;
    }
    const bool enough = got == count;
    while (got > 0)
        ::close(taken[--got]);
    return enough;
}

void ConnectionAcceptor::pause(int error)
{
    // Trying again at once would only spin: rest until a client leaves or the pause is over.
    m_notifier->setEnabled(false);
    m_resumeTimer.start();
    if (m_failures.allow())
        qWarning().noquote() << QStringLiteral("Cannot accept a Wayland client: %1; new clients "
                                               "wait until descriptors are free%2")
                                    .arg(QString::fromLocal8Bit(std::strerror(error)),
                                         suppressedNote(m_failures));
}

void ConnectionAcceptor::serve(int fd)
{
    ucred credentials {};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        ::close(fd);
        return;
    }
    int &count = m_perProcess[credentials.pid];
    if (count >= MAX_CONNECTIONS_PER_PROCESS) {
        ::close(fd);
        if (m_refusals.allow())
            qWarning().noquote()
                << QStringLiteral("Refusing a Wayland connection of process %1: it already holds "
                                  "%2 connections%3")
                       .arg(credentials.pid)
                       .arg(count)
                       .arg(suppressedNote(m_refusals));
        return;
    }
    wl_client *client = wl_client_create(m_display, fd);
    if (!client) {
        ::close(fd);
        if (m_failures.allow())
            qWarning().noquote() << QStringLiteral(
                                        "Cannot set up the Wayland client of process %1%2")
                                        .arg(credentials.pid)
                                        .arg(suppressedNote(m_failures));
        if (count == 0)
            m_perProcess.remove(credentials.pid);
        return;
    }
    ++count;
    auto *connection = new Connection { {}, this, credentials.pid };
    connection->listener.notify = &ConnectionAcceptor::clientDestroyed;
    wl_client_add_destroy_listener(client, &connection->listener);
    m_connections.append(connection);
}

void ConnectionAcceptor::forget(Connection *connection)
{
    m_connections.removeOne(connection);
    auto it = m_perProcess.find(connection->pid);
    if (it != m_perProcess.end() && --it.value() <= 0)
        m_perProcess.erase(it);
    delete connection;
    // A descriptor is free again: whoever waits in the backlog may get it.
    if (m_resumeTimer.isActive())
        resume();
}

void ConnectionAcceptor::resume()
{
    m_resumeTimer.stop();
    if (m_notifier && m_display)
        m_notifier->setEnabled(true);
}

void ConnectionAcceptor::clientDestroyed(wl_listener *listener, void *)
{
    Connection *connection = wl_container_of(listener, connection, listener);
    wl_list_remove(&listener->link);
    connection->acceptor->forget(connection);
}

void ConnectionAcceptor::displayDestroyed(wl_listener *listener, void *)
{
    wl_list_remove(&listener->link);
    ConnectionAcceptor *acceptor = activeAcceptor;
    delete listener;
    if (!acceptor)
        return;
    acceptor->m_displayListener = nullptr;
    acceptor->m_display = nullptr;
    acceptor->m_resumeTimer.stop();
    if (acceptor->m_notifier)
        acceptor->m_notifier->setEnabled(false);
}

} // namespace Vorlane

// Qt Wayland Compositor opens its socket with one of these calls when the compositor is created
// and leaves the accepting to libwayland: Qt 6.4 always with the first, Qt 6.8 with the second
// when WAYLAND_DISPLAY names a socket. The program defines both to hand Qt the socket it opened
// at start-up instead, whatever the name, and to learn the display whose clients it accepts.
extern "C" Q_DECL_EXPORT const char *wl_display_add_socket_auto(wl_display *display)
{
    Vorlane::ConnectionAcceptor *acceptor = Vorlane::ConnectionAcceptor::instance();
    if (acceptor && acceptor->attach(display))
        return acceptor->socketName();
    using AddSocketAuto = const char *(*)(wl_display *);
    static const auto libwayland
        = reinterpret_cast<AddSocketAuto>(::dlsym(RTLD_NEXT, "wl_display_add_socket_auto"));
    return libwayland ? libwayland(display) : nullptr;
}

extern "C" Q_DECL_EXPORT int wl_display_add_socket(wl_display *display, const char *name)
{
    Vorlane::ConnectionAcceptor *acceptor = Vorlane::ConnectionAcceptor::instance();
    if (acceptor && acceptor->attach(display))
        return 0;
    using AddSocket = int (*)(wl_display *, const char *);
    static const auto libwayland
        = reinterpret_cast<AddSocket>(::dlsym(RTLD_NEXT, "wl_display_add_socket"));
    return libwayland ? libwayland(display, name) : -1;
}
