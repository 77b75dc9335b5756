#ifndef VORLANE_CORE_CONTROLLER_H
#define VORLANE_CORE_CONTROLLER_H

#include "vorlane_core_global.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace Vorlane::Core {

// Starts a client program detached and sends POSIX signals to its single process id.
class VORLANE_CORE_EXPORT Controller : public QObject
{
    Q_OBJECT

public:
    explicit Controller(QObject *parent = nullptr);
    Controller(uint pid, const QString &path, QObject *parent = nullptr);

    uint pid() const;

    uint startClient(const QString &program, const QStringList &arguments);
    int quitClient();
    int terminateClient();
    int pauseClient();
    int resumeClient();

private:
    uint m_pid = 0;
    QString m_path;
};

} // namespace Vorlane::Core

#endif // VORLANE_CORE_CONTROLLER_H
