#include "unixsignaling.h"

#include <QSocketNotifier>

namespace Vorlane::Core {
int UnixSignaling::sigHupFd[2];
int UnixSignaling::sigTermFd[2];
int UnixSignaling::sigIntFd[2];
int UnixSignaling::sigQuitFd[2];
UnixSignaling::UnixSignaling(QObject *parent) : QObject(parent) { }
UnixSignaling::~UnixSignaling() = default;
int UnixSignaling::setupUnixSignalHandlers() { return 0; }
void UnixSignaling::hupSignalHandler(int) { }
void UnixSignaling::termSignalHandler(int) { }
void UnixSignaling::intSignalHandler(int) { }
void UnixSignaling::quitSignalHandler(int) { }
void UnixSignaling::handleSigInt() { }
void UnixSignaling::handleSigTerm() { }
void UnixSignaling::handleSigHup() { }
void UnixSignaling::handleSigQuit() { }
} // namespace Vorlane::Core
