#ifndef VORLANE_TESTS_CLIENTPROCESSES_H
#define VORLANE_TESTS_CLIENTPROCESSES_H

// Helpers shared by the client, registry and device tests: real processes under chosen names,
// their /proc state, and a capture of the library's messages.

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QtGlobal>

#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace TestSupport {

// A process id that no process can have: above the kernel's highest possible pid.
constexpr uint NO_SUCH_PID = 4194305;

// SIGQUIT must not leave core files behind, and programs the library starts detached must come
// back to the test as children so that they can be reaped.
inline void prepareProcessTests()
{
    struct rlimit noCore = { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

// The state letter of /proc/PID/stat ('S', 'T', 'Z', ...), or 0 when there is no such process.
inline char processState(uint pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = file.readAll();
    const int nameEnd = text.lastIndexOf(')');
    if (nameEnd < 0 || nameEnd + 2 >= text.size())
        return 0;
    return text.at(nameEnd + 2);
}

inline QString processExecutable(uint pid)
{
    return QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
}

// The raw command line of /proc/PID/cmdline (NUL-terminated arguments), empty when unknown.
// The kernel fills it in only after exec has closed the descriptors that report a start, so
// a process that was just started may still show it empty, and before exec its parent's.
inline QByteArray processCommandLine(uint pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The command line that /proc shows for PROGRAM started with ARGUMENTS.
inline QByteArray expectedCommandLine(const QString &program, const QStringList &arguments)
{
    QByteArray line = QFile::encodeName(program) + '\0';
    for (const QString &argument : arguments)
        line += argument.toLocal8Bit() + '\0';
    return line;
}

// Waits for a child (a detached program that came back to this subreaper) and returns the signal
// that ended it, 0 for a normal exit, or -1 when it was not a child.
inline int reapChild(uint pid)
{
    int status = 0;
    if (::waitpid(pid_t(pid), &status, 0) != pid_t(pid))
        return -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// Kills and reaps a child that may still be running; used by cleanups.
inline void killChild(uint pid)
{
    if (pid == 0)
        return;
    int status = 0;
    if (::waitpid(pid_t(pid), &status, WNOHANG) == 0) {
        ::kill(pid_t(pid), SIGKILL);
        ::waitpid(pid_t(pid), &status, 0);
    }
}

// Copies of /bin/sleep under chosen names in a private directory.
class Programs
{
public:
    bool isValid() const { return m_dir.isValid(); }
    QString dirPath() const { return m_dir.path(); }

    QString program(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        if (!QFile::exists(path))
            QFile::copy(QStringLiteral("/bin/sleep"), path);
        return path;
    }

    QString script(const QString &name, const QByteArray &text)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

private:
    QTemporaryDir m_dir;
};

// A running copy of sleep, killed and reaped when it goes out of scope.
class Sleeper
{
public:
    explicit Sleeper(const QString &path, bool ownGroup = false)
    {
        if (ownGroup)
            m_process.setChildProcessModifier([] { ::setpgid(0, 0); });
        const QStringList arguments { QStringLiteral("1000") };
        m_process.start(path, arguments);
        if (!m_process.waitForStarted())
            return;
        // Tests read the command line at once: wait until it is the sleeper's own, not empty
        // (exec under way) nor the test's (still before exec).
        const uint started = pid();
        const QByteArray expected = expectedCommandLine(path, arguments);
        (void)QTest::qWaitFor(
            [&] { return processCommandLine(started) == expected || processState(started) == 0; });
    }
    ~Sleeper()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGKILL);
            m_process.waitForFinished();
        }
    }
    uint pid() const { return uint(m_process.processId()); }
    // The signal that ended the process, 0 for a normal exit, -1 while it is still running.
    int endingSignal(int timeout = 5000)
    {
        if (!m_process.waitForFinished(timeout) && m_process.state() != QProcess::NotRunning)
            return -1;
        return m_process.exitStatus() == QProcess::CrashExit ? m_process.exitCode() : 0;
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

// Records every message written while it exists.
class MessageCatcher
{
public:
    MessageCatcher()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&MessageCatcher::handler);
    }
    ~MessageCatcher()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList warnings() const
    {
        QMutexLocker locker(&m_mutex);
        return m_warnings;
    }
    void clear()
    {
        QMutexLocker locker(&m_mutex);
        m_warnings.clear();
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (s_current && (type == QtWarningMsg || type == QtCriticalMsg)) {
            QMutexLocker locker(&s_current->m_mutex);
            s_current->m_warnings.append(message);
        }
    }

    inline static MessageCatcher *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_warnings;
};

} // namespace TestSupport

#endif // VORLANE_TESTS_CLIENTPROCESSES_H
