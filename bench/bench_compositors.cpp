// Measures Vorlane beside weston (kiosk shell, X11 backend on Xvfb) and cage (wlroots headless)
// with one probe client, and Vorlane alone under placement, layout switches, churn and hostile
// configuration. Prints Markdown tables of medians with the smallest and largest value beside.
//
// Memory: RSS and PSS from /proc/PID/smaps_rollup; private memory is what the process alone
// holds: its anonymous pages (heap, stacks, copies of library data) plus the pages of shared
// memory (memfd, /dev/shm) that it maps shared and no other process maps, such as buffers it
// renders into. The probe's own buffer pool is not counted.
//
// usage: bench_compositors --vorlane PATH --probe PATH --quickbar QML [--runs N] [--quick]

#include "../tests/e2e/cputime.h"
#include "../tests/e2e/socketaccepts.h"
#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Options
{
    QString vorlane;
    QString probe;
    QString quickBar;
    QString examples;
    int runs = 5;
    bool quick = false;
};
Options options;

const QByteArray layoutsJson = R"({"layouts": [
  {"id": "main", "name": "Main", "defaultRegion": "left", "regions": [
    {"id": "left", "name": "Left", "x": 0, "y": 0, "width": 0.5, "height": 1, "regions": []},
    {"id": "right", "name": "Right", "x": 0.5, "y": 0, "width": 0.5, "height": 1, "regions": []}]},
  {"id": "second", "name": "Second", "defaultRegion": "top", "regions": [
    {"id": "top", "name": "Top", "x": 0, "y": 0, "width": 1, "height": 0.5, "regions": []},
    {"id": "bottom", "name": "Bottom", "x": 0, "y": 0.5, "width": 1, "height": 0.5, "regions": []}]}
]})";

QString number(double value, int decimals = 1)
{
    return value < 0 ? QStringLiteral("n/a") : QString::number(value, 'f', decimals);
}

// "median (min–max)" of the values that were measured.
QString cell(QList<double> values, int decimals = 1)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }),
                 values.end());
    if (values.isEmpty())
        return QStringLiteral("n/a");
    const auto [low, high] = std::minmax_element(values.cbegin(), values.cend());
    return QStringLiteral("%1 (%2–%3)")
        .arg(number(median(values), decimals), number(*low, decimals), number(*high, decimals));
}

qint64 monotonicUs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

QString ratio(double a, double b)
{
    return a < 0 || b <= 0 ? QStringLiteral("n/a") : QString::number(a / b, 'f', 2);
}

double rssMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

QString findSocket(const QString &dir)
{
    const QStringList names
        = QDir(dir).entryList({ QStringLiteral("wayland-*") }, QDir::System | QDir::Files);
    for (const QString &name : names) {
        if (!name.endsWith(QLatin1String(".lock")))
            return dir + QLatin1Char('/') + name;
    }
    return {};
}

// The descriptor on which an early client finds its connection (WAYLAND_SOCKET).
constexpr int earlySocketFd = 200;

// One started compositor.
class Compositor : public CompositorBase
{
public:
    enum Kind { VorlaneOffscreen, VorlaneXcb, VorlaneXcbSoftware, Weston, Cage };

    explicit Compositor(Kind kind)
        : CompositorBase(QStringLiteral("vorlane-bench"))
        , m_kind(kind)
    { }

    QString configDir() const { return m_config.path(); }
    bool isVorlane() const { return m_kind != Weston && m_kind != Cage; }
    // Relative paths in a settings file are taken from here.
    void setWorkingDirectory(const QString &dir) { m_workingDirectory = dir; }
    // Without the scene graph's line per frame, which would cost time of its own.
    void setQuiet() { m_quiet = true; }

