// Floods of held connections against the real program started with the descriptor limits of a
// typical service: the compositor must neither spin nor flood its log, and a well-behaved client
// must still be placed.

#include "compositorfixture.h"
#include "cputime.h"
#include "halveslayout.h"
#include "socketaccepts.h"

#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int floodConnections = 1000;

QByteArray limitsLine(qint64 pid)
{
    QFile limits(QStringLiteral("/proc/%1/limits").arg(pid));
    if (!limits.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : limits.readAll().split('\n')) {
        if (line.startsWith("Max open files"))
            return line.simplified();
    }
    return {};
}

} // namespace

class tst_ConnectionFlood : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void heldConnections_data();
    void heldConnections();
};

void tst_ConnectionFlood::initTestCase()
{
    // This process holds the flood of one process itself.
    rlimit limit;
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < rlim_t(floodConnections + 100))
        QSKIP("the hard limit of open files is too low to hold the flood");
    limit.rlim_cur = limit.rlim_max;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
}

void tst_ConnectionFlood::heldConnections_data()
{
    QTest::addColumn<int>("processes");
    QTest::addColumn<bool>("hardLimit");
    // One process: the per-process limit refuses most, whatever the descriptor limit.
    QTest::newRow("one process, soft limit 1024") << 1 << false;
    // Many processes under a hard limit: accept() runs out of descriptors; new clients wait in
    // the backlog until the flood is gone.
    QTest::newRow("40 processes, hard limit 1024") << 40 << true;
}

void tst_ConnectionFlood::heldConnections()
{
    QFETCH(int, processes);
    QFETCH(bool, hardLimit);

    CompositorFixture f;
    QVERIFY(HalvesLayout::prepare(f));
    f.setCompositorChildSetup([hardLimit] {
        rlimit limit;
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
            limit.rlim_cur = 1024;
            if (hardLimit)
                limit.rlim_max = 1024;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    });
    // LeakSanitizer's exit check stops every thread through a tracer, which now and then
    // crashes itself in a process that has just closed a thousand connections; leaks are checked
    // by the other tests, so the sanitizer build skips it here.
    const QByteArray asanOptions = qgetenv("ASAN_OPTIONS");
    if (!asanOptions.isEmpty()) {
        f.setCompositorEnvironment(QStringLiteral("ASAN_OPTIONS"),
                                   QString::fromLocal8Bit(asanOptions + ":detect_leaks=0"));
    }
    QVERIFY(f.startAndWait());
    const qint64 pid = f.compositorPid();
    const QByteArray limits = limitsLine(pid);
    QVERIFY2(hardLimit ? limits.contains(" 1024 1024 ") : !limits.contains(" 1024 "),
             limits.constData());

    sockaddr_un address;
    QVERIFY(unixAddress(f.socketPath(), address));
    QList<int> held;
    QList<pid_t> children;
    const auto releaseFlood = [&] {
        for (int fd : std::as_const(held))
            ::close(fd);
        held.clear();
        for (pid_t child : std::as_const(children)) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        children.clear();
    };
    const auto release = qScopeGuard(releaseFlood);
    const int perProcess = floodConnections / processes;
    if (processes == 1) {
        for (int i = 0; i < floodConnections; ++i) {
            const int fd = connectUnix(address);
            QVERIFY(fd >= 0);
            held << fd;
        }
    } else {
        for (int p = 0; p < processes; ++p) {
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                for (int i = 0; i < perProcess; ++i)
                    (void)connectUnix(address);
                for (;;)
                    ::pause();
            }
            children << child;
        }
    }
    const QString sign = processes == 1 ? QStringLiteral("Refusing a Wayland connection")
                                        : QStringLiteral("Cannot accept a Wayland client");
    QVERIFY2(QTest::qWaitFor([&] { return f.stderrContains(sign); }, 60000),
             qPrintable(f.stderrText()));

    // While the flood is held, a new client gets in (at once, or from the backlog as soon as
    // the flood is gone).
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    const double cpuBefore = cpuSeconds(pid);
    QTest::qWait(3000);
    const double cpu = cpuSeconds(pid) - cpuBefore;
    QVERIFY2(cpu < 1.0, qPrintable(QStringLiteral("%1 s of CPU in 3 s").arg(cpu)));
    if (processes > 1)
        releaseFlood();
    QVERIFY2(
        QTest::qWaitFor(
            [&] { return f.lastProbeConfigure(probe).startsWith(HalvesLayout::leftSize); }, 60000),
        qPrintable(f.stderrText().right(2000)));

    QVERIFY(f.compositorRunning());
    const qsizetype logSize = f.stderrText().size();
    qInfo("CPU %.2f s in 3 s of flood, log %lld bytes", cpu, qlonglong(logSize));
    QVERIFY2(logSize < 1024 * 1024, qPrintable(QString::number(logSize)));
    const int status = f.stopCompositor(SIGTERM);
    QVERIFY2(
        status == 0,
        qPrintable(QStringLiteral("exit status %1:\n").arg(status) + f.stderrText().right(4000)));
}

QTEST_GUILESS_MAIN(tst_ConnectionFlood)
#include "tst_connectionflood.moc"
