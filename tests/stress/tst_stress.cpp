// Fault and churn tests of the whole program: storms of signals, clients killed at random moments,
// a client kept stopped while the screen changes around it, a process id that changes hands, and
// hostile configuration files. Counts and durations can be raised through the environment (see
// run.sh beside this file); the defaults keep a CI run short.

#include "compositorfixture.h"
#include "driverdump.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

using DriverDump::entryCount;

namespace {

const QByteArray layouts = R"({"layouts": [
  {"id": "main", "name": "Main", "defaultRegion": "left", "regions": [
    {"id": "left", "name": "Left", "x": 0, "y": 0, "width": 0.5, "height": 1, "regions": []},
    {"id": "right", "name": "Right", "x": 0.5, "y": 0, "width": 0.5, "height": 1, "regions": []}]},
  {"id": "second", "name": "Second", "defaultRegion": "top", "regions": [
    {"id": "top", "name": "Top", "x": 0, "y": 0, "width": 1, "height": 0.5, "regions": []},
    {"id": "bottom", "name": "Bottom", "x": 0, "y": 0.5, "width": 1, "height": 0.5, "regions": []}]}
]})";

// The size a client placed in "left" of "main" is given: half of the 704x480 region area.
const QString leftSize = QStringLiteral("352 480");

int envNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

bool hasLine(CompositorFixture &f, QProcess *client, const QString &text)
{
    const QStringList lines = f.clientLines(client);
    for (const QString &line : lines) {
        if (line.contains(text))
            return true;
    }
    return false;
}

bool waitForLine(CompositorFixture &f, QProcess *client, const QString &text, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] { return hasLine(f, client, text); }, timeoutMs);
}

int countLines(CompositorFixture &f, QProcess *client, const QString &text)
{
    const QStringList lines = f.clientLines(client);
    return int(std::count(lines.cbegin(), lines.cend(), text));
}

bool waitForState(qint64 pid, char state, int timeoutMs = 10000)
{
    return QTest::qWaitFor([&] { return CompositorFixture::processState(pid) == state; },
                           timeoutMs);
}

bool waitForEntries(CompositorFixture &f, int count, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] { return entryCount(f) == count; }, timeoutMs);
}

void kill9(QProcess *process)
{
    if (process->state() != QProcess::NotRunning) {
        ::kill(pid_t(process->processId()), SIGKILL);
        process->waitForFinished(10000);
    }
}

QString sanitizerReport(CompositorFixture &f)
{
    for (const QString &marker :
         { QStringLiteral("AddressSanitizer"), QStringLiteral("LeakSanitizer"),
           QStringLiteral("runtime error:") }) {
        if (f.stderrContains(marker))
            return f.stderrText();
    }
    return {};
}

void prepare(CompositorFixture &f, const QString &minimizedMode)
{
    QVERIFY(f.isValid());
    QVERIFY(f.writeLayoutFile(QStringLiteral("layouts.json"), layouts));
    QVERIFY(f.writeClientEntry(QStringLiteral("probe.desktop"), QStringLiteral("Probe"),
                               CompositorFixture::probePath(),
                               QStringLiteral("X-DefaultRegion=main:left;second:top\n"
                                              "X-MinimizedMode=")
                                   + minimizedMode));
    f.enableDriver();
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("main"));
}

