// The cost of the on-screen keyboard: private memory of the idle compositor (xcb on Xvfb, one
// client that has the keyboard) with the keyboard off, on with a client that holds no text-input
// object (the panel is never built), on with one that holds one but never enables it (the panel
// is built in the background), and on after the panel was shown once; and the time from the
// client's enabling text input to the first frame swapped with the panel (the compositor's own
// debug figure), with the frames swapped until then. Prints a Markdown table of medians with the
// smallest and largest value beside.
//
// usage: bench_onscreenkeyboard --vorlane PATH --probe PATH [--runs N]

#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QThread>

#include <cstdio>

namespace {

const QByteArray layouts = R"({"layouts": [
  {"id": "main", "name": "Main", "defaultRegion": "full", "regions": [
    {"id": "full", "name": "Full", "x": 0, "y": 0, "width": 1, "height": 1, "regions": []}]}]})";

bool waitForLine(QProcess *process, const QByteArray &line, QByteArray &seen, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!seen.contains(line) && !deadline.hasExpired()
           && process->state() == QProcess::Running) {
        process->waitForReadyRead(50);
        seen += process->readAllStandardOutput();
    }
    return seen.contains(line);
}

struct Run
{
    double memory = -1;
    // The first time the client enables text input as soon as it has the focus, before the
    // panel is built; the second time the panel is only shown.
    double firstShowMs = -1;
    double secondShowMs = -1;
    double firstShowFrames = -1;
    double secondShowFrames = -1;
};

// One compositor with one probe client; mode is "off", "idle", "capable" or "once".
Run measure(const QString &vorlane, const QString &probe, const QString &mode)
{
    Run run;
    Xvfb xvfb;
    if (!xvfb.start()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return run;
    }
    QTemporaryDir runtime;
    QTemporaryDir config;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    QDir(config.path()).mkpath(QStringLiteral("layouts"));
    QDir(config.path()).mkpath(QStringLiteral("clients"));
    auto write = [&](const QString &relative, const QByteArray &data) {
        QFile file(config.filePath(relative));
        file.open(QIODevice::WriteOnly);
        file.write(data);
    };
    write(QStringLiteral("layouts/l.json"), layouts);
    write(QStringLiteral("clients/probe.desktop"),
          QStringLiteral("[Desktop Entry]\nName=Probe\nTryExec=%1\nExec=%1\n\n"
                         "[X-KXVorlane Settings]\nX-DefaultRegion=main:full\n")
              .arg(probe)
              .toUtf8());
    write(QStringLiteral("config.ini"),
          QStringLiteral("[Settings]\nLayoutsDir=%1/layouts\nClientsDir=%1/clients\n"
                         "DefaultLayout=main\n[Keyboard]\nEnabled=%2\n")
              .arg(config.path(), mode == QLatin1String("off") ? "0" : "1")
              .toUtf8());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("DISPLAY"), xvfb.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    auto *compositor = new QProcess;
    compositor->setProcessEnvironment(env);
    compositor->setStandardErrorFile(config.filePath(QStringLiteral("stderr.txt")));
    compositor->start(vorlane,
                      { QStringLiteral("-d"), QStringLiteral("-c"),
                        config.filePath(QStringLiteral("config.ini")) });
    QDeadlineTimer socketWait(30000);
    while (!QFile::exists(runtime.filePath(QStringLiteral("wayland-0")))
           && !socketWait.hasExpired())
        QThread::msleep(50);

    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
    auto *client = new QProcess;
    client->setProcessEnvironment(env);
    client->start(
        probe,
        { QStringLiteral("--") + (mode == QLatin1String("off") ? QStringLiteral("idle") : mode) });
    client->waitForStarted(10000);
    QByteArray seen;
    const QByteArray last = mode == QLatin1String("once")
        ? "step disabled\nstep enabled\nstep disabled"
        : "step ready";
    if (!waitForLine(client, last, seen, 30000))
        std::fprintf(stderr, "%s: the probe did not get to \"%s\": %s\n", qPrintable(mode),
                     last.constData(), client->readAllStandardError().constData());
    else {
        // Settled: the panel has gone and the idle trim has run.
        QThread::sleep(3);
        run.memory = memoryMb(compositor->processId()).priv;
    }
    QFile log(config.filePath(QStringLiteral("stderr.txt")));
    log.open(QIODevice::ReadOnly);
    static const QRegularExpression figure(
        QStringLiteral("first frame after (\\d+) ms, frame (\\d+) since"));
    auto it = figure.globalMatch(QString::fromUtf8(log.readAll()));
    if (it.hasNext()) {
        const auto match = it.next();
        run.firstShowMs = match.captured(1).toDouble();
        run.firstShowFrames = match.captured(2).toDouble();
    }
    if (it.hasNext()) {
        const auto match = it.next();
        run.secondShowMs = match.captured(1).toDouble();
        run.secondShowFrames = match.captured(2).toDouble();
    }
    stopProcess(client, SIGKILL);
    stopProcess(compositor);
    return run;
}

QString figures(const QList<double> &values, int decimals)
{
    QList<double> valid;
    for (double v : values) {
        if (v >= 0)
            valid << v;
    }
    if (valid.isEmpty())
        return QStringLiteral("n/a");
    const auto [low, high] = std::minmax_element(valid.cbegin(), valid.cend());
    return QStringLiteral("%1 (%2 to %3)")
        .arg(median(valid), 0, 'f', decimals)
        .arg(*low, 0, 'f', decimals)
        .arg(*high, 0, 'f', decimals);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption vorlane(QStringLiteral("vorlane"), QString(), QStringLiteral("path"));
    const QCommandLineOption probe(QStringLiteral("probe"), QString(), QStringLiteral("path"));
    const QCommandLineOption runs(QStringLiteral("runs"), QString(), QStringLiteral("n"),
                                  QStringLiteral("5"));
    parser.addOptions({ vorlane, probe, runs });
    parser.process(app);

    QList<double> off, idle, capable, once, first, second, firstFrames, secondFrames;
    for (int i = 0; i < parser.value(runs).toInt(); ++i) {
        off << measure(parser.value(vorlane), parser.value(probe), QStringLiteral("off")).memory;
        idle << measure(parser.value(vorlane), parser.value(probe), QStringLiteral("idle")).memory;
        capable << measure(parser.value(vorlane), parser.value(probe), QStringLiteral("capable"))
                       .memory;
        const Run shown
            = measure(parser.value(vorlane), parser.value(probe), QStringLiteral("once"));
        once << shown.memory;
        first << shown.firstShowMs;
        second << shown.secondShowMs;
        firstFrames << shown.firstShowFrames;
        secondFrames << shown.secondShowFrames;
    }
    std::printf("## On-screen keyboard (xcb on Xvfb, one client; median (min to max) of %d)\n\n",
                int(off.size()));
    std::printf("| figure | value |\n|---|---|\n");
    const auto row = [](const char *name, const QList<double> &values, int decimals) {
        std::printf("| %s | %s |\n", name, qPrintable(figures(values, decimals)));
    };
    row("private memory, keyboard off (MB)", off, 1);
    row("private memory, keyboard on, client without text input (MB)", idle, 1);
    row("private memory, keyboard on, client with text input, never shown (MB)", capable, 1);
    row("private memory, keyboard on, shown once (MB)", once, 1);
    row("text input enabled at once on focus to the panel's first frame (ms)", first, 0);
    row("the same, in frames swapped since the request", firstFrames, 0);
    row("text input enabled once the panel is built, to its first frame (ms)", second, 0);
    row("the same, in frames swapped since the request", secondFrames, 0);
    return 0;
}
