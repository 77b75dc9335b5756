#pragma once

// What the benchmarks that start compositors side by side share.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

// The median of the values that were measured (negative ones were not), or -1.
inline double median(QList<double> values)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }),
                 values.end());
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

// Every descendant of a process, deepest first, so that none is left behind by its parent.
inline QList<qint64> descendants(qint64 pid)
{
    QList<qint64> result;
    const QStringList tasks = QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs);
    for (const QString &task : tasks) {
        QFile children(QStringLiteral("/proc/%1/task/%2/children").arg(pid).arg(task));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : children.readAll().split(' ')) {
            if (child.trimmed().isEmpty())
                continue;
            const qint64 id = child.trimmed().toLongLong();
            result << descendants(id) << id;
        }
    }
    return result;
}

// Stops process with sig (SIGKILL after five seconds), kills what it leaves behind and deletes
// it.
inline void stopProcess(QProcess *process, int sig = SIGTERM)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        const QList<qint64> children = descendants(process->processId());
        ::kill(pid_t(process->processId()), sig);
        if (!process->waitForFinished(5000)) {
            ::kill(pid_t(process->processId()), SIGKILL);
            process->waitForFinished(5000);
        }
        for (qint64 child : children)
            ::kill(pid_t(child), SIGKILL);
    }
    delete process;
}

// An X server of the display's size for the compositors that need one.
struct Memory
{
    double rss = -1;
    double pss = -1;
    double priv = -1;
};

// Resident, proportional and private memory of a process in MB. Private is its anonymous
// memory and the shared memory that only it maps: pages of library files count as shared even
// when no other process happens to map them at the moment.
inline Memory memoryMb(qint64 pid)
{
    Memory memory;
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return memory;
    const auto kb = [](const QByteArray &line) {
        return line.mid(line.indexOf(':') + 1).trimmed().split(' ').first().toDouble();
    };
    double anonymous = -1;
    for (const QByteArray &line : rollup.readAll().split('\n')) {
        if (line.startsWith("Rss:"))
            memory.rss = kb(line) / 1024.0;
        else if (line.startsWith("Pss:"))
            memory.pss = kb(line) / 1024.0;
        else if (line.startsWith("Anonymous:"))
            anonymous = kb(line);
    }
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (anonymous < 0 || !smaps.open(QIODevice::ReadOnly))
        return memory;
    double sharedMemory = 0;
    bool inSharedMemory = false;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields.first().contains('-') && !fields.first().endsWith(':')) {
            // A private mapping of shared memory (the QML engine's heap) is anonymous already.
            const QByteArray path = fields.size() >= 6 ? fields.at(5) : QByteArray();
            // The probe's buffer pool is the client's memory: the probe unmaps it after
            // drawing, which leaves the compositor the only process that maps it.
            inSharedMemory = fields.at(1).endsWith('s') && !path.startsWith("/memfd:vorlane-probe")
                && (path.startsWith("/memfd:") || path.startsWith("/dev/shm/")
                    || path.startsWith("/SYSV"));
        } else if (inSharedMemory
                   && (line.startsWith("Private_Clean:") || line.startsWith("Private_Dirty:"))) {
            sharedMemory += kb(line);
        }
    }
    memory.priv = (anonymous + sharedMemory) / 1024.0;
    return memory;
}

class Xvfb
{
public:
    bool start()
    {
        m_process = new QProcess;
        m_process->start(QStringLiteral("Xvfb"),
                         { QStringLiteral("-displayfd"), QStringLiteral("1"),
                           QStringLiteral("-screen"), QStringLiteral("0"),
                           QStringLiteral("800x480x24"), QStringLiteral("-nolisten"),
                           QStringLiteral("tcp") });
        QByteArray out;
        QDeadlineTimer deadline(20000);
        while (!out.contains('\n') && !deadline.hasExpired()
               && m_process->state() != QProcess::NotRunning) {
            m_process->waitForReadyRead(100);
            out += m_process->readAllStandardOutput();
        }
        m_display = QStringLiteral(":") + QString::fromLatin1(out.trimmed());
        return out.contains('\n');
    }
    ~Xvfb() { stopProcess(m_process); }
    QString display() const { return m_display; }

private:
    QProcess *m_process = nullptr;
    QString m_display;
};

struct Command
{
    QString program;
    QStringList args;
};

// weston with the kiosk shell on the X server of its DISPLAY, serving wayland-0.
inline Command westonCommand()
{
    return { QStringLiteral("weston"),
             { QStringLiteral("--backend=x11-backend.so"), QStringLiteral("--shell=kiosk-shell.so"),
               QStringLiteral("--socket=wayland-0"), QStringLiteral("--width=800"),
               QStringLiteral("--height=480") } };
}

// cage, headless and drawing with pixman, in runtimeDir.
inline Command cageCommand(const QString &runtimeDir)
{
    // cage refuses root; it runs as nobody in a runtime directory of nobody's.
    ::chown(QFile::encodeName(runtimeDir).constData(), 65534, 65534);
    return { QStringLiteral("setpriv"),
             { QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
               QStringLiteral("--clear-groups"), QStringLiteral("env"),
               QStringLiteral("WLR_BACKENDS=headless"), QStringLiteral("WLR_LIBINPUT_NO_DEVICES=1"),
               QStringLiteral("WLR_RENDERER=pixman"), QStringLiteral("cage"), QStringLiteral("--"),
               QStringLiteral("sleep"), QStringLiteral("100000") } };
}

// What a benchmark's compositor owns: private runtime and configuration directories, an X
// server if it needs one, its process and the clients started against it. All end with it.
class CompositorBase
{
public:
    explicit CompositorBase(const QString &prefix)
        : m_runtime(QDir::tempPath() + QStringLiteral("/%1-rt-XXXXXX").arg(prefix))
        , m_config(QDir::tempPath() + QStringLiteral("/%1-cfg-XXXXXX").arg(prefix))
    {
        ::chmod(QFile::encodeName(m_runtime.path()).constData(), 0700);
    }
    ~CompositorBase()
    {
        for (QProcess *client : m_clients)
            stopProcess(client, SIGKILL);
        stopProcess(m_process);
    }
    CompositorBase(const CompositorBase &) = delete;
    CompositorBase &operator=(const CompositorBase &) = delete;

    // Writes a file below the configuration directory.
    void writeFile(const QString &relative, const QByteArray &data)
    {
        QFile file(m_config.filePath(relative));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(data);
    }

protected:
    // The session's environment without its displays, with the private runtime directory.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        return env;
    }

    QTemporaryDir m_runtime;
    QTemporaryDir m_config;
    Xvfb m_xvfb;
    QProcess *m_process = nullptr;
    QList<QProcess *> m_clients;
};