// Starts a child that receives the given process id, by setting the kernel's last used id where
// that is allowed and otherwise by going round the id space; the child runs a shell that reports
// every catchable signal it gets into logPath. Returns the child's id, or 0 when the id could not
// be had.
pid_t spawnVictimWithPid(pid_t wanted, const QByteArray &logPath)
{
    int pidMax = 32768;
    QFile maxFile(QStringLiteral("/proc/sys/kernel/pid_max"));
    if (maxFile.open(QIODevice::ReadOnly))
        pidMax = maxFile.readAll().trimmed().toInt();
    const char *script = "trap 'echo QUIT' QUIT; trap 'echo TERM' TERM; trap 'echo CONT' CONT; "
                         "echo ready; while :; do sleep 0.05; done";
    const int lastPid = ::open("/proc/sys/kernel/ns_last_pid", O_WRONLY);
    const QByteArray previous = QByteArray::number(int(wanted) - 1);
    for (volatile int attempt = 0; attempt < 2 * pidMax; ++attempt) {
        if (lastPid >= 0 && attempt < 100)
            (void)!::pwrite(lastPid, previous.constData(), size_t(previous.size()), 0);
        // vfork: the child only compares its id and then execs or leaves, and this process is
        // far too large to be copied tens of thousands of times.
        const pid_t child = ::vfork();
        if (child < 0)
            break;
        if (child == 0) {
            if (::getpid() != wanted)
                ::_exit(0);
            const int fd = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd >= 0)
                ::dup2(fd, STDOUT_FILENO);
            ::execl("/bin/sh", "sh", "-c", script, static_cast<char *>(nullptr));
            ::_exit(127);
        }
        if (child == wanted) {
            if (lastPid >= 0)
                ::close(lastPid);
            return child;
        }
        ::waitpid(child, nullptr, 0);
    }
    if (lastPid >= 0)
        ::close(lastPid);
    return 0;
}

} // namespace

class tst_Stress : public QObject
{
    Q_OBJECT

private slots:
    void signalStorm_data();
    void signalStorm();
    void churn();
    void pausedClient();
    void endedProcess();
    void hostileConfiguration_data();
    void hostileConfiguration();
    void truncatedPool_data();
    void truncatedPool();
    void warningFlood();
    void outOfOrderDestruction_data();
    void outOfOrderDestruction();
};

void tst_Stress::signalStorm_data()
{
    QTest::addColumn<int>("signalCount");
    QTest::addColumn<QString>("minimizedMode");

    QTest::newRow("1000 mixed, minimised clients keep running") << 1000 << "RUNNING";
    QTest::newRow("1000 mixed, minimised clients paused") << 1000 << "PAUSED";
    QTest::newRow("one SIGTERM, minimised clients paused") << 1 << "PAUSED";
}

void tst_Stress::signalStorm()
{
    QFETCH(int, signalCount);
    QFETCH(QString, minimizedMode);

    CompositorFixture f;
    prepare(f, minimizedMode);
    QVERIFY(f.startAndWait({}, 120000));

    // Three clients in one region: the first two end up minimised, the last one placed.
    const int clientCount = 3;
    QList<QProcess *> clients;
    for (int i = 0; i < clientCount; ++i) {
        QProcess *client
            = f.startClient(CompositorFixture::probePath(), { QStringLiteral("--count-signals") });
        QVERIFY(waitForLine(f, client, QStringLiteral("committed 0 ") + leftSize));
        clients << client;
    }
    QVERIFY(waitForEntries(f, clientCount));
    const bool paused = minimizedMode == QLatin1String("PAUSED");
    for (int i = 0; i < clientCount - 1; ++i)
        QCOMPARE(CompositorFixture::processState(clients.at(i)->processId()) == 'T', paused);

    // A pidfd keeps the storm from reaching another process once the compositor has gone.
    const int pidfd = int(::syscall(SYS_pidfd_open, pid_t(f.compositorPid()), 0));
    QVERIFY2(pidfd >= 0, "pidfd_open is not available");
    const int mix[] = { SIGTERM, SIGHUP, SIGINT, SIGQUIT };
    int sent = 0;
    for (int i = 0; i < signalCount; ++i) {
        if (::syscall(SYS_pidfd_send_signal, pidfd, mix[i % 4], nullptr, 0) != 0)
            break;
        ++sent;
    }
    ::close(pidfd);
    QVERIFY(sent > 0);
    QCOMPARE(f.waitForCompositorExit(60000), 0);
    QCOMPARE(f.compositor()->exitStatus(), QProcess::NormalExit);
    QVERIFY2(sanitizerReport(f).isEmpty(), qPrintable(sanitizerReport(f)));

    // Every client is asked to quit exactly once; a paused one is continued first.
    for (int i = 0; i < clientCount; ++i) {
        QProcess *client = clients.at(i);
        QVERIFY2(waitForLine(f, client, QStringLiteral("signal 3")),
                 qPrintable(QStringLiteral("client %1 was not asked to quit").arg(i)));
        QTest::qWait(100); // a second request, if any, would arrive right behind the first
        QCOMPARE(countLines(f, client, QStringLiteral("signal 3")), 1);
        QCOMPARE(countLines(f, client, QStringLiteral("signal 15")), 0);
        const bool wasPaused = paused && i < clientCount - 1;
        QCOMPARE(countLines(f, client, QStringLiteral("signal 18")), wasPaused ? 1 : 0);
    }
}

