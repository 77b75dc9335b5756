#ifndef VORLANE_CORE_CONTROLLER_H
#define VORLANE_CORE_CONTROLLER_H

#include "vorlane_core_global.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;
class QTimer;

namespace Vorlane::Core {

// Starts a client program detached and sends POSIX signals to its single process id.
//
// Wherever the kernel allows it, the process is held through a pidfd, so a signal can never reach
// another process that later received the same id. A process started here is also watched: when it
// ends, processEnded() is emitted and the process id returns to 0.
class VORLANE_CORE_EXPORT Controller : public QObject
{
    Q_OBJECT

public:
    explicit Controller(QObject *parent = nullptr);
    Controller(uint pid, const QString &path, QObject *parent = nullptr);
    ~Controller() override;

    uint pid() const;

    uint startClient(const QString &program, const QStringList &arguments);
    int quitClient();
    int terminateClient();
    int pauseClient();
    int resumeClient();

    // Lets tests exercise the /proc polling used on kernels without pidfd_open().
    static void setPidfdEnabled(bool enabled);
    static bool pidfdEnabled();

signals:
    void processEnded();

private:
    int sendSignal(int signalNumber);
    void attach(uint pid, bool watch);
    void detach();
    void checkProcess();
    void onProcessEnded();

    uint m_pid = 0;
    QString m_path;
    int m_pidfd = -1;
    // Start time of the process in clock ticks since boot, from /proc/PID/stat; tells the
    // process apart from a later one with the same id when no pidfd is available.
    qulonglong m_startTime = 0;
    QSocketNotifier *m_exitNotifier = nullptr;
    QTimer *m_pollTimer = nullptr;
};

} // namespace Vorlane::Core

#endif // VORLANE_CORE_CONTROLLER_H
