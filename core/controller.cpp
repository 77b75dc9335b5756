#include "controller.h"

namespace Vorlane::Core {
Controller::Controller(QObject *parent) : QObject(parent) { }
Controller::Controller(uint pid, const QString &path, QObject *parent) : QObject(parent), m_pid(pid), m_path(path) { }
uint Controller::pid() const { return m_pid; }
uint Controller::startClient(const QString &, const QStringList &) { return 0; }
int Controller::quitClient() { return -1; }
int Controller::terminateClient() { return -1; }
int Controller::pauseClient() { return -1; }
int Controller::resumeClient() { return -1; }
} // namespace Vorlane::Core