void tst_Stress::churn()
{
    const int cycles = envNumber("VORLANE_CHURN_CYCLES", 60);
    const quint32 seed = quint32(envNumber("VORLANE_CHURN_SEED", 20261207));
    qInfo("churn: %d cycles, seed %u", cycles, seed);
    QRandomGenerator random(seed);

    CompositorFixture f;
    prepare(f, QStringLiteral("PAUSED"));
    QVERIFY(f.startAndWait({}, 120000));

    // The client that holds the region; each newly placed client minimises and so pauses it.
    QProcess *resident = nullptr;
    int killedWhilePaused = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        QProcess *client = f.startClient(CompositorFixture::probePath());
        const int moment = int(random.bounded(5));
        switch (moment) {
        case 0: // before it has even connected, most of the time
            break;
        case 1:
            QVERIFY(waitForLine(f, client, QStringLiteral("connected")));
            break;
        case 2: // in the middle of the configure sequence
            QVERIFY(waitForLine(f, client, QStringLiteral("configure 0 ")));
            QTest::qWait(int(random.bounded(5)));
            break;
        default: // placed: the previous resident is now minimised and stopped
            QVERIFY2(waitForLine(f, client, QStringLiteral("committed 0 ") + leftSize),
                     qPrintable(QStringLiteral("cycle %1: client not placed").arg(cycle)));
            if (resident) {
                QVERIFY(waitForState(resident->processId(), 'T'));
                kill9(resident);
                ++killedWhilePaused;
            }
            resident = client;
            client = nullptr;
            if (moment == 4) {
                // Occasionally the placed client dies too, at a random moment.
                QTest::qWait(int(random.bounded(20)));
                kill9(resident);
                resident = nullptr;
            }
            break;
        }
        if (client)
            kill9(client);
        QVERIFY2(f.compositorRunning(), qPrintable(f.stderrText()));
    }
    QVERIFY(waitForEntries(f, resident ? 1 : 0));

    // The compositor still places the next client correctly.
    QProcess *last = f.startClient(CompositorFixture::probePath());
    QVERIFY(waitForLine(f, last, QStringLiteral("committed 0 ") + leftSize));
    qInfo("churn: %d clients killed while paused", killedWhilePaused);

    QCOMPARE(f.stopCompositor(SIGTERM, 60000), 0);
    QVERIFY2(sanitizerReport(f).isEmpty(), qPrintable(sanitizerReport(f)));
}

