// Time of Manager::registerClient with 200 live processes: half of them run a program that has a
// desktop entry, the other half each run a program of their own that has none.

#include "manager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using Vorlane::Core::Manager;

namespace {

constexpr int PROCESSES_PER_KIND = 100;

struct Figures
{
    double median = 0;
    double mean = 0;
    double minimum = 0;
    double maximum = 0;
};

Figures figures(std::vector<double> values)
{
    Figures result;
    if (values.empty())
        return result;
    std::sort(values.begin(), values.end());
    result.median = values[values.size() / 2];
    result.minimum = values.front();
    result.maximum = values.back();
    double sum = 0;
    for (double value : values)
        sum += value;
    result.mean = sum / double(values.size());
    return result;
}

void print(QTextStream &out, const char *label, const std::vector<double> &values)
{
    const Figures f = figures(values);
    out << label << ": n=" << values.size() << " median=" << f.median << " ms mean=" << f.mean
        << " ms min=" << f.minimum << " ms max=" << f.maximum << " ms\n";
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(content) == content.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    // The manager quits its clients with SIGQUIT when it goes; no core files from that.
    struct rlimit noCore = { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);

    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    const QDir dir(work.path());
    dir.mkdir(QStringLiteral("bin"));
    dir.mkdir(QStringLiteral("clients"));
    dir.mkdir(QStringLiteral("layouts"));
    QFile::copy(QStringLiteral(":/defaults/fallbacklayout.json"),
                dir.filePath(QStringLiteral("layouts/main.json")));

    const QString matched = dir.filePath(QStringLiteral("bin/bench-described"));
    if (!QFile::copy(QStringLiteral("/bin/sleep"), matched))
        return 1;
    writeFile(dir.filePath(QStringLiteral("clients/described.desktop")),
              "[Desktop Entry]\nName=Described\nTryExec=/usr/bin/bench-described\nExec="
                  + QFile::encodeName(matched) + " 1000\n");
    // A few more entries, so that matching walks a list like a real one.
    for (int i = 0; i < 10; ++i) {
        writeFile(dir.filePath(QStringLiteral("clients/other%1.desktop").arg(i)),
                  "[Desktop Entry]\nName=Other\nTryExec=/usr/bin/other" + QByteArray::number(i)
                      + "\nExec=/usr/bin/other\n");
    }

    QStringList programs;
    for (int i = 0; i < PROCESSES_PER_KIND; ++i)
        programs << matched;
    for (int i = 0; i < PROCESSES_PER_KIND; ++i) {
        // Hard links keep their own name in /proc/PID/exe and cost no copy.
        const QString path = dir.filePath(QStringLiteral("bin/bench-free-%1").arg(i));
        if (::link(QFile::encodeName(matched).constData(), QFile::encodeName(path).constData())
            != 0)
            QFile::copy(matched, path);
        programs << path;
    }

    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QString &program : std::as_const(programs)) {
        auto process = std::make_unique<QProcess>();
        process->start(program, { QStringLiteral("1000") });
        if (!process->waitForStarted()) {
            out << "could not start " << program << "\n";
            return 1;
        }
        processes.push_back(std::move(process));
    }

    auto manager
        = std::make_unique<Manager>(dir.filePath(QStringLiteral("layouts")),
                                    dir.filePath(QStringLiteral("clients")), false, nullptr);

    std::vector<double> withEntry, withoutEntry, again;
    QElapsedTimer timer;
    for (size_t i = 0; i < processes.size(); ++i) {
        const uint pid = uint(processes[i]->processId());
        timer.start();
        manager->registerClient(pid);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        (int(i) < PROCESSES_PER_KIND ? withEntry : withoutEntry).push_back(ms);
    }
    for (const auto &process : processes) {
        timer.start();
        manager->registerClient(uint(process->processId()));
        again.push_back(double(timer.nsecsElapsed()) / 1e6);
    }

    out << "registerClient with " << processes.size() << " live processes\n";
    print(out, "  with a matching entry   ", withEntry);
    print(out, "  without an entry        ", withoutEntry);
    print(out, "  already registered      ", again);
    out.flush();

    for (const auto &process : processes)
        manager->unregisterClient(uint(process->processId()));
    manager.reset();
    for (const auto &process : processes) {
        ::kill(pid_t(process->processId()), SIGKILL);
        process->waitForFinished();
    }
    return 0;
}