    // Waits, reading what the compositor writes so that it never blocks on a full pipe.
    void drain(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            m_process->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            readErrors();
        }
    }
    // Replaces the quick bar by the one that times operations in the scene.
    void useBenchQuickBar() { m_benchQuickBar = true; }

    // Writes the configuration files; a hostile test overwrites some of them afterwards.
    void writeVorlaneConfig(const QString &minimizedMode)
    {
        QDir(m_config.path()).mkpath(QStringLiteral("layouts"));
        QDir(m_config.path()).mkpath(QStringLiteral("clients"));
        writeFile(QStringLiteral("layouts/layouts.json"), layoutsJson);
        writeFile(QStringLiteral("clients/probe.desktop"),
                  QStringLiteral("[Desktop Entry]\nName=Probe\nTryExec=%1\nExec=%1\n"
                                 "[X-KXVorlane Settings]\n"
                                 "X-DefaultRegion=main:left;second:top\nX-MinimizedMode=%2\n")
                      .arg(options.probe, minimizedMode)
                      .toUtf8());
        QString ini = QStringLiteral("[Settings]\nLayoutsDir=%1/layouts\nClientsDir=%1/clients\n"
                                     "DefaultLayout=main\n")
                          .arg(m_config.path());
        if (m_benchQuickBar && !options.quickBar.isEmpty()) {
            writeFile(QStringLiteral("commands"), QByteArray());
            ini += QStringLiteral("[Components]\nQuickBar=%1\n[Bench]\nCommandFile=%2/commands\n")
                       .arg(QUrl::fromLocalFile(options.quickBar).toString(), m_config.path());
        }
        writeFile(QStringLiteral("config.ini"), ini.toUtf8());
    }

    bool start(const QString &settingsPath = QString())
    {
        QProcessEnvironment env = environment();
        QString program;
        QStringList args;
        if (m_kind == Weston || m_kind == VorlaneXcb || m_kind == VorlaneXcbSoftware) {
            if (!m_xvfb.start())
                return false;
            env.insert(QStringLiteral("DISPLAY"), m_xvfb.display());
        }
        if (isVorlane()) {
            if (settingsPath.isEmpty())
                writeVorlaneConfig(QStringLiteral("RUNNING"));
            env.insert(QStringLiteral("QT_QPA_PLATFORM"),
                       m_kind == VorlaneOffscreen ? QStringLiteral("offscreen")
                                                  : QStringLiteral("xcb"));
            if (m_kind == VorlaneXcbSoftware)
                env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
            if (!m_quiet)
                env.insert(QStringLiteral("QT_LOGGING_RULES"),
                           QStringLiteral("qt.scenegraph.time.renderloop.debug=true"));
            env.insert(QStringLiteral("QML_XHR_ALLOW_FILE_READ"), QStringLiteral("1"));
            program = options.vorlane;
            args << QStringLiteral("-c")
                 << (settingsPath.isEmpty() ? m_config.filePath(QStringLiteral("config.ini"))
                                            : settingsPath);
        } else {
            const Command command
                = m_kind == Weston ? westonCommand() : cageCommand(m_runtime.path());
            program = command.program;
            args = command.args;
        }
        m_process = new QProcess;
        m_process->setProcessEnvironment(env);
        if (!m_workingDirectory.isEmpty())
            m_process->setWorkingDirectory(m_workingDirectory);
        m_clock.start();
        m_startUs = monotonicUs();
        m_process->start(program, args);
        return m_process->waitForStarted(10000);
    }

    // Starts a probe right after the compositor, before its socket exists, as a device's clients
    // start in parallel with it: the probe's process connects as soon as the socket accepts
    // (retrying every 0.2 ms) and then runs on that connection. Returns the milliseconds from the
    // compositor's exec to the answer of the probe's first round trip (its registry and a sync)
    // and to its first configure with a size, -1 for what did not come.
    std::pair<double, double> bootConfigure(int timeoutMs = 60000)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(m_runtime.filePath(QStringLiteral("wayland-0")));
        std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("WAYLAND_SOCKET"), QString::number(earlySocketFd));
        auto *client = new QProcess;
        client->setProcessEnvironment(env);
        // Runs in the forked child: system calls only.
        client->setChildProcessModifier([address] {
            const timespec pause { 0, 200000 };
            for (int i = 0; i < 600000; ++i) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                if (fd >= 0
                    && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address))
                        == 0) {
                    ::dup2(fd, earlySocketFd);
                    ::close(fd);
                    return;
                }
                if (fd >= 0)
                    ::close(fd);
                ::nanosleep(&pause, nullptr);
            }
            ::_exit(111);
        });
        client->start(options.probe, { QStringLiteral("--timestamps") });
        m_clients << client;
        const Timestamps times = readProbe(client, timeoutMs);
        const auto since
            = [this](qint64 us) { return us >= 0 ? double(us - m_startUs) / 1000.0 : -1; };
        return { since(times.roundtrip), since(times.sized) };
    }

    // Milliseconds from exec to the socket accepting a connection, or -1.
    double waitForSocket(int timeoutMs = 180000)
    {
        while (m_clock.elapsed() < timeoutMs && m_process->state() != QProcess::NotRunning) {
            const QString socket = findSocket(m_runtime.path());
            if (!socket.isEmpty() && socketAccepts(socket)) {
                m_socket = socket;
                return double(m_clock.nsecsElapsed()) / 1e6;
            }
            QThread::usleep(500);
        }
        return -1;
    }

    // Milliseconds from exec to the first frame the scene graph reports, or -1.
    double waitForFirstFrame(int timeoutMs = 20000)
    {
        if (!isVorlane())
            return -1;
        while (m_clock.elapsed() < timeoutMs && m_process->state() != QProcess::NotRunning) {
            if (readErrors().contains(QLatin1String("rame rendered")))
                return m_firstFrameMs;
            m_process->waitForReadyRead(1);
        }
        return -1;
    }

    QString readErrors()
    {
        const QByteArray chunk = m_process->readAllStandardError();
        if (!chunk.isEmpty()) {
            // "Frame rendered with 'basic' renderloop", "syncAndRender: frame rendered in"
            if (m_firstFrameMs < 0 && chunk.contains("rame rendered"))
                m_firstFrameMs = double(m_clock.nsecsElapsed()) / 1e6;
            m_errors += QString::fromUtf8(chunk);
        }
        return m_errors;
    }

    // Sends a command to the bench quick bar and returns its "BENCH" answer.
    QString benchCommand(const QString &command)
    {
        QFile file(m_config.filePath(QStringLiteral("commands")));
        file.open(QIODevice::WriteOnly | QIODevice::Append);
        file.write(command.toUtf8() + '\n');
        file.close();
        const QString done = QStringLiteral("BENCH done %1").arg(++m_commands);
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired() && !readErrors().contains(done))
            m_process->waitForReadyRead(10);
        const QStringList lines = m_errors.split(QLatin1Char('\n'));
        for (int i = lines.size() - 1; i >= 0; --i) {
            const int at = lines.at(i).indexOf(QLatin1String("BENCH "));
            if (at >= 0 && !lines.at(i).contains(QLatin1String("BENCH done")))
                return lines.at(i).mid(at + 6);
        }
        return {};
    }

    qint64 pid() const { return m_process->processId(); }
    bool running() const { return m_process->state() == QProcess::Running; }

    struct Map
    {
        QProcess *client = nullptr;
        double latencyMs = -1;
        // From the initial commit to the first configure of any size: the rest of the latency is
        // spent on configures before the sized one.
        double firstConfigureMs = -1;
    };

    // Probe timestamps (microseconds of CLOCK_MONOTONIC): initial commit, first configure, first
    // configure with a size; -1 for what did not come.
    struct Timestamps
    {
        qint64 roundtrip = -1;
        qint64 initial = -1;
        qint64 first = -1;
        qint64 sized = -1;
    };

    // Reads a probe's output until it has committed a buffer of a configured size.
    static Timestamps readProbe(QProcess *client, int timeoutMs)
    {
        Timestamps times;
        QByteArray output;
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && client->state() != QProcess::NotRunning) {
            client->waitForReadyRead(5);
            output += client->readAllStandardOutput();
            for (const QByteArray &line : output.split('\n')) {
                const QList<QByteArray> words = line.split(' ');
                if (words.size() >= 2 && words.at(1) == "roundtrip" && times.roundtrip < 0)
                    times.roundtrip = words.at(0).mid(1).toLongLong();
                if (words.size() >= 2 && words.at(1) == "initial-commit" && times.initial < 0)
                    times.initial = words.at(0).mid(1).toLongLong();
                if (words.size() >= 2 && words.at(1) == "configure" && times.first < 0)
                    times.first = words.at(0).mid(1).toLongLong();
                if (words.size() >= 5 && words.at(1) == "configure" && times.sized < 0
                    && words.at(3).toInt() > 0 && words.at(4).toInt() > 0)
                    times.sized = words.at(0).mid(1).toLongLong();
                if (times.sized >= 0 && words.size() >= 5 && words.at(1) == "committed"
                    && words.at(3).toInt() > 0 && words.at(4).toInt() > 0)
                    return times;
            }
        }
        times.sized = -1;
        return times;
    }

    // A client process that connects to this compositor's socket.
    QProcess *newClient()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QFileInfo(m_socket).absolutePath());
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), QFileInfo(m_socket).fileName());
        auto *client = new QProcess;
        client->setProcessEnvironment(env);
        m_clients << client;
        return client;
    }

    // Starts a client of the compositor from a desktop entry's command line.
    QProcess *startClient(const QStringList &command)
    {
        QProcess *client = newClient();
        client->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        client->setStandardOutputFile(QProcess::nullDevice());
        client->start(command.value(0), command.mid(1));
        return client;
    }

    // Starts a probe and waits until it has committed a buffer of a configured size. The
    // latency runs from its initial commit to the first configure that gives it a size.
    Map mapClient(int timeoutMs = 20000)
    {
        QProcess *client = newClient();
        client->start(options.probe, { QStringLiteral("--timestamps") });
        Map result { client, -1 };
        const Timestamps times = readProbe(client, timeoutMs);
        if (times.sized >= 0 && times.initial >= 0) {
            result.latencyMs = double(times.sized - times.initial) / 1000.0;
            result.firstConfigureMs
                = times.first >= 0 ? double(times.first - times.initial) / 1000.0 : -1;
        }
        return result;
    }

    struct Animation
    {
        double framesPerSecond = -1;
        double cpuMsPerFrame = -1;
    };

    // Starts a probe that redraws on every frame callback and, after two seconds to settle,
    // counts its callbacks and the compositor's CPU time over the given seconds.
    Animation animate(int seconds)
    {
        QProcess *client = newClient();
        client->start(options.probe, { QStringLiteral("--animate") });
        QByteArray output;
        QList<int> counts;
        const auto waitForCounts = [&](int wanted) {
            QDeadlineTimer deadline(20000 + wanted * 1000);
            while (counts.size() < wanted && !deadline.hasExpired()
                   && client->state() != QProcess::NotRunning) {
                client->waitForReadyRead(5);
                output += client->readAllStandardOutput();
                qsizetype end;
                while ((end = output.indexOf('\n')) >= 0) {
                    const QByteArray line = output.left(end);
                    output.remove(0, end + 1);
                    if (line.startsWith("frames "))
                        counts << line.mid(7).toInt();
                }
            }
            return counts.size() >= wanted;
        };
        Animation result;
        if (!waitForCounts(2))
            return result;
        const double before = cpuSeconds(pid());
        const qsizetype first = counts.size();
        if (!waitForCounts(int(first) + seconds))
            return result;
        const double cpuMs = (cpuSeconds(pid()) - before) * 1000.0;
        int frames = 0;
        for (qsizetype i = first; i < first + seconds; ++i)
            frames += counts.at(i);
        result.framesPerSecond = double(frames) / seconds;
        if (before >= 0 && frames > 0)
            result.cpuMsPerFrame = cpuMs / frames;
        return result;
    }

    void removeClient(QProcess *client, bool graceful)
    {
        m_clients.removeAll(client);
        if (graceful && client->state() == QProcess::Running) {
            client->write("quit\n");
            if (client->waitForFinished(5000)) {
                delete client;
                return;
            }
        }
        stopProcess(client, SIGKILL);
    }

