#include "unixsignaling.h"

#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <csignal>

using Vorlane::Core::UnixSignaling;

class TestUnixSignaling : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void eachSignalEmitsOnce_data();
    void eachSignalEmitsOnce();
    void floodNeverBlocks();
    void receiverMayDeleteBridge();

private:
    // Runs the event loop until the bridge has nothing left to report.
    void drain();

    // The descriptors are class-wide, so the whole process shares one bridge.
    UnixSignaling *m_bridge = nullptr;
};

void TestUnixSignaling::initTestCase()
{
    m_bridge = new UnixSignaling(this);
    QCOMPARE(m_bridge->setupUnixSignalHandlers(), 0);
}

void TestUnixSignaling::init()
{
    drain();
}

void TestUnixSignaling::drain()
{
    QSignalSpy spy(m_bridge, &UnixSignaling::unixSignalQuit);
    int quietRounds = 0;
    while (quietRounds < 3) {
        const qsizetype before = spy.count();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        quietRounds = spy.count() == before ? quietRounds + 1 : 0;
    }
}

void TestUnixSignaling::eachSignalEmitsOnce_data()
{
    QTest::addColumn<QList<int>>("signalNumbers");

    QTest::newRow("SIGHUP") << QList<int> { SIGHUP };
    QTest::newRow("SIGTERM") << QList<int> { SIGTERM };
    QTest::newRow("SIGINT") << QList<int> { SIGINT };
    QTest::newRow("SIGQUIT") << QList<int> { SIGQUIT };
    QTest::newRow("same signal twice before the loop runs") << QList<int> { SIGTERM, SIGTERM };
    QTest::newRow("burst of every kind")
        << QList<int> { SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGINT, SIGQUIT, SIGTERM, SIGHUP };
    QTest::newRow("fifty of one kind") << QList<int>(50, SIGQUIT);
}

void TestUnixSignaling::eachSignalEmitsOnce()
{
    QFETCH(QList<int>, signalNumbers);

    QSignalSpy spy(m_bridge, &UnixSignaling::unixSignalQuit);
    for (int signalNumber : signalNumbers)
        QCOMPARE(::raise(signalNumber), 0);
    // The handlers only write; nothing is emitted before the event loop runs.
    QCOMPARE(spy.count(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), signalNumbers.size(), 30000);
    drain();
    QCOMPARE(spy.count(), signalNumbers.size());
}

void TestUnixSignaling::floodNeverBlocks()
{
    // Far more signals than a socket pair can buffer, with nobody reading: a blocking write in
    // the handler would hang here for ever.
    const int floodSize = 100000;
    for (int i = 0; i < floodSize; ++i)
        ::raise(SIGTERM);

    // The handler runs while the pair is full and must leave errno as it found it.
    errno = EDOM;
    ::raise(SIGTERM);
    QCOMPARE(errno, EDOM);

    QSignalSpy spy(m_bridge, &UnixSignaling::unixSignalQuit);
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() > 0, 30000);
    drain();
    QVERIFY(spy.count() <= floodSize + 1);

    // Once drained, the bridge reports the next signal as usual.
    QSignalSpy after(m_bridge, &UnixSignaling::unixSignalQuit);
    ::raise(SIGINT);
    QTRY_COMPARE_WITH_TIMEOUT(after.count(), 1, 30000);
}

void TestUnixSignaling::receiverMayDeleteBridge()
{
    // A second bridge takes over the class-wide pairs; it is the last one in this process.
    auto *bridge = new UnixSignaling;
    QCOMPARE(bridge->setupUnixSignalHandlers(), 0);
    m_bridge->deleteLater();
    m_bridge = nullptr;

    int emissions = 0;
    connect(bridge, &UnixSignaling::unixSignalQuit, this, [&emissions, bridge] {
        ++emissions;
        delete bridge;
    });
    ::raise(SIGHUP);
    QTRY_COMPARE_WITH_TIMEOUT(emissions, 1, 30000);

    // Later signals are written into the pair and simply never read.
    ::raise(SIGHUP);
    QCoreApplication::processEvents();
    QCOMPARE(emissions, 1);
}

QTEST_GUILESS_MAIN(TestUnixSignaling)
#include "tst_unixsignaling.moc"
