#ifndef VORLANE_CONNECTIONACCEPTOR_H
#define VORLANE_CONNECTIONACCEPTOR_H

#include "messagethrottle.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

#include <sys/types.h>

class QSocketNotifier;
struct wl_display;
struct wl_client;
struct wl_listener;

namespace Vorlane {

class WaylandSocket;

// Accepts the clients of the Wayland socket for the compositor's display, in place of
// libwayland, which would spin and log once per try when accept() fails for want of
// descriptors. One process may hold at most MAX_CONNECTIONS_PER_PROCESS connections; more
// are closed at once. Connections made before the display exists wait in the backlog.
class ConnectionAcceptor : public QObject
{
    Q_OBJECT

public:
    static constexpr int MAX_CONNECTIONS_PER_PROCESS = 32;
    // How long accepting rests after running out of descriptors, unless a client leaves first.
    static constexpr int PAUSE_MS = 250;

    explicit ConnectionAcceptor(WaylandSocket *socket, QObject *parent = nullptr);
    ~ConnectionAcceptor() override;

    // The acceptor of this process, or nullptr.
    static ConnectionAcceptor *instance();

    // Serves the socket's connections to this display from the event loop on. False when there
    // is no socket or another display is already served.
    bool attach(wl_display *display);
    bool isAttached() const { return m_display != nullptr; }
    const char *socketName() const;
    // Takes the connections waiting in the backlog at once, without waiting for the event loop.
    void acceptWaiting();

private slots:
    void acceptPending();
    void resume();

private:
    struct Connection;
    static void clientDestroyed(wl_listener *listener, void *data);
    static void displayDestroyed(wl_listener *listener, void *data);
    bool descriptorsFree(int count) const;
    void pause(int error);
    void serve(int fd);
    void forget(Connection *connection);

    WaylandSocket *m_socket;
    wl_display *m_display = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_resumeTimer;
    QHash<pid_t, int> m_perProcess;
    QList<Connection *> m_connections;
    wl_listener *m_displayListener = nullptr;
    MessageThrottle m_refusals;
    MessageThrottle m_failures;
};

} // namespace Vorlane

#endif // VORLANE_CONNECTIONACCEPTOR_H