private:
    Kind m_kind;
    QElapsedTimer m_clock;
    qint64 m_startUs = 0;
    QString m_socket;
    QString m_errors;
    double m_firstFrameMs = -1;
    int m_commands = 0;
    bool m_benchQuickBar = false;
    QString m_workingDirectory;
    bool m_quiet = false;
};

void settle(int ms)
{
    QThread::msleep(ulong(ms));
}

struct PeerFigures
{
    QList<double> startup, firstFrame, roundtrip, boot, map, rssIdle, pssIdle, privIdle, rss1, pss1,
        priv1, rss10;
};

PeerFigures measurePeer(Compositor::Kind kind)
{
    PeerFigures figures;
    for (int run = 0; run < options.runs; ++run) {
        Compositor compositor(kind);
        if (!compositor.start()) {
            fprintf(stderr, "could not start compositor kind %d\n", int(kind));
            break;
        }
        figures.startup << compositor.waitForSocket();
        figures.firstFrame << compositor.waitForFirstFrame();
        settle(1000);
        const Memory idle = memoryMb(compositor.pid());
        figures.rssIdle << idle.rss;
        figures.pssIdle << idle.pss;
        figures.privIdle << idle.priv;
        const Compositor::Map first = compositor.mapClient();
        figures.map << first.latencyMs;
        settle(500);
        const Memory one = memoryMb(compositor.pid());
        figures.rss1 << one.rss;
        figures.pss1 << one.pss;
        figures.priv1 << one.priv;
        for (int i = 1; i < 10; ++i)
            compositor.mapClient();
        settle(500);
        figures.rss10 << rssMb(compositor.pid());
        if (!compositor.running())
            fprintf(stderr, "compositor kind %d ended during the run\n", int(kind));
    }
    for (int run = 0; run < options.runs; ++run) {
        Compositor compositor(kind);
        if (!compositor.start())
            break;
        const auto [roundtrip, sized] = compositor.bootConfigure();
        figures.roundtrip << roundtrip;
        figures.boot << sized;
    }
    return figures;
}

