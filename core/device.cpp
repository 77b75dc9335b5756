#include "device.h"

#include <QTimer>

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace Vorlane::Core {

namespace {

// An address on eth0 carries the interface name or an alias label such as "eth0:1".
bool onEth0(const char *name)
{
    return name && std::strncmp(name, "eth0", 4) == 0 && (name[4] == '\0' || name[4] == ':');
}

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
    // One netlink query, no child process: the first IPv4 address of eth0 in the kernel's order.
    QString address;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
            if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET
                || !onEth0(entry->ifa_name))
                continue;
            char text[INET_ADDRSTRLEN] = {};
            const auto *inet = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
            if (::inet_ntop(AF_INET, &inet->sin_addr, text, sizeof(text)))
                address = QString::fromLatin1(text);
            break;
        }
        ::freeifaddrs(list);
    }
    if (address.isEmpty())
        return false;

    m_pollTimer->stop();
    m_ipAddress = address;
    emit ipAddressChanged(m_ipAddress);
    return true;
}

} // namespace Vorlane::Core
