// Hostile clients against Vorlane, cage (headless, pixman) and weston (kiosk shell, X11 backend
// on Xvfb): for each fault, whether the compositor survived, and how long a new well-behaved
// client (the probe) takes from exec to a sized configure while the fault is held. Prints a
// Markdown table.
//
// usage: bench_hostile --vorlane PATH --probe PATH [--stress-dir DIR] [--runs N]
// DIR holds vorlane_truncatepool and vorlane_toplevelflood; a fault whose program is missing is
// skipped.

#include "../tests/e2e/socketaccepts.h"
#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Options
{
    QString vorlane;
    QString probe;
    QString truncatePool;
    QString toplevelFlood;
    int runs = 3;
};
Options options;

const int floodConnections = 1000;
const int floodToplevels = 2000;
const int placeTimeoutMs = 10000;

enum Kind { Vorlane, Cage, Weston };

// One compositor with a private runtime directory, started under a soft limit of 1024 open
// files as a service would be.
class Compositor : public CompositorBase
{
public:
    explicit Compositor(Kind kind)
        : CompositorBase(QStringLiteral("vorlane-hostile"))
        , m_kind(kind)
    { }

    bool start()
    {
        QProcessEnvironment env = environment();
        QString program;
        QStringList args;
        if (m_kind == Vorlane) {
            writeVorlaneConfig();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            program = options.vorlane;
            args << QStringLiteral("-c") << m_config.filePath(QStringLiteral("config.ini"));
        } else {
            if (m_kind == Weston) {
                if (!m_xvfb.start())
                    return false;
                env.insert(QStringLiteral("DISPLAY"), m_xvfb.display());
            }
            const Command command
                = m_kind == Weston ? westonCommand() : cageCommand(m_runtime.path());
            program = command.program;
            args = command.args;
        }
        m_process = new QProcess;
        m_process->setProcessEnvironment(env);
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->setStandardOutputFile(m_config.filePath(QStringLiteral("output.log")));
        m_process->setChildProcessModifier([] {
            rlimit limit;
            if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
                limit.rlim_cur = std::min<rlim_t>(1024, limit.rlim_max);
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
        });
        m_process->start(program, args);
        if (!m_process->waitForStarted(10000))
            return false;
        m_socket = m_runtime.filePath(QStringLiteral("wayland-0"));
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired() && running()) {
            if (socketAccepts(m_socket))
                return true;
            QThread::msleep(5);
        }
        return false;
    }

    qint64 pid() const { return m_process->processId(); }
    bool running() const { return m_process && m_process->state() == QProcess::Running; }
    QString socket() const { return m_socket; }

    QProcess *startClient(const QString &program, const QStringList &args = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
        auto *client = new QProcess;
        client->setProcessEnvironment(env);
        client->start(program, args);
        m_clients << client;
        return client;
    }

    // Milliseconds from the probe's exec to its first configure with a size, or -1.
    double placeProbe()
    {
        QElapsedTimer clock;
        clock.start();
        QProcess *probe = startClient(options.probe);
        QByteArray output;
        while (clock.elapsed() < placeTimeoutMs && probe->state() != QProcess::NotRunning) {
            probe->waitForReadyRead(2);
            output += probe->readAllStandardOutput();
            for (const QByteArray &line : output.split('\n')) {
                const QList<QByteArray> words = line.split(' ');
                if (words.size() >= 4 && words.at(0) == "configure" && words.at(2).toInt() > 0
                    && words.at(3).toInt() > 0)
                    return double(clock.nsecsElapsed()) / 1e6;
            }
        }
        return -1;
    }

private:
    void writeVorlaneConfig()
    {
        QDir(m_config.path()).mkpath(QStringLiteral("layouts"));
        QDir(m_config.path()).mkpath(QStringLiteral("clients"));
        writeFile(QStringLiteral("layouts/layouts.json"),
                  R"({"layouts": [{"id": "main", "name": "Main", "defaultRegion": "left",
                      "regions": [{"id": "left", "name": "Left", "x": 0, "y": 0, "width": 0.5,
                      "height": 1, "regions": []}, {"id": "right", "name": "Right", "x": 0.5,
                      "y": 0, "width": 0.5, "height": 1, "regions": []}]}]})");
        writeFile(QStringLiteral("clients/probe.desktop"),
                  QStringLiteral("[Desktop Entry]\nName=Probe\nTryExec=%1\nExec=%1\n"
                                 "[X-KXVorlane Settings]\nX-DefaultRegion=main:left\n")
                      .arg(options.probe)
                      .toUtf8());
        writeFile(QStringLiteral("config.ini"),
                  QStringLiteral("[Settings]\nLayoutsDir=%1/layouts\nClientsDir=%1/clients\n"
                                 "DefaultLayout=main\n")
                      .arg(m_config.path())
                      .toUtf8());
    }

    Kind m_kind;
    QString m_socket;
};

bool waitForLine(QProcess *process, const QByteArray &text, int timeoutMs)
{
    QByteArray output;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        output += process->readAllStandardOutput();
        if (output.contains(text))
            return true;
        if (process->state() == QProcess::NotRunning)
            return false;
        process->waitForReadyRead(10);
    }
    return false;
}

struct Outcome
{
    int survived = 0;
    int runs = 0;
    QList<double> placeMs;
};

enum Fault { TruncatedPool, ConnectionFlood, ToplevelFlood };