void printPeerTable()
{
    const std::map<Compositor::Kind, QString> names = {
        { Compositor::VorlaneOffscreen, QStringLiteral("Vorlane offscreen") },
        { Compositor::VorlaneXcb, QStringLiteral("Vorlane xcb+GL (Xvfb)") },
        { Compositor::Weston, QStringLiteral("weston kiosk (X11 on Xvfb)") },
        { Compositor::Cage, QStringLiteral("cage (headless, pixman)") },
    };
    std::map<Compositor::Kind, PeerFigures> all;
    for (const auto &entry : names) {
        fprintf(stderr, "measuring %s ...\n", qPrintable(entry.second));
        all[entry.first] = measurePeer(entry.first);
    }

    printf("\n## Vorlane beside weston and cage (medians of %d runs, smallest–largest in "
           "brackets; ratios of the medians)\n\n",
           options.runs);
    printf("| figure | Vorlane offscreen | Vorlane xcb+GL | weston kiosk | cage | "
           "offscreen/cage | xcb/weston | offscreen/weston |\n");
    printf("|---|---|---|---|---|---|---|---|\n");
    struct Row
    {
        const char *name;
        QList<double> PeerFigures::*list;
        int decimals;
    };
    const Row rows[] = {
        { "start-up to socket accepting (ms)", &PeerFigures::startup, 1 },
        { "start-up to first frame (ms)", &PeerFigures::firstFrame, 1 },
        { "exec to the first round trip (registry, sync) of a client started with the compositor "
          "answered (ms)",
          &PeerFigures::roundtrip, 1 },
        { "exec to sized configure of a client started with the compositor (ms)",
          &PeerFigures::boot, 1 },
        { "map latency: initial commit to sized configure (ms)", &PeerFigures::map, 2 },
        { "RSS idle (MB)", &PeerFigures::rssIdle, 1 },
        { "PSS idle (MB)", &PeerFigures::pssIdle, 1 },
        { "private memory idle (MB)", &PeerFigures::privIdle, 1 },
        { "RSS with 1 client (MB)", &PeerFigures::rss1, 1 },
        { "PSS with 1 client (MB)", &PeerFigures::pss1, 1 },
        { "private memory with 1 client (MB)", &PeerFigures::priv1, 1 },
        { "RSS with 10 clients (MB)", &PeerFigures::rss10, 1 },
    };
    for (const Row &row : rows) {
        const double off = median(all[Compositor::VorlaneOffscreen].*row.list);
        const double xcb = median(all[Compositor::VorlaneXcb].*row.list);
        const double weston = median(all[Compositor::Weston].*row.list);
        const double cage = median(all[Compositor::Cage].*row.list);
        printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", row.name,
               qPrintable(cell(all[Compositor::VorlaneOffscreen].*row.list, row.decimals)),
               qPrintable(cell(all[Compositor::VorlaneXcb].*row.list, row.decimals)),
               qPrintable(cell(all[Compositor::Weston].*row.list, row.decimals)),
               qPrintable(cell(all[Compositor::Cage].*row.list, row.decimals)),
               qPrintable(ratio(off, cage)), qPrintable(ratio(xcb, weston)),
               qPrintable(ratio(off, weston)));
    }
    fflush(stdout);
}