void tst_Stress::pausedClient()
{
    const int pauseSeconds = envNumber("VORLANE_PAUSE_SECONDS", 30);
    CompositorFixture f;
    // The pointer needs a display. Under the sanitizers the xcb stack itself is reported (a read
    // past a string's end in libxkbcommon-x11, leaks rooted in libdbus), so that run stays
    // headless and the pointer still.
    const bool sanitized = qEnvironmentVariableIsSet("ASAN_OPTIONS");
    const bool onX = !sanitized && f.startXvfb()
        && !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
    if (!onX)
        qInfo("pausedClient: headless, the pointer stays still");
    QVERIFY(f.isValid());
    QVERIFY(f.writeLayoutFile(QStringLiteral("layouts.json"), layouts));
    const QString pausedProgram = f.copyProbe(QStringLiteral("pausedprobe"));
    QVERIFY(!pausedProgram.isEmpty());
    QVERIFY(f.writeClientEntry(
        QStringLiteral("paused.desktop"), QStringLiteral("Paused"), pausedProgram,
        QStringLiteral("X-DefaultRegion=main:left\nX-MinimizedMode=PAUSED")));
    QVERIFY(f.writeClientEntry(QStringLiteral("other.desktop"), QStringLiteral("Other"),
                               CompositorFixture::probePath(),
                               QStringLiteral("X-DefaultRegion=main:right;second:bottom\n"
                                              "X-MinimizedMode=RUNNING")));
    f.enableDriver();
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("main"));
    QVERIFY2(f.startAndWait({}, 120000), qPrintable(f.stderrText()));

    QProcess *paused = f.startClient(pausedProgram, { QStringLiteral("--count-signals") });
    QVERIFY2(waitForLine(f, paused, QStringLiteral("committed 0 ") + leftSize),
             qPrintable(f.stderrText().left(3000)));
    f.driverCommand(QStringLiteral("click 0"));
    QVERIFY(waitForState(paused->processId(), 'T'));

    QElapsedTimer stopped;
    stopped.start();
    int rounds = 0;
    while (stopped.elapsed() < pauseSeconds * 1000) {
        QProcess *other = f.startClient(CompositorFixture::probePath());
        QVERIFY(waitForLine(f, other, QStringLiteral("committed 0 352 480")));
        f.driverCommand(QStringLiteral("layout second"));
        if (onX) {
            QProcess pointer;
            QStringList args;
            for (int i = 0; i < 40; ++i) {
                args << QStringLiteral("mousemove") << QString::number((i * 37) % 800)
                     << QString::number((i * 53) % 480);
            }
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("DISPLAY"), f.display());
            pointer.setProcessEnvironment(environment);
            pointer.start(QStringLiteral("xdotool"), args);
            QVERIFY(pointer.waitForFinished(30000));
        }
        f.driverCommand(QStringLiteral("layout main"));
        kill9(other);
        QCOMPARE(CompositorFixture::processState(paused->processId()), 'T');
        ++rounds;
    }
    qInfo("pausedClient: stopped %lld ms through %d rounds", stopped.elapsed(), rounds);
    QVERIFY(waitForEntries(f, 1));

    const int linesBefore = f.clientLines(paused).size();
    f.driverCommand(QStringLiteral("click 0"));
    QVERIFY(waitForLine(f, paused, QStringLiteral("signal 18")));
    // Continued, still connected, and given its region's size again.
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QStringList lines = f.clientLines(paused);
            return lines.mid(linesBefore).contains(QStringLiteral("committed 0 ") + leftSize);
        },
        20000));
    QVERIFY(!hasLine(f, paused, QStringLiteral("disconnected")));
    QCOMPARE(paused->state(), QProcess::Running);
    const QStringList dump = f.driverCommand(QStringLiteral("dump"));
    QVERIFY2(dump.value(1).contains(QStringLiteral(" region left ")), qPrintable(dump.join('\n')));
    const int status = f.stopCompositor(SIGTERM);
    QStringList messages
        = f.stderrLines().filter(QRegularExpression(QStringLiteral("^(?!qml: DRIVER)")));
    messages = messages.mid(std::max(0, int(messages.size()) - 40));
    QVERIFY2(status == 0 && sanitizerReport(f).isEmpty(), qPrintable(messages.join('\n')));
}