// Runs one fault against a fresh compositor; false when it could not be set up at all.
bool runFault(Kind kind, Fault fault, Outcome &outcome)
{
    Compositor compositor(kind);
    if (!compositor.start())
        return false;
    QList<int> held;
    if (fault == TruncatedPool) {
        QProcess *hostile = compositor.startClient(options.truncatePool);
        waitForLine(hostile, "disconnected", 20000);
        // The frames after the truncation are where a careless compositor dies.
        QThread::msleep(500);
    } else if (fault == ConnectionFlood) {
        // A full backlog refuses a connection for now: try again until the compositor stops
        // taking them.
        QDeadlineTimer deadline(10000);
        while (held.size() < floodConnections && !deadline.hasExpired()) {
            const int fd = connectUnix(compositor.socket(), SOCK_NONBLOCK);
            if (fd >= 0)
                held << fd;
            else
                QThread::usleep(500);
        }
        QThread::msleep(500);
        fprintf(stderr, "held %d connections; compositor has %d descriptors\n", int(held.size()),
                int(QDir(QStringLiteral("/proc/%1/fd").arg(compositor.pid())).count()));
    } else {
        QProcess *hostile
            = compositor.startClient(options.toplevelFlood, { QString::number(floodToplevels) });
        waitForLine(hostile, "created", 60000);
    }
    const double place = compositor.running() ? compositor.placeProbe() : -1;
    ++outcome.runs;
    if (compositor.running()) {
        ++outcome.survived;
        outcome.placeMs << place;
    }
    for (int fd : held)
        ::close(fd);
    return true;
}

QString cell(const Outcome &outcome)
{
    if (outcome.runs == 0)
        return QStringLiteral("did not start");
    if (outcome.survived < outcome.runs)
        return QStringLiteral("crashed (%1 of %2 runs)")
            .arg(outcome.runs - outcome.survived)
            .arg(outcome.runs);
    const qsizetype placed = std::count_if(outcome.placeMs.cbegin(), outcome.placeMs.cend(),
                                           [](double ms) { return ms >= 0; });
    if (placed < outcome.placeMs.size())
        return QStringLiteral("survived; probe not placed within %1 s in %2 of %3 runs")
            .arg(placeTimeoutMs / 1000)
            .arg(outcome.placeMs.size() - placed)
            .arg(outcome.runs);
    return QStringLiteral("survived; probe placed in %1 ms")
        .arg(median(outcome.placeMs), 0, 'f', 1);
}

bool available(Kind kind)
{
    const char *program = kind == Vorlane ? nullptr : kind == Cage ? "cage" : "weston";
    return !program || !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Hostile clients against Vorlane, cage, weston"));
    parser.addHelpOption();
    const QCommandLineOption vorlane(QStringLiteral("vorlane"), QStringLiteral("program"),
                                     QStringLiteral("path"));
    const QCommandLineOption probe(QStringLiteral("probe"), QStringLiteral("probe client"),
                                   QStringLiteral("path"));
    const QCommandLineOption stressDir(QStringLiteral("stress-dir"),
                                       QStringLiteral("directory of the hostile programs"),
                                       QStringLiteral("dir"));
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("runs per cell"),
                                  QStringLiteral("n"), QStringLiteral("3"));
    parser.addOptions({ vorlane, probe, stressDir, runs });
    parser.process(app);
    options.vorlane = parser.value(vorlane);
    options.probe = parser.value(probe);
    options.runs = std::max(1, parser.value(runs).toInt());
    const QDir stress(parser.value(stressDir));
    options.truncatePool = stress.filePath(QStringLiteral("vorlane_truncatepool"));
    options.toplevelFlood = stress.filePath(QStringLiteral("vorlane_toplevelflood"));
    if (options.vorlane.isEmpty() || options.probe.isEmpty()) {
        fprintf(stderr, "--vorlane and --probe are required\n");
        return 2;
    }
    // This process holds the connection flood itself.
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }

    struct Row
    {
        Fault fault;
        QString name;
        QString program; // empty: the bench makes the fault itself
    };
    const QList<Row> rows = {
        { TruncatedPool, QStringLiteral("truncated shm pool"), options.truncatePool },
        { ConnectionFlood,
          QStringLiteral("%1 held connections, soft limit 1024").arg(floodConnections), QString() },
        { ToplevelFlood, QStringLiteral("%1 toplevels from one client").arg(floodToplevels),
          options.toplevelFlood },
    };
    const QList<QPair<Kind, QString>> compositors = {
        { Vorlane, QStringLiteral("Vorlane offscreen") },
        { Cage, QStringLiteral("cage (headless, pixman)") },
        { Weston, QStringLiteral("weston kiosk (X11 on Xvfb)") },
    };

    printf("\n## Hostile clients: survived, and exec to sized configure of a new client while "
           "the fault is held (median of %d runs)\n\n",
           options.runs);
    printf("| fault |");
    for (const auto &compositor : compositors)
        printf(" %s |", qPrintable(compositor.second));
    printf("\n|---|---|---|---|\n");
    for (const Row &row : rows) {
        printf("| %s |", qPrintable(row.name));
        fflush(stdout);
        for (const auto &compositor : compositors) {
            QString text;
            if (!row.program.isEmpty() && !QFileInfo(row.program).isExecutable()) {
                text = QStringLiteral("skipped: %1 not built")
                           .arg(QFileInfo(row.program).fileName());
            } else if (!available(compositor.first)) {
                text = QStringLiteral("not installed");
            } else {
                fprintf(stderr, "%s against %s ...\n", qPrintable(row.name),
                        qPrintable(compositor.second));
                Outcome outcome;
                for (int run = 0; run < options.runs; ++run) {
                    if (!runFault(compositor.first, row.fault, outcome))
                        break;
                }
                text = cell(outcome);
            }
            printf(" %s |", qPrintable(text));
            fflush(stdout);
        }
        printf("\n");
    }
    return 0;
}