// A client that redraws on every frame callback, as an animation does: how often the compositor
// lets it draw, and the compositor's CPU time per frame. Only cage and weston wait for a display
// (their own 60 Hz timers): Vorlane keeps to its output's refresh itself on every platform.
void printAnimation()
{
    const int seconds = options.quick ? 3 : 5;
    const QList<std::pair<Compositor::Kind, const char *>> kinds = {
        { Compositor::VorlaneOffscreen, "Vorlane offscreen" },
        { Compositor::VorlaneXcb, "Vorlane xcb+GL (Xvfb)" },
        { Compositor::VorlaneXcbSoftware, "Vorlane xcb+software (Xvfb)" },
        { Compositor::Weston, "weston kiosk (X11 on Xvfb)" },
        { Compositor::Cage, "cage (headless, pixman)" },
    };
    std::map<Compositor::Kind, std::pair<QList<double>, QList<double>>> figures;
    for (const auto &[kind, name] : kinds) {
        fprintf(stderr, "animating on %s ...\n", name);
        for (int run = 0; run < options.runs; ++run) {
            Compositor compositor(kind);
            compositor.setQuiet();
            if (!compositor.start() || compositor.waitForSocket() < 0)
                break;
            const Compositor::Animation animation = compositor.animate(seconds);
            figures[kind].first << animation.framesPerSecond;
            figures[kind].second << animation.cpuMsPerFrame;
        }
    }
    const double cageCpu = median(figures[Compositor::Cage].second);
    printf("\n## An animating client: a probe that redraws on every frame callback (medians of %d "
           "runs of %d s)\n\n",
           options.runs, seconds);
    printf("| compositor | frames per second | compositor CPU per frame (ms) | CPU per frame / "
           "cage's |\n|---|---|---|---|\n");
    for (const auto &[kind, name] : kinds) {
        printf("| %s | %s | %s | %s |\n", name, qPrintable(cell(figures[kind].first)),
               qPrintable(cell(figures[kind].second, 3)),
               qPrintable(ratio(median(figures[kind].second), cageCpu)));
    }
    fflush(stdout);
}