void tst_Stress::endedProcess()
{
    CompositorFixture f;
    prepare(f, QStringLiteral("PAUSED"));
    QVERIFY(f.startAndWait({}, 120000));

    // The probe connects, is placed, forks and ends: the surface lives on in its child, but the
    // process id that the compositor knows for it belongs to nobody now.
    QProcess *launcher
        = f.startClient(CompositorFixture::probePath(), { QStringLiteral("--fork-after-map") });
    const pid_t ended = pid_t(launcher->processId());
    QVERIFY(waitForLine(f, launcher, QStringLiteral("forked ")));
    QVERIFY(QTest::qWaitFor([&] { return launcher->state() == QProcess::NotRunning; }));
    pid_t daemon = 0;
    for (const QString &line : f.clientLines(launcher)) {
        if (line.startsWith(QLatin1String("forked ")))
            daemon = pid_t(line.mid(7).toInt());
    }
    QVERIFY(daemon > 0);
    const auto killDaemon = qScopeGuard([daemon] { ::kill(daemon, SIGKILL); });

    // Hand the id to an innocent process, where the id space allows it.
    const QByteArray victimLog = QFile::encodeName(f.baseDir() + QStringLiteral("/victim.log"));
    const pid_t victim = spawnVictimWithPid(ended, victimLog);
    const auto killVictim = qScopeGuard([victim] {
        if (victim > 0) {
            ::kill(victim, SIGKILL);
            ::waitpid(victim, nullptr, 0);
        }
    });
    if (victim > 0) {
        QVERIFY(QTest::qWaitFor([&] {
            QFile log(QString::fromLocal8Bit(victimLog));
            return log.open(QIODevice::ReadOnly) && log.readAll().contains("ready");
        }));
    } else {
        qInfo("endedProcess: the id %d could not be recycled; checking that nothing is sent",
              int(ended));
    }

    QCOMPARE(entryCount(f), 1);

    // Minimise (pause), show again (continue) and shut down (quit): all aimed at the old id.
    f.driverCommand(QStringLiteral("click 0"));
    f.driverCommand(QStringLiteral("dump"));
    if (victim > 0)
        QVERIFY(CompositorFixture::processState(victim) != 'T');
    f.driverCommand(QStringLiteral("click 0"));
    QCOMPARE(f.stopCompositor(SIGTERM), 0);
    QTest::qWait(200);

    if (victim > 0) {
        QFile log(QString::fromLocal8Bit(victimLog));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("ready\n"));
        // Alive and not stopped; a loaded machine may show it in disk sleep ('D') for a moment.
        const char state = CompositorFixture::processState(victim);
        QVERIFY2(state != 0 && state != 'T' && state != 'Z', QByteArray(1, state).constData());
    }
}

void tst_Stress::hostileConfiguration_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("message");

    const QString fallback = QStringLiteral("Falling back on builtin default.");
    const QString invalidEntry = QStringLiteral("Invalid desktop file: ");
    for (const QString &content : { QStringLiteral("huge"), QStringLiteral("binary"),
                                    QStringLiteral("nested"), QStringLiteral("unreadable") }) {
        QTest::addRow("settings %s", qPrintable(content)) << "settings" << content << QString();
        QTest::addRow("layout %s", qPrintable(content)) << "layout" << content << fallback;
        QTest::addRow("desktop entry %s", qPrintable(content))
            << "desktop" << content << invalidEntry;
    }
    // Valid JSON, but regions nested hundreds of levels deep: read, drawn and offered for choice.
    QTest::newRow("layout regions nested deeply") << "layout"
                                                  << "deep regions" << QString();
}

namespace {

QByteArray hostileBytes(const QString &file, const QString &content)
{
    if (content == QLatin1String("binary")) {
        QByteArray data(1 << 20, Qt::Uninitialized);
        QRandomGenerator random(7);
        random.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        return data;
    }
    if (content == QLatin1String("huge")) {
        // About 100 MB that begin like a real file of the kind.
        const qsizetype size = 100 * 1024 * 1024;
        QByteArray head;
        QByteArray line;
        if (file == QLatin1String("settings")) {
            head = "[Background]\nColor=#123\n[Junk]\n";
            line = "key0123456789=value0123456789012345678901234567890123456789012345678\n";
        } else if (file == QLatin1String("layout")) {
            head = "{\"layouts\": [";
            line = "                                                                      \n";
        } else {
            head = "[Desktop Entry]\nName=Huge\nTryExec=/usr/bin/huge\n";
            line = "X-Junk-0123456789=value012345678901234567890123456789012345678901234\n";
        }
        QByteArray data;
        data.reserve(size + line.size());
        data += head;
        while (data.size() < size)
            data += line;
        return data;
    }
    if (content == QLatin1String("deep regions")) {
        QByteArray region
            = R"({"id": "leaf", "name": "Leaf", "x": 0, "y": 0, "width": 1, "height": 1, "regions": []})";
        for (int i = 0; i < 400; ++i) {
            region = R"({"id": "r)" + QByteArray::number(i)
                + R"(", "name": "R", "x": 0.001, "y": 0.001, "width": 0.999, "height": 0.999, "regions": [)"
                + region + "]}";
        }
        return R"({"layouts": [{"id": "deep", "name": "Deep", "defaultRegion": "leaf", "regions": [)"
            + region + "]}]}";
    }
    // Deeply nested
    if (file == QLatin1String("settings")) {
        QByteArray key;
        for (int i = 0; i < 20000; ++i)
            key += "a/";
        return "[" + QByteArray(100000, '[') + "]\n" + key + "=1\n";
    }
    if (file == QLatin1String("layout")) {
        return QByteArray(200000, '[') + QByteArray(200000, ']');
    }
    return "[Desktop Entry]\nName=Nested\nTryExec=/usr/bin/nested\n[" + QByteArray(100000, '[')
        + QByteArray(100000, ']') + "]\nName[" + QByteArray(100000, 'x') + "]=x\n";
}

