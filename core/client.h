#ifndef VORLANE_CORE_CLIENT_H
#define VORLANE_CORE_CLIENT_H

#include "details.h"
#include "vorlane_core_global.h"

#include <QObject>
#include <QString>

namespace Vorlane::Core {

class Controller;

// One client program as the compositor sees it, with the execution state of its process.
class VORLANE_CORE_EXPORT Client : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(uint pid READ pid CONSTANT)
    Q_PROPERTY(Vorlane::Core::Details *details READ details CONSTANT)
    Q_PROPERTY(ExecutionState executionState READ executionState NOTIFY executionStateChanged)

public:
    enum ExecutionState {
        ES_START = 0,
        ES_STARTING = 1,
        ES_RUNNING = 2,
        ES_PAUSE = 3,
        ES_PAUSING = 4,
        ES_PAUSED = 5,
        ES_RESUME = 6,
        ES_RESUMING = 7,
        ES_STOP = 8,
        ES_STOPPING = 9,
        ES_STOPPED = 10
    };
    Q_ENUM(ExecutionState)

    explicit Client(QObject *parent = nullptr);
    Client(uint pid, const QString &name, Details *details, QObject *parent = nullptr);

    QString name() const;
    uint pid() const;
    Details *details() const;
    ExecutionState executionState() const;
    void setExecutionState(ExecutionState state);

    Q_INVOKABLE bool requestExecutionState(Vorlane::Core::Client::ExecutionState value);

    void startClient();
    void pauseClient();
    void resumeClient();
    void quitClient();
    void terminateClient();

signals:
    void executionStateChanged();

private:
    void stopProcess(int (Controller::*signalProcess)(), const char *failureMessage);
    void onProcessEnded();

    uint m_pid = 0;
    QString m_name;
    Details *m_details = nullptr;
    Controller *m_controller = nullptr;
    ExecutionState m_executionState = ES_STOPPED;
};

} // namespace Vorlane::Core

#endif // VORLANE_CORE_CLIENT_H