// Map latency of Vorlane alone: the first client after start-up (cold) and the clients after it
// (warm), each run on a fresh compositor, offscreen and xcb+GL.
void printMapLatency()
{
    const int warmClients = options.quick ? 3 : 5;
    printf(
        "\n## Vorlane map latency: initial commit to sized configure (medians of %d runs, ms)\n\n",
        options.runs);
    printf("| platform | first client | later clients | later clients: to the first configure "
           "|\n|---|---|---|---|\n");
    for (Compositor::Kind kind : { Compositor::VorlaneOffscreen, Compositor::VorlaneXcb }) {
        QList<double> first, later, laterFirstConfigure;
        for (int run = 0; run < options.runs; ++run) {
            Compositor compositor(kind);
            if (!compositor.start() || compositor.waitForSocket() < 0) {
                fprintf(stderr, "could not start compositor kind %d\n", int(kind));
                break;
            }
            compositor.waitForFirstFrame();
            settle(1000);
            first << compositor.mapClient().latencyMs;
            settle(200);
            for (int i = 0; i < warmClients; ++i) {
                const Compositor::Map map = compositor.mapClient();
                later << map.latencyMs;
                laterFirstConfigure << map.firstConfigureMs;
                settle(100);
            }
        }
        printf("| %s | %s | %s | %s |\n",
               kind == Compositor::VorlaneXcb ? "xcb+GL (Xvfb)" : "offscreen",
               qPrintable(cell(first, 2)), qPrintable(cell(later, 2)),
               qPrintable(cell(laterFirstConfigure, 2)));
        fflush(stdout);
    }
}

// The command line of an example client, with its files taken from the examples directory.
QStringList exampleCommand(const QString &entry)
{
    QFile file(options.examples + QStringLiteral("/clients/") + entry + QStringLiteral(".desktop"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.startsWith("Exec="))
            continue;
        QString command = QString::fromUtf8(line.mid(5)).trimmed();
        command.replace(QStringLiteral("/etc/vorlane/"), options.examples + QLatin1Char('/'));
        const QStringList words = command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        return QFile::exists(words.value(0)) ? words : QStringList();
    }
    return {};
}

// Vorlane's CPU time over ten seconds with the example configuration (offscreen and xcb+GL),
// after five seconds to settle, with none, some or all of the example's clients: it draws only
// when a client draws or an element pulses.
void printIdleCpu()
{
    if (options.examples.isEmpty())
        return;
    const QList<std::pair<const char *, QStringList>> cases = {
        { "no clients", {} },
        { "terminal", { QStringLiteral("terminal") } },
        { "clock (draws once a second)", { QStringLiteral("clock") } },
        { "pattern (draws every frame)", { QStringLiteral("pattern") } },
        { "flower (minimised and running: its element pulses)", { QStringLiteral("flower") } },
        { "terminal, clock and pattern",
          { QStringLiteral("terminal"), QStringLiteral("clock"), QStringLiteral("pattern") } },
    };
    // Milliseconds of CPU over ten seconds after five to settle, or -1.
    const auto measure
        = [](Compositor &compositor, const QString &settings, const QStringList &entries) {
              if (!compositor.start(settings) || compositor.waitForSocket() < 0)
                  return -1.0;
              bool missing = false;
              for (const QString &entry : entries) {
                  const QStringList command = exampleCommand(entry);
                  missing = missing || command.isEmpty();
                  if (!command.isEmpty())
                      compositor.startClient(command);
              }
              compositor.drain(5000);
              const double before = cpuSeconds(compositor.pid());
              compositor.drain(10000);
              const double used = (cpuSeconds(compositor.pid()) - before) * 1000.0;
              return missing || before < 0 || !compositor.running() ? -1.0 : used;
          };
    printf("\n## CPU time over 10 s with the example's clients (Vorlane with the example "
           "configuration, offscreen (software) and xcb+GL (llvmpipe, Xvfb); cage headless, "
           "pixman, showing the last client)\n\n"
           "| clients | Vorlane offscreen (ms) | Vorlane xcb+GL (ms) | cage (ms) | "
           "Vorlane offscreen / cage |\n|---|---|---|---|---|\n");
    for (const auto &[label, entries] : cases) {
        double ours[2];
        for (Compositor::Kind kind : { Compositor::VorlaneOffscreen, Compositor::VorlaneXcb }) {
            Compositor vorlane(kind);
            vorlane.setWorkingDirectory(options.examples);
            vorlane.setQuiet();
            ours[kind == Compositor::VorlaneXcb]
                = measure(vorlane, options.examples + QStringLiteral("/config.ini"), entries);
        }
        Compositor cage(Compositor::Cage);
        const double theirs = measure(cage, QString(), entries);
        printf("| %s | %s | %s | %s | %s |\n", label, qPrintable(number(ours[0], 0)),
               qPrintable(number(ours[1], 0)), qPrintable(number(theirs, 0)),
               qPrintable(ratio(ours[0], theirs)));
        fflush(stdout);
    }
}

