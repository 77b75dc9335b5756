#include "controller.h"

#include <QMetaObject>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Vorlane::Core {

namespace {

bool s_pidfdEnabled = true;

// How often a started process is looked up in /proc when it cannot be held through a pidfd.
constexpr int PROCESS_POLL_INTERVAL_MS = 500;

// A process id that kill() would read as "every process", "own group" or a process group.
bool isSingleProcessId(uint pid)
{
    return pid > 0 && pid <= uint(INT_MAX);
}

int openPidfd(uint pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
#else
    Q_UNUSED(pid);
    errno = ENOSYS;
    return -1;
#endif
}

int signalPidfd(int pidfd, int signalNumber)
{
#ifdef SYS_pidfd_send_signal
    return int(::syscall(SYS_pidfd_send_signal, pidfd, signalNumber, nullptr, 0));
#else
    Q_UNUSED(pidfd);
    Q_UNUSED(signalNumber);
    errno = ENOSYS;
    return -1;
#endif
}

struct ProcessStat
{
    bool exists = false;
    char state = 0;
    qulonglong startTime = 0;
};

// Reads the state letter and the start time (field 22) of /proc/PID/stat.
ProcessStat readProcessStat(uint pid)
{
    ProcessStat stat;
    const QByteArray path = "/proc/" + QByteArray::number(pid) + "/stat";
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return stat;
    char buffer[1024];
    const ssize_t length = ::read(fd, buffer, sizeof(buffer) - 1);
    ::close(fd);
    if (length <= 0)
        return stat;
    const QByteArray text(buffer, int(length));
    // The command name in parentheses may itself hold blanks and parentheses.
    const int nameEnd = text.lastIndexOf(')');
    if (nameEnd < 0)
        return stat;
    const QList<QByteArray> fields = text.mid(nameEnd + 1).simplified().split(' ');
    if (fields.size() < 20)
        return stat;
    stat.exists = true;
    stat.state = fields.at(0).isEmpty() ? 0 : fields.at(0).at(0);
    stat.startTime = fields.at(19).toULongLong();
    return stat;
}

} // namespace

Controller::Controller(QObject *parent)
    : QObject(parent)
{ }

Controller::Controller(uint pid, const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
{
    attach(pid, false);
}

Controller::~Controller()
{
    detach();
}

uint Controller::pid() const
{
    return m_pid;
}

void Controller::setPidfdEnabled(bool enabled)
{
    s_pidfdEnabled = enabled;
}

bool Controller::pidfdEnabled()
{
    return s_pidfdEnabled;
}

uint Controller::startClient(const QString &program, const QStringList &arguments)
{
    detach();
    qint64 pid = 0;
    const bool started
        = !program.isEmpty() && QProcess::startDetached(program, arguments, QString(), &pid);
    if (started && pid > 0 && pid <= INT_MAX)
        attach(uint(pid), true);
    return m_pid;
}

int Controller::quitClient()
{
    const int result = sendSignal(SIGQUIT);
    if (result == 0)
        detach();
    return result;
}

int Controller::terminateClient()
{
    const int result = sendSignal(SIGTERM);
    if (result == 0)
        detach();
    return result;
}

int Controller::pauseClient()
{
    return sendSignal(SIGSTOP);
}

int Controller::resumeClient()
{
    return sendSignal(SIGCONT);
}

int Controller::sendSignal(int signalNumber)
{
    if (!isSingleProcessId(m_pid)) {
        errno = ESRCH;
        return -1;
    }
    if (m_pidfd >= 0)
        return signalPidfd(m_pidfd, signalNumber) == 0 ? 0 : -1;
    // Without a start time the process was already gone when it was taken over: its id may
    // name somebody else's process by now.
    if (m_startTime == 0 || readProcessStat(m_pid).startTime != m_startTime) {
        errno = ESRCH;
        return -1;
    }
    return ::kill(pid_t(m_pid), signalNumber) == 0 ? 0 : -1;
}

void Controller::attach(uint pid, bool watch)
{
    detach();
    m_pid = pid;
    if (!isSingleProcessId(pid))
        return;

    const ProcessStat stat = readProcessStat(pid);
    m_startTime = stat.startTime;

    if (s_pidfdEnabled) {
        const int pidfd = openPidfd(pid);
        if (pidfd >= 0) {
            m_pidfd = pidfd;
            if (watch) {
                // A pidfd becomes readable once the process has ended (zombies included).
                m_exitNotifier = new QSocketNotifier(pidfd, QSocketNotifier::Read, this);
                connect(m_exitNotifier, &QSocketNotifier::activated, this,
                        &Controller::onProcessEnded);
            }
            return;
        }
        if (errno == ESRCH) {
            if (watch) {
                // Already gone before it could be held; report it from the event loop, so that
                // the caller first sees the start succeed.
                QPointer<Controller> self(this);
                QMetaObject::invokeMethod(
                    this,
                    [self, pid]() {
                        if (self && self->m_pid == pid && self->m_pidfd < 0)
                            self->onProcessEnded();
                    },
                    Qt::QueuedConnection);
            }
            return;
        }
    }

    if (watch) {
        m_pollTimer = new QTimer(this);
        m_pollTimer->setInterval(PROCESS_POLL_INTERVAL_MS);
        connect(m_pollTimer, &QTimer::timeout, this, &Controller::checkProcess);
        m_pollTimer->start();
    }
}

void Controller::detach()
{
    // Deleted later: detach() may run inside the notifier's or the timer's own signal.
    if (m_exitNotifier) {
        m_exitNotifier->setEnabled(false);
        m_exitNotifier->deleteLater();
        m_exitNotifier = nullptr;
    }
    if (m_pollTimer) {
        m_pollTimer->stop();
        m_pollTimer->deleteLater();
        m_pollTimer = nullptr;
    }
    if (m_pidfd >= 0) {
        ::close(m_pidfd);
        m_pidfd = -1;
    }
    m_startTime = 0;
    m_pid = 0;
}

void Controller::checkProcess()
{
    const ProcessStat stat = readProcessStat(m_pid);
    const bool ended = !stat.exists || stat.state == 'Z' || stat.state == 'X'
        || (m_startTime != 0 && stat.startTime != m_startTime);
    if (ended)
        onProcessEnded();
}

void Controller::onProcessEnded()
{
    detach();
    emit processEnded();
}

} // namespace Vorlane::Core
