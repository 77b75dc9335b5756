#include "unixsignaling.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Vorlane::Core {

int UnixSignaling::sigHupFd[2] = { -1, -1 };
int UnixSignaling::sigTermFd[2] = { -1, -1 };
int UnixSignaling::sigIntFd[2] = { -1, -1 };
int UnixSignaling::sigQuitFd[2] = { -1, -1 };

namespace {

void createPair(int pair[2], const char *failure)
{
    // Close-on-exec keeps the pairs out of the client programs we start.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        qFatal("%s", failure);
    // A handler must never block: with the write end non-blocking, a flood of signals that
    // fills the pair while nobody reads only loses the surplus bytes.
    const int flags = ::fcntl(pair[0], F_GETFL);
    if (flags != -1)
        ::fcntl(pair[0], F_SETFL, flags | O_NONBLOCK);
}

// Runs in signal context: one write, and errno left as the interrupted code had it.
void writeOneByte(int fd)
{
    const int savedErrno = errno;
    const char byte = 1;
    const ssize_t written = ::write(fd, &byte, sizeof(byte));
    Q_UNUSED(written);
    errno = savedErrno;
}

int install(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

UnixSignaling::UnixSignaling(QObject *parent)
    : QObject(parent)
{
    createPair(sigHupFd, "Couldn't create HUP socketpair");
    createPair(sigTermFd, "Couldn't create TERM socketpair");
    createPair(sigIntFd, "Couldn't create INT socketpair");
    createPair(sigQuitFd, "Couldn't create QUIT socketpair");

    hupNotifier = new QSocketNotifier(sigHupFd[1], QSocketNotifier::Read, this);
    connect(hupNotifier, SIGNAL(activated(QSocketDescriptor)), this, SLOT(handleSigHup()));
    termNotifier = new QSocketNotifier(sigTermFd[1], QSocketNotifier::Read, this);
    connect(termNotifier, SIGNAL(activated(QSocketDescriptor)), this, SLOT(handleSigTerm()));
    intNotifier = new QSocketNotifier(sigIntFd[1], QSocketNotifier::Read, this);
    connect(intNotifier, SIGNAL(activated(QSocketDescriptor)), this, SLOT(handleSigInt()));
    quitNotifier = new QSocketNotifier(sigQuitFd[1], QSocketNotifier::Read, this);
    connect(quitNotifier, SIGNAL(activated(QSocketDescriptor)), this, SLOT(handleSigQuit()));
}

UnixSignaling::~UnixSignaling()
{
    // The pairs stay open and the handlers installed: a signal arriving during or after
    // shut-down must still find a valid descriptor to write to, never a reused number.
    delete hupNotifier;
    delete termNotifier;
    delete intNotifier;
    delete quitNotifier;
}

int UnixSignaling::setupUnixSignalHandlers()
{
    if (install(SIGHUP, hupSignalHandler) != 0)
        return 1;
    if (install(SIGTERM, termSignalHandler) != 0)
        return 2;
    if (install(SIGINT, intSignalHandler) != 0)
        return 3;
    if (install(SIGQUIT, quitSignalHandler) != 0)
        return 4;
    return 0;
}

void UnixSignaling::hupSignalHandler(int)
{
    writeOneByte(sigHupFd[0]);
}

void UnixSignaling::termSignalHandler(int)
{
    writeOneByte(sigTermFd[0]);
}

void UnixSignaling::intSignalHandler(int)
{
    writeOneByte(sigIntFd[0]);
}

void UnixSignaling::quitSignalHandler(int)
{
    writeOneByte(sigQuitFd[0]);
}

void UnixSignaling::handleSigInt()
{
    forward(intNotifier, sigIntFd[1]);
}

void UnixSignaling::handleSigTerm()
{
    forward(termNotifier, sigTermFd[1]);
}

void UnixSignaling::handleSigHup()
{
    forward(hupNotifier, sigHupFd[1]);
}

void UnixSignaling::handleSigQuit()
{
    forward(quitNotifier, sigQuitFd[1]);
}

void UnixSignaling::forward(QSocketNotifier *notifier, int readFd)
{
    notifier->setEnabled(false);
    char byte = 0;
    const ssize_t result = ::read(readFd, &byte, sizeof(byte));
    Q_UNUSED(result);
    // A receiver may delete us; the notifier goes with us then.
    const QPointer<QSocketNotifier> guard(notifier);
    emit unixSignalQuit();
    if (guard)
        notifier->setEnabled(true);
}

} // namespace Vorlane::Core