void printVorlaneAlone()
{
    const int clients = options.quick ? 10 : 50;
    const int surfaces = options.quick ? 5 : 20;
    const int churnCycles = options.quick ? 20 : 200;
    QList<double> placement, switching, churn, rssBefore, rssAfter;
    for (int run = 0; run < options.runs; ++run) {
        {
            Compositor compositor(Compositor::VorlaneOffscreen);
            compositor.start();
            compositor.waitForSocket();
            // All clients want the same region: each placement minimises the one before.
            QList<double> latencies;
            for (int i = 0; i < clients; ++i)
                latencies << compositor.mapClient().latencyMs;
            placement << median(latencies);
        }
        {
            Compositor compositor(Compositor::VorlaneOffscreen);
            compositor.useBenchQuickBar();
            compositor.start();
            compositor.waitForSocket();
            for (int i = 0; i < surfaces; ++i)
                compositor.mapClient();
            const int count = 200;
            const QString answer
                = compositor.benchCommand(QStringLiteral("switch %1 second main").arg(count));
            // "switch <count> <ms> ms with <n> surfaces"
            const QStringList words = answer.split(QLatin1Char(' '));
            switching << (words.size() > 2 ? words.at(2).toDouble() / count : -1);
        }
        {
            Compositor compositor(Compositor::VorlaneOffscreen);
            compositor.start();
            compositor.waitForSocket();
            compositor.removeClient(compositor.mapClient().client, true);
            settle(1000);
            rssBefore << rssMb(compositor.pid());
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < churnCycles; ++i)
                compositor.removeClient(compositor.mapClient().client, true);
            churn << double(timer.nsecsElapsed()) / 1e6 / churnCycles;
            settle(1000);
            rssAfter << rssMb(compositor.pid());
        }
    }
    printf("\n## Vorlane alone, offscreen (medians of %d runs)\n\n", options.runs);
    printf("| figure | value |\n|---|---|\n");
    printf("| placement of %d clients into one region, per client: initial commit to sized "
           "configure (ms) | %s |\n",
           clients, qPrintable(cell(placement, 2)));
    printf("| layout switch with %d surfaces, per switch (ms) | %s |\n", surfaces,
           qPrintable(cell(switching, 2)));
    printf("| churn of %d connect/place/disconnect cycles, per cycle (ms) | %s |\n", churnCycles,
           qPrintable(cell(churn, 1)));
    printf("| RSS before churn (MB) | %s |\n", qPrintable(cell(rssBefore)));
    printf("| RSS after churn (MB) | %s |\n", qPrintable(cell(rssAfter)));
    fflush(stdout);
}

QByteArray repeatedTo(const QByteArray &head, const QByteArray &line, qsizetype size)
{
    QByteArray data;
    data.reserve(size + line.size());
    data += head;
    while (data.size() < size)
        data += line;
    return data;
}