// Puts the hostile content at path. Root reads any mode, so an unreadable file is a link to one
// whose every read fails.
bool placeHostile(const QString &path, const QString &file, const QString &content)
{
    if (content == QLatin1String("unreadable"))
        return QFile::link(QStringLiteral("/proc/self/mem"), path);
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(hostileBytes(file, content)) > 0;
}

} // namespace

void tst_Stress::hostileConfiguration()
{
    QFETCH(QString, file);
    QFETCH(QString, content);
    QFETCH(QString, message);

    CompositorFixture f;
    QVERIFY(f.isValid());
    // Hostile settings are read instead of the fixture's own, through the program's option.
    const bool settings = file == QLatin1String("settings");
    QString path = f.clientsDir() + QStringLiteral("/hostile.desktop");
    if (settings)
        path = f.baseDir() + QStringLiteral("/hostile.ini");
    else if (file == QLatin1String("layout"))
        path = f.layoutsDir() + QStringLiteral("/hostile.json");
    QVERIFY(placeHostile(path, file, content));
    // Unwinding each of the millions of allocations of a 100 MB file fully takes minutes under
    // the sanitizers: memory errors are still caught, leaks are checked by the other rows.
    const QByteArray sanitizer = qgetenv("ASAN_OPTIONS");
    if (content == QLatin1String("huge") && !sanitizer.isEmpty())
        f.setCompositorEnvironment(QStringLiteral("ASAN_OPTIONS"),
                                   QString::fromLocal8Bit(sanitizer)
                                       + QStringLiteral(":fast_unwind_on_malloc=1:detect_leaks=0"));
    QVERIFY(settings ? f.start({ QStringLiteral("-c"), path }, false) : f.start());

    QElapsedTimer startup;
    startup.start();
    // A bound that only a hang or a runaway reaches; the benchmark prints the real time.
    QVERIFY2(f.waitForSocket(180000), qPrintable(f.stderrText()));
    qInfo("hostile %s %s: socket after %lld ms", qPrintable(file), qPrintable(content),
          startup.elapsed());
    if (!message.isEmpty())
        QVERIFY2(QTest::qWaitFor([&] { return f.stderrContains(message); }, 10000),
                 qPrintable(f.stderrText().left(4000)));

    // Still a working compositor.
    QProcess *client = f.startClient(CompositorFixture::probePath());
    QVERIFY(waitForLine(f, client, QStringLiteral("committed 0 ")));
    QCOMPARE(f.stopCompositor(SIGTERM, 60000), 0);
}

void tst_Stress::truncatedPool_data()
{
    QTest::addColumn<bool>("xvfb");
    QTest::addColumn<bool>("commitAgain");
    QTest::newRow("software renderer, offscreen") << false << true;
    QTest::newRow("OpenGL, Xvfb") << true << true;
    // The software renderer draws its picture of the buffer again from the client's memory.
    QTest::newRow("software renderer, repainted without a commit") << false << false;
}

