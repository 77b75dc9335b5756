#include "device.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <sched.h>

using Vorlane::Core::Device;

// Runs in a network namespace of its own, where the test makes eth0 (a veth pair with veth0)
// and gives it the addresses of each case.
class TstDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void lookup_data();
    void lookup();
    void foundOnceBySearching();

private:
    bool setUpInterfaces(const QStringList &commands);
};

void TstDevice::initTestCase()
{
    if (::unshare(CLONE_NEWNET) != 0)
        QSKIP("a network namespace of its own needs root (CAP_SYS_ADMIN)");
    if (!setUpInterfaces({ QStringLiteral("link add eth0 type veth peer name veth0") }))
        QSKIP("no veth interfaces here (ip from iproute2, kernel veth support)");
}

bool TstDevice::setUpInterfaces(const QStringList &commands)
{
    const auto ip = [](const QString &command) {
        QProcess process;
        process.start(QStringLiteral("ip"), command.split(u' '));
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    };
    // Deleting one end of the pair deletes both, with their addresses.
    ip(QStringLiteral("link del eth0"));
    for (const QString &command : commands) {
        if (!ip(command))
            return false;
    }
    return true;
}

void TstDevice::lookup_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("address");

    const QString eth0 = QStringLiteral("link add eth0 type veth peer name veth0");
    QTest::newRow("no eth0") << QStringList() << "";
    QTest::newRow("eth0 without address") << QStringList { eth0 } << "";
    QTest::newRow("one address") << QStringList { eth0, "addr add 2001:db8::1/64 dev eth0",
                                                  "addr add 192.0.2.10/24 dev eth0" }
                                 << "192.0.2.10";
    QTest::newRow("first of two") << QStringList { eth0, "addr add 198.51.100.7/16 dev eth0",
                                                   "addr add 192.0.2.10/24 dev eth0" }
                                  << "198.51.100.7";
    QTest::newRow("alias label") << QStringList { eth0,
                                                  "addr add 192.0.2.11/32 dev eth0 label eth0:1" }
                                 << "192.0.2.11";
    QTest::newRow("other interfaces only")
        << QStringList { eth0, "addr add 10.0.0.2/8 dev veth0", "addr add 127.0.0.1/8 dev lo" }
        << "";
}

void TstDevice::lookup()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, address);

    QVERIFY(setUpInterfaces(commands));
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
    QVERIFY(setUpInterfaces({ QStringLiteral("link add eth0 type veth peer name veth0"),
                              QStringLiteral("addr add 192.0.2.10/24 dev eth0") }));
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