void printHostile()
{
    const qsizetype huge = 100 * 1024 * 1024;
    QByteArray binary(1 << 20, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(binary.data()), binary.size() / 4);
    QByteArray deep
        = R"({"id": "leaf", "name": "L", "x": 0, "y": 0, "width": 1, "height": 1, "regions": []})";
    for (int i = 0; i < 400; ++i)
        deep = R"({"id": "r)" + QByteArray::number(i)
            + R"(", "name": "R", "x": 0, "y": 0, "width": 1, "height": 1, "regions": [)" + deep
            + "]}";
    deep = R"({"layouts": [{"id": "deep", "name": "Deep", "defaultRegion": "leaf", "regions": [)"
        + deep + "]}]}";

    struct Case
    {
        const char *name;
        QString file; // relative to the configuration directory
        std::function<QByteArray()> content;
    };
    const QList<Case> cases = {
        { "none (reference)", QString(), [] { return QByteArray(); } },
        { "settings 100 MB", QStringLiteral("hostile.ini"),
          [&] {
              return repeatedTo("[Junk]\n",
                                "key0123456789=value0123456789012345678901234567890123456789\n",
                                huge);
          } },
        { "settings binary 1 MB", QStringLiteral("hostile.ini"), [&] { return binary; } },
        { "layout 100 MB", QStringLiteral("layouts/hostile.json"),
          [&] { return repeatedTo("{\"layouts\": [", "          \n", huge); } },
        { "layout nested 200000 deep", QStringLiteral("layouts/hostile.json"),
          [] { return QByteArray(200000, '[') + QByteArray(200000, ']'); } },
        { "layout regions nested 400 deep", QStringLiteral("layouts/hostile.json"),
          [&] { return deep; } },
        { "desktop entry 100 MB", QStringLiteral("clients/hostile.desktop"),
          [&] {
              return repeatedTo("[Desktop Entry]\nName=Huge\nTryExec=/usr/bin/huge\n",
                                "X-Junk-0123456789=value0123456789012345678901234567890\n", huge);
          } },
        { "desktop entry binary 1 MB", QStringLiteral("clients/hostile.desktop"),
          [&] { return binary; } },
    };
    printf("\n## Hostile configuration: start-up to socket accepting, offscreen (median of %d)\n\n",
           options.runs);
    printf("| configuration | ms |\n|---|---|\n");
    for (const Case &c : cases) {
        const QByteArray content = c.content();
        QList<double> times;
        for (int run = 0; run < options.runs; ++run) {
            Compositor compositor(Compositor::VorlaneOffscreen);
            compositor.writeVorlaneConfig(QStringLiteral("RUNNING"));
            QString settings = compositor.configDir() + QStringLiteral("/config.ini");
            if (!c.file.isEmpty()) {
                compositor.writeFile(c.file, content);
                if (c.file == QLatin1String("hostile.ini"))
                    settings = compositor.configDir() + QStringLiteral("/hostile.ini");
            }
            compositor.start(settings);
            times << compositor.waitForSocket();
        }
        printf("| %s | %s |\n", c.name, qPrintable(cell(times)));
        fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vorlane beside weston and cage"));
    parser.addHelpOption();
    const QCommandLineOption vorlane(QStringLiteral("vorlane"), QStringLiteral("program"),
                                     QStringLiteral("path"));
    const QCommandLineOption probe(QStringLiteral("probe"), QStringLiteral("probe client"),
                                   QStringLiteral("path"));
    const QCommandLineOption quickBar(QStringLiteral("quickbar"),
                                      QStringLiteral("bench quick bar component"),
                                      QStringLiteral("path"));
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("runs per figure"),
                                  QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption examples(QStringLiteral("examples"),
                                      QStringLiteral("examples directory (for the CPU figures)"),
                                      QStringLiteral("path"));
    const QCommandLineOption quick(QStringLiteral("quick"), QStringLiteral("smaller counts"));
    const QCommandLineOption only(QStringLiteral("only"),
                                  QStringLiteral("peers, animation, alone, hostile, idle or map"),
                                  QStringLiteral("part"));
    parser.addOptions({ vorlane, probe, quickBar, examples, runs, quick, only });
    parser.process(app);
    // Absolute, since a compositor may run in another working directory.
    options.vorlane = QFileInfo(parser.value(vorlane)).absoluteFilePath();
    options.probe = parser.value(probe);
    options.quickBar = parser.value(quickBar);
    options.examples
        = parser.isSet(examples) ? QFileInfo(parser.value(examples)).absoluteFilePath() : QString();
    options.runs = std::max(1, parser.value(runs).toInt());
    options.quick = parser.isSet(quick);
    if (!parser.isSet(vorlane) || !parser.isSet(probe)) {
        fprintf(stderr, "--vorlane and --probe are required\n");
        return 2;
    }
    const QStringList parts = parser.isSet(only)
        ? parser.value(only).split(QLatin1Char(','))
        : QStringList { QStringLiteral("peers"), QStringLiteral("alone"), QStringLiteral("hostile"),
                        QStringLiteral("idle") };
    if (parts.contains(QLatin1String("peers"))) {
        printPeerTable();
        printAnimation();
    }
    if (parts.contains(QLatin1String("animation")))
        printAnimation();
    if (parts.contains(QLatin1String("alone")))
        printVorlaneAlone();
    if (parts.contains(QLatin1String("hostile")))
        printHostile();
    if (parts.contains(QLatin1String("idle")))
        printIdleCpu();
    // Not part of the default run: the peer table already holds the first-client figure.
    if (parts.contains(QLatin1String("map")))
        printMapLatency();
    return 0;
}