// A client truncates the file behind the buffer on screen: the next frame reads past the end of
// the mapping. The compositor must draw on, drop that client and keep the others.
void tst_Stress::truncatedPool()
{
    QFETCH(bool, xvfb);
    QFETCH(bool, commitAgain);

    CompositorFixture f;
    if (xvfb && !f.startXvfb())
        QSKIP("Xvfb is not available");
    prepare(f, QStringLiteral("RUNNING"));
    const QString bystanderProgram = f.copyProbe(QStringLiteral("bystander"));
    QVERIFY(f.writeClientEntry(QStringLiteral("bystander.desktop"), QStringLiteral("Bystander"),
                               bystanderProgram, QStringLiteral("X-DefaultRegion=main:right")));
    QVERIFY(f.writeClientEntry(QStringLiteral("hostile.desktop"), QStringLiteral("Hostile"),
                               QStringLiteral(VORLANE_TRUNCATEPOOL_PATH),
                               QStringLiteral("X-DefaultRegion=main:left")));
    QVERIFY2(f.startAndWait({}, 120000), qPrintable(f.stderrText()));

    QProcess *bystander = f.startClient(bystanderProgram, { "--color", "0000ff" });
    QVERIFY(waitForLine(f, bystander, QStringLiteral("committed 0 ") + leftSize));

    QStringList hostileArgs;
    if (!commitAgain)
        hostileArgs << QStringLiteral("--no-commit");
    QProcess *hostile = f.startClient(QStringLiteral(VORLANE_TRUNCATEPOOL_PATH), hostileArgs);
    QVERIFY(waitForLine(f, hostile, QStringLiteral("truncated"), 60000));
    if (!commitAgain)
        f.driverCommand(QStringLiteral("grab ") + f.baseDir() + QStringLiteral("/repaint.png"));
    QVERIFY2(waitForLine(f, hostile, QStringLiteral("disconnected"), 60000),
             qPrintable(f.stderrText().right(3000)));
    QVERIFY2(f.compositorRunning(), qPrintable(f.stderrText().right(3000)));
    QVERIFY(QTest::qWaitFor(
        [&] { return f.stderrContains(QStringLiteral("truncated the memory of a buffer")); }));
    QVERIFY(QTest::qWaitFor([&] { return hostile->state() == QProcess::NotRunning; }, 30000));
    QCOMPARE(hostile->exitCode(), 0);
    const QByteArray hostileErrors = hostile->readAllStandardError();
    QVERIFY2(hostileErrors.contains("protocol error"), hostileErrors.constData());

    // A client placed after the fault is drawn beside the one placed before it.
    QProcess *after = f.startClient(CompositorFixture::probePath(), { "--color", "ff0000" });
    QVERIFY(waitForLine(f, after, QStringLiteral("committed 0 ") + leftSize));
    QVERIFY(waitForEntries(f, 2));
    const QString path = f.baseDir() + QStringLiteral("/frame.png");
    QImage frame;
    const auto capture = [&] {
        if (xvfb)
            return f.screenshot();
        f.driverCommand(QStringLiteral("grab ") + path);
        return QImage(path);
    };
    // The quick bar takes the left 96 pixels; "left" and "right" share the rest.
    const auto shows = [&] {
        frame = capture();
        return !frame.isNull() && (frame.pixel(272, 240) & 0xffffff) == 0xff0000
            && (frame.pixel(624, 240) & 0xffffff) == 0x0000ff;
    };
    QVERIFY2(QTest::qWaitFor(shows, 30000),
             qPrintable(QStringLiteral("left %1, right %2")
                            .arg(frame.pixel(272, 240) & 0xffffff, 6, 16, QLatin1Char('0'))
                            .arg(frame.pixel(624, 240) & 0xffffff, 6, 16, QLatin1Char('0'))));
    QVERIFY(!hasLine(f, bystander, QStringLiteral("disconnected")));

    QCOMPARE(f.stopCompositor(SIGTERM, 60000), 0);
    QVERIFY2(sanitizerReport(f).isEmpty(), qPrintable(sanitizerReport(f)));
}

