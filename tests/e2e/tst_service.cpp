// The program as a system service: clients that connect while it starts, the listening socket
// handed over by systemd, and the readiness and watchdog messages on a NOTIFY_SOCKET.

#include "compositorfixture.h"
#include "halveslayout.h"
#include "socketaccepts.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int unixSocket(int type, const QString &path, sockaddr_un &address)
{
    return unixAddress(path, address) ? ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0) : -1;
}

// A socket bound at path in the way systemd binds a socket unit's.
int listeningSocket(const QString &path)
{
    sockaddr_un address;
    const int fd = unixSocket(SOCK_STREAM, path, address);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0
        || ::listen(fd, 128) != 0)
        return -1;
    return fd;
}

// Messages that the compositor sends to its NOTIFY_SOCKET.
class NotifySocket
{
public:
    explicit NotifySocket(const QString &path)
    {
        sockaddr_un address;
        m_fd = unixSocket(SOCK_DGRAM | SOCK_NONBLOCK, path, address);
        if (m_fd >= 0
            && ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~NotifySocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isValid() const { return m_fd >= 0; }

    // Every message received since the last call.
    QList<QByteArray> take()
    {
        QList<QByteArray> messages;
        char buffer[4096];
        ssize_t size;
        while ((size = ::recv(m_fd, buffer, sizeof(buffer), 0)) >= 0)
            messages << QByteArray(buffer, int(size)).trimmed();
        return messages;
    }
    // Waits for a message; every message received meanwhile is appended to seen.
    bool waitFor(const QByteArray &message, QList<QByteArray> &seen, int timeoutMs = 30000)
    {
        return QTest::qWaitFor(
            [&] {
                const QList<QByteArray> messages = take();
                seen << messages;
                return messages.contains(message);
            },
            timeoutMs);
    }

private:
    int m_fd = -1;
};

} // namespace

class tst_Service : public QObject
{
    Q_OBJECT

private slots:
    void earlyClient_data();
    void earlyClient();
    void readinessAndWatchdog();
};

void tst_Service::earlyClient_data()
{
    QTest::addColumn<bool>("activated");
    QTest::newRow("own socket") << false;
    QTest::newRow("socket from systemd") << true;
}

// A client that connects while the compositor is still starting waits in the socket's backlog
// and is placed like any later one.
void tst_Service::earlyClient()
{
    QFETCH(bool, activated);
    CompositorFixture f;
    QVERIFY(HalvesLayout::prepare(f));

    QProcess *probe = nullptr;
    int listening = -1;
    if (activated) {
        // The keyboard's protocols are among the globals an early client must be told of.
        f.setSetting(QStringLiteral("Keyboard/Enabled"), QStringLiteral("1"));
        // The socket exists, and the client is connected, before the compositor runs at all.
        listening = listeningSocket(f.socketPath());
        QVERIFY(listening >= 0);
        probe = f.startClient(CompositorFixture::probePath());
        QVERIFY(QTest::qWaitFor([&] { return f.clientLines(probe).contains("connected"); }, 30000));
        f.setCompositorChildSetup([listening] {
            ::dup2(listening, 3);
            ::fcntl(3, F_SETFD, 0);
        });
        f.setCompositorEnvironment(QStringLiteral("LISTEN_FDS"), QStringLiteral("1"));
        f.setLauncher({ QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("LISTEN_PID=$$ exec \"$0\" \"$@\"") });
        QVERIFY(f.start());
    } else {
        QVERIFY(f.start());
        QDeadlineTimer deadline(30000);
        while (!socketAccepts(f.socketPath()) && !deadline.hasExpired() && f.compositorRunning())
            QThread::usleep(500);
        probe = f.startClient(CompositorFixture::probePath());
    }
    const auto closeListening = qScopeGuard([listening] {
        if (listening >= 0)
            ::close(listening);
    });

    QVERIFY2(
        QTest::qWaitFor(
            [&] { return f.lastProbeConfigure(probe).startsWith(HalvesLayout::leftSize); }, 30000),
        qPrintable(f.clientLines(probe).join(QLatin1Char('\n')) + f.stderrText()));
    QCOMPARE(f.probeConfigures(probe).first(), QStringLiteral("0 0 -"));
    QVERIFY(f.compositorRunning());
    if (activated) {
        // An early client is told of every global in its first round trip, also of those made
        // after the compositor.
        QProcess *late = f.startClient(CompositorFixture::probePath());
        QVERIFY(QTest::qWaitFor([&] { return !f.clientLines(late).filter("globals").isEmpty(); }));
        QCOMPARE(f.clientLines(probe).filter("globals"), f.clientLines(late).filter("globals"));
    }
    // With a socket of its own, and only then, the compositor holds the name's lock.
    QCOMPARE(QFile::exists(f.socketPath() + QStringLiteral(".lock")), !activated);
    QCOMPARE(f.stopCompositor(SIGTERM), 0);
    // Its own socket goes with it; the handed-over one stays for the next start.
    QCOMPARE(QFile::exists(f.socketPath()), activated);
}

void tst_Service::readinessAndWatchdog()
{
#ifndef VORLANE_HAVE_LIBSYSTEMD
    QSKIP("built without libsystemd: the program does not report to a service manager");
#endif
    CompositorFixture f;
    QVERIFY(HalvesLayout::prepare(f));
    NotifySocket notify(f.baseDir() + QStringLiteral("/notify"));
    QVERIFY(notify.isValid());
    f.setCompositorEnvironment(QStringLiteral("NOTIFY_SOCKET"),
                               f.baseDir() + QStringLiteral("/notify"));
    // A ping every 200 ms.
    f.setCompositorEnvironment(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
    QVERIFY(f.start());

    QList<QByteArray> seen;
    QVERIFY2(notify.waitFor("READY=1", seen), qPrintable(f.stderrText()));
    QVERIFY(socketAccepts(f.socketPath()));
    seen.clear();
    QVERIFY(notify.waitFor("WATCHDOG=1", seen));
    QVERIFY(notify.waitFor("WATCHDOG=1", seen));
    QVERIFY(!seen.contains("READY=1"));

    // A stopped main thread pings no more.
    const qint64 pid = f.compositorPid();
    QVERIFY(CompositorFixture::sendSignal(pid, SIGSTOP));
    QVERIFY(QTest::qWaitFor([&] { return CompositorFixture::processState(pid) == 'T'; }, 10000));
    notify.take();
    QTest::qWait(1500);
    QCOMPARE(notify.take(), QList<QByteArray>());

    QVERIFY(CompositorFixture::sendSignal(pid, SIGCONT));
    QVERIFY(notify.waitFor("WATCHDOG=1", seen));
    QCOMPARE(f.stopCompositor(SIGTERM), 0);
    QVERIFY(notify.take().contains("STOPPING=1"));
}

QTEST_GUILESS_MAIN(tst_Service)
#include "tst_service.moc"
