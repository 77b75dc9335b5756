#include "device.h"

#include <QTimer>

namespace Vorlane::Core {
Device::Device(QObject *parent) : QObject(parent) { }
QString Device::ipAddress() const { return m_ipAddress; }
bool Device::getIPAddress() { return false; }
} // namespace Vorlane::Core