void tst_Stress::warningFlood()
{
    CompositorFixture f;
    prepare(f, QStringLiteral("RUNNING"));
    QVERIFY2(f.startAndWait({}, 120000), qPrintable(f.stderrText()));
    const int linesBefore = f.stderrLines().size();

    QProcess *flood = f.startClient(QStringLiteral(VORLANE_WARNINGFLOOD_PATH));
    QVERIFY2(waitForLine(f, flood, QStringLiteral("flooded"), 120000),
             qPrintable(f.stderrText().right(3000)));
    // Some thousands of warnings, a few lines of each kind.
    const QStringList flooded = f.stderrLines().mid(linesBefore);
    QVERIFY2(flooded.size() < 60, qPrintable(flooded.join(u'\n')));
    // Which requests Qt warns about depends on its version (Qt 6.8 takes damage and
    // damage_buffer together): every kind it has is held to five lines.
    QMap<QString, int> kinds;
    for (QString line : flooded)
        ++kinds[line.remove(QRegularExpression(QStringLiteral("[0-9]+")))];
    for (auto kind = kinds.cbegin(); kind != kinds.cend(); ++kind)
        QVERIFY2(kind.value() <= 5, qPrintable(kind.key()));
    QVERIFY2(kinds.values().contains(5), qPrintable(flooded.join(u'\n')));

    // Once the interval is over, the next warning of a kind tells how many were held back.
    const int linesFlooded = f.stderrLines().size();
    QTest::qWait(10500);
    flood->write("again\n");
    QVERIFY(waitForLine(f, flood, QStringLiteral("again")));
    const QRegularExpression suppressed(
        QStringLiteral("\\([0-9]+ similar messages suppressed\\)$"));
    QTRY_VERIFY_WITH_TIMEOUT(!f.stderrLines().mid(linesFlooded).filter(suppressed).isEmpty(),
                             10000);
    QVERIFY(f.compositorRunning());
}

// Clients that destroy a top-level's wl_surface or xdg_surface before the top-level itself, while
// a configure for it is queued: several at once, each many times over, so that a configure
// reaching freed memory brings the compositor down rather than passing by luck. "right after
// start" connects before the scene is built.
void tst_Stress::outOfOrderDestruction_data()
{
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<bool>("early");
    for (const char *sequence : { "surface-first-new", "surface-first-mapped",
                                  "xdg-surface-first-new", "xdg-surface-first-mapped" }) {
        QTest::addRow("%s, right after start", sequence) << QString::fromLatin1(sequence) << true;
        QTest::addRow("%s, under load", sequence) << QString::fromLatin1(sequence) << false;
    }
}

void tst_Stress::outOfOrderDestruction()
{
    QFETCH(QString, sequence);
    QFETCH(bool, early);
    const int clients = 3;
    const QString rounds = QString::number(envNumber("VORLANE_STRESS_DESTRUCTION_ROUNDS", 20));

    CompositorFixture f;
    prepare(f, QStringLiteral("RUNNING"));
    QVERIFY(f.writeClientEntry(QStringLiteral("wlfuzz.desktop"), QStringLiteral("Fuzz"),
                               QStringLiteral(VORLANE_WLFUZZ_PATH),
                               QStringLiteral("X-DefaultRegion=main:left")));
    // The launcher listens before the compositor is loaded: early clients wait in the backlog.
    if (early)
        QVERIFY(f.start() && QTest::qWaitFor([&] { return QFile::exists(f.socketPath()); }));
    else
        QVERIFY(f.startAndWait({}, 120000));
    // The leaks of a client cut off by a protocol error are no fault of the compositor's.
    const QMap<QString, QString> clientEnvironment
        = { { QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0") } };
    QList<QProcess *> running;
    for (int i = 0; i < clients; ++i)
        running << f.startClient(
            QStringLiteral(VORLANE_WLFUZZ_PATH),
            { QStringLiteral("--case"), sequence, QStringLiteral("--repeat"), rounds },
            clientEnvironment);
    for (QProcess *client : std::as_const(running)) {
        QVERIFY(QTest::qWaitFor([&] { return client->state() == QProcess::NotRunning; }, 300000));
        QVERIFY2(client->exitCode() == 0,
                 qPrintable(QStringLiteral("client exit %1: ").arg(client->exitCode())
                            + QString::fromLocal8Bit(client->readAllStandardError())
                            + f.stderrText().right(3000)));
    }
    QVERIFY(f.compositorRunning());
    QCOMPARE(f.stopCompositor(SIGTERM), 0);
    QCOMPARE(sanitizerReport(f), QString());
}

QTEST_GUILESS_MAIN(tst_Stress)
#include "tst_stress.moc"
