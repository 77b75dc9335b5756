// One client floods the compositor with top-levels while a well-behaved client connects.

#include "compositorfixture.h"
#include "driverdump.h"
#include "halveslayout.h"

#include <QTest>

class tst_ToplevelFlood : public QObject
{
    Q_OBJECT

private slots:
    void floodLeavesOthersPlaced();
};

// 2,000 top-levels of one process: only a bounded number reach the model, the warning about
// the rest is not repeated per surface, and a client connecting meanwhile is placed.
void tst_ToplevelFlood::floodLeavesOthersPlaced()
{
    CompositorFixture f;
    QVERIFY(HalvesLayout::prepare(f));
    f.enableDriver();
    QVERIFY(f.startAndWait());

    QProcess *flood
        = f.startClient(QStringLiteral(VORLANE_TOPLEVELFLOOD_PATH), { QStringLiteral("2000") });
    QVERIFY(QTest::qWaitFor([&] { return DriverDump::entryCount(f) > 0; }, 60000));
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    QVERIFY(QTest::qWaitFor(
        [&] {
            return f.lastProbeConfigure(probe).startsWith(HalvesLayout::leftSize
                                                          + QStringLiteral(" maximized"));
        },
        60000));

    QVERIFY(QTest::qWaitFor([&] { return f.clientLines(flood).contains("created 2000"); }, 300000));
    QVERIFY(f.compositorRunning());
    const QStringList dump = f.driverCommand(QStringLiteral("dump"));
    const int entries = DriverDump::field(dump.value(0), QStringLiteral("count")).toInt();
    QVERIFY2(entries > 1 && entries < 100, qPrintable(dump.value(0)));
    const QString probePid = QString::number(probe->processId());
    const QStringList probeEntries
        = dump.filter(QStringLiteral(" pid ") + probePid + QLatin1Char(' '));
    QCOMPARE(probeEntries.size(), 1);
    QCOMPARE(DriverDump::field(probeEntries.first(), QStringLiteral("region")),
             QStringLiteral("left"));
    const int warnings = f.stderrCount(QStringLiteral("top-level surfaces; not listing"));
    QVERIFY2(warnings >= 1 && warnings < 50, qPrintable(QString::number(warnings)));
}

QTEST_GUILESS_MAIN(tst_ToplevelFlood)
#include "tst_toplevelflood.moc"
