#ifndef VORLANE_CORE_UNIXSIGNALING_H
#define VORLANE_CORE_UNIXSIGNALING_H

#include "vorlane_core_global.h"

#include <QObject>

class QSocketNotifier;

namespace Vorlane::Core {

// Turns SIGHUP, SIGTERM, SIGINT and SIGQUIT into unixSignalQuit() on the GUI thread
// through one socket pair per signal (the self-pipe technique).
class VORLANE_CORE_EXPORT UnixSignaling : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignaling(QObject *parent = nullptr);
    ~UnixSignaling() override;

    int setupUnixSignalHandlers();

    static void hupSignalHandler(int);
    static void termSignalHandler(int);
    static void intSignalHandler(int);
    static void quitSignalHandler(int);

signals:
    void unixSignalQuit();

public slots:
    void handleSigInt();
    void handleSigTerm();
    void handleSigHup();
    void handleSigQuit();

private:
    void forward(QSocketNotifier *notifier, int readFd);

    static int sigHupFd[2];
    static int sigTermFd[2];
    static int sigIntFd[2];
    static int sigQuitFd[2];

    QSocketNotifier *intNotifier = nullptr;
    QSocketNotifier *termNotifier = nullptr;
    QSocketNotifier *hupNotifier = nullptr;
    QSocketNotifier *quitNotifier = nullptr;
};

} // namespace Vorlane::Core

#endif // VORLANE_CORE_UNIXSIGNALING_H
