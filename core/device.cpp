#include "device.h"

#include <QTimer>

#include <cstdio>

namespace Vorlane::Core {

namespace {

// The first IPv4 address of eth0 without its prefix length.
const char ADDRESS_PIPELINE[] = "ip addr | grep 'scope.*eth0' | awk 'FNR == 1 {print $2}' "
                                "| sed 's/\\/[0-9]*$//'";

} // namespace

Device::Device(QObject *parent)
    : QObject(parent)
{
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(1000);
    connect(m_pollTimer, &QTimer::timeout, this, &Device::getIPAddress);
    m_pollTimer->start();
}

QString Device::ipAddress() const
{
    return m_ipAddress;
}

bool Device::getIPAddress()
{
    QByteArray answer;
    if (FILE *pipe = ::popen(ADDRESS_PIPELINE, "r")) {
        char buffer[512];
        if (std::fgets(buffer, sizeof(buffer), pipe))
            answer = buffer;
        ::pclose(pipe);
    }

    const QString address = QString::fromUtf8(answer).trimmed();
    if (address.isEmpty())
        return false;

    m_pollTimer->stop();
    m_ipAddress = address;
    emit ipAddressChanged(m_ipAddress);
    return true;
}

} // namespace Vorlane::Core
