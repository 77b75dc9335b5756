#include "device.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using Vorlane::Core::Device;

// Puts a fake "ip" first on the search path; it prints whatever the test wrote to its output file.
class TstDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void lookup_data();
    void lookup();
    void foundOnceBySearching();

private:
    void setIpOutput(const QByteArray &output, int exitCode = 0);

    QTemporaryDir m_bin;
    QByteArray m_path;
};

void TstDevice::initTestCase()
{
    QVERIFY(m_bin.isValid());
    m_path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_bin.path()) + ":" + m_path);
}

void TstDevice::cleanupTestCase()
{
    qputenv("PATH", m_path);
}

void TstDevice::setIpOutput(const QByteArray &output, int exitCode)
{
    QFile data(m_bin.filePath("ip.out"));
    QVERIFY(data.open(QIODevice::WriteOnly | QIODevice::Truncate));
    data.write(output);
    data.close();
    QFile script(m_bin.filePath("ip"));
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write("#!/bin/sh\ncat '" + QFile::encodeName(data.fileName()) + "'\nexit "
                 + QByteArray::number(exitCode) + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

namespace {

const QByteArray LOOPBACK = "1: lo: <LOOPBACK,UP,LOWER_UP> mtu 65536 qdisc noqueue state UNKNOWN\n"
                            "    inet 127.0.0.1/8 scope host lo\n"
                            "    inet6 ::1/128 scope host\n";
const QByteArray ETH0 = "2: eth0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 state UP\n"
                        "    link/ether 02:00:00:00:00:01 brd ff:ff:ff:ff:ff:ff\n";

} // namespace

void TstDevice::lookup_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("address");

    QTest::newRow("one address") << QByteArray(
        LOOPBACK + ETH0
        + "    inet 192.0.2.10/24 brd 192.0.2.255 scope global eth0\n"
          "    inet6 fe80::1/64 scope link\n")
                                 << 0 << "192.0.2.10";
    QTest::newRow("first of two") << QByteArray(
        ETH0
        + "    inet 198.51.100.7/16 scope global eth0\n"
          "    inet 192.0.2.10/24 scope global secondary eth0\n")
                                  << 0 << "198.51.100.7";
    QTest::newRow("labelled address")
        << QByteArray(ETH0 + "    inet 192.0.2.11/32 scope global eth0:1\n") << 0 << "192.0.2.11";
    QTest::newRow("only IPv6") << QByteArray(ETH0 + "    inet6 2001:db8::1/64 scope global\n") << 0
                               << "";
    QTest::newRow("other interfaces only")
        << QByteArray(LOOPBACK + "    inet 10.0.0.2/8 scope global wlan0\n") << 0 << "";
    QTest::newRow("ip fails") << QByteArray() << 1 << "";
}

void TstDevice::lookup()
{
    QFETCH(QByteArray, output);
    QFETCH(int, exitCode);
    QFETCH(QString, address);

    setIpOutput(output, exitCode);
    Device device;
    QSignalSpy spy(&device, &Device::ipAddressChanged);
    auto *timer = device.findChild<QTimer *>();
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 1000);
    QCOMPARE(device.ipAddress(), QString());

    QCOMPARE(device.getIPAddress(), !address.isEmpty());
    QCOMPARE(device.ipAddress(), address);
    QCOMPARE(device.property("ipAddress").toString(), address);
    // Searching goes on until an address is found, and stops then.
    QCOMPARE(timer->isActive(), address.isEmpty());
    QCOMPARE(spy.count(), address.isEmpty() ? 0 : 1);
    if (!address.isEmpty())
        QCOMPARE(spy.at(0).at(0).toString(), address);
}

void TstDevice::foundOnceBySearching()
{
    // Nothing is looked up at construction; the timer finds the address and then stops, so a
    // later address is not followed.
    setIpOutput(ETH0 + "    inet 192.0.2.10/24 scope global eth0\n");
    Device device;
    QSignalSpy spy(&device, &Device::ipAddressChanged);
    auto *timer = device.findChild<QTimer *>();
    QCOMPARE(device.ipAddress(), QString());

    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("192.0.2.10"));
    QCOMPARE(device.ipAddress(), QStringLiteral("192.0.2.10"));
    QVERIFY(!timer->isActive());
}

QTEST_GUILESS_MAIN(TstDevice)
#include "tst_device.moc"
