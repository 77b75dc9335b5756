#ifndef VORLANE_CORE_DEVICE_H
#define VORLANE_CORE_DEVICE_H

#include "vorlane_core_global.h"

#include <QObject>
#include <QString>

class QTimer;

namespace Vorlane::Core {

// The device's IPv4 address on eth0, looked up once a second until it is known.
class VORLANE_CORE_EXPORT Device : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString ipAddress READ ipAddress NOTIFY ipAddressChanged)

public:
    explicit Device(QObject *parent = nullptr);

    QString ipAddress() const;
    bool getIPAddress();

signals:
    void ipAddressChanged(const QString &ipAddress);

private:
    QTimer *m_pollTimer = nullptr;
    QString m_ipAddress;
};

} // namespace Vorlane::Core

#endif // VORLANE_CORE_DEVICE_H
