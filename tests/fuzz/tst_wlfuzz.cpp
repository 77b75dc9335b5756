// The hostile client vorlane_wlfuzz against the real compositor (built with the sanitizers):
// the compositor must neither crash, nor stop answering, nor report a sanitizer error, nor grow
// without bound. VORLANE_WLFUZZ_SECONDS sets the length (default 60); VORLANE_WLFUZZ_ARGS
// replaces the client's arguments, e.g. "--replay 1234" for one sequence or "--seed 99".

#include "compositorfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace {

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression rss(QStringLiteral("^VmRSS:\\s+(\\d+)"),
                                 QRegularExpression::MultilineOption);
    return rss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

} // namespace

class tst_WlFuzz : public QObject
{
    Q_OBJECT

private slots:
    void knownSequences_data();
    void knownSequences();
    void randomRequests();
};

namespace {

// Only the compositor's memory is in question, not the leaks of a client that is cut off.
const QMap<QString, QString> clientEnvironment
    = { { QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0") } };

// The compositor with one layout, in which the fuzz client's top-levels are placed and drawn, so
// that they reach the containers and the renderer.
bool startCompositor(CompositorFixture &f)
{
    return f.isValid() && f.writeLayoutFile(QStringLiteral("layouts.json"), R"({"layouts": [
      {"id": "main", "name": "Main", "defaultRegion": "left", "regions": [
        {"id": "left", "name": "Left", "x": 0, "y": 0, "width": 0.5, "height": 1, "regions": [
          {"id": "inner", "name": "Inner", "x": 0, "y": 0, "width": 1, "height": 0.5, "regions": []}]},
        {"id": "right", "name": "Right", "x": 0.5, "y": 0, "width": 0.5, "height": 1, "regions": []}]}]})")
        && f.writeClientEntry(QStringLiteral("wlfuzz.desktop"), QStringLiteral("Fuzz"),
                              QStringLiteral(VORLANE_WLFUZZ_PATH),
                              QStringLiteral("X-DefaultRegion=main:left"))
        && (f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("main")),
            f.startAndWait());
}

} // namespace

// Request sequences that brought the compositor down once: each is refused with a protocol error
// or accepted as the protocol allows, and the compositor keeps answering.
void tst_WlFuzz::knownSequences_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("outcome");
    for (const char *name :
         { "self-subsurface", "subsurface-cycle", "surface-gone", "parent-gone",
           "xdg-surface-first", "xdg-surface-first-new", "xdg-surface-first-mapped",
           "toplevel-gone-ack", "second-xdg-surface", "zero-scale" })
        QTest::newRow(name) << QString::fromLatin1(name) << QStringLiteral("refused");
    for (const char *name : { "surface-first-new", "surface-first-mapped" })
        QTest::newRow(name) << QString::fromLatin1(name) << QStringLiteral("accepted");
}

void tst_WlFuzz::knownSequences()
{
    QFETCH(QString, name);
    QFETCH(QString, outcome);
    CompositorFixture f;
    QVERIFY(startCompositor(f));
    QProcess *client = f.startClient(QStringLiteral(VORLANE_WLFUZZ_PATH),
                                     { QStringLiteral("--case"), name }, clientEnvironment);
    QVERIFY(client->waitForFinished(120000));
    QCOMPARE(client->exitCode(), 0);
    const QStringList lines = f.clientLines(client);
    QVERIFY2(lines.contains(QStringLiteral("case %1: %2").arg(name, outcome)),
             qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(f.compositorRunning());
}

void tst_WlFuzz::randomRequests()
{
    bool ok = false;
    int seconds = qEnvironmentVariableIntValue("VORLANE_WLFUZZ_SECONDS", &ok);
    if (!ok || seconds <= 0)
        seconds = 60;
    QStringList args
        = qEnvironmentVariable("VORLANE_WLFUZZ_ARGS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (args.isEmpty())
        args = { QStringLiteral("--seconds"), QString::number(seconds) };

    CompositorFixture f;
    QVERIFY(startCompositor(f));

    QProcess *fuzz
        = f.startClient(QStringLiteral(VORLANE_WLFUZZ_PATH), args,
                        { { QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0") } });
    QList<qint64> rss;
    QElapsedTimer clock;
    clock.start();
    while (fuzz->state() != QProcess::NotRunning && clock.elapsed() < seconds * 1000 + 120000) {
        // Waiting with the event loop running reads the compositor's standard error, whose
        // pipe would otherwise fill and block the compositor.
        (void)QTest::qWaitFor([&] { return fuzz->state() == QProcess::NotRunning; }, 5000);
        rss << residentKiB(f.compositorPid());
    }
    const QStringList lines = f.clientLines(fuzz);
    const QString summary = lines.filter(QStringLiteral("sequences ")).value(0);
    qInfo().noquote() << lines.value(0) << "|" << summary
                      << "| compositor RSS (MiB) every 5 s:" << [&] {
                             QStringList mib;
                             for (qint64 kib : rss)
                                 mib << QString::number(kib / 1024);
                             return mib.join(QLatin1Char(' '));
                         }();
    const QString findings
        = QStringLiteral("client exit %1, last sequences:\n").arg(fuzz->exitCode())
        + lines.mid(lines.size() - 4).join('\n') + QStringLiteral("\nclient: ")
        + QString::fromLocal8Bit(fuzz->readAllStandardError()) + QStringLiteral("\ncompositor:\n")
        + f.stderrLines().mid(f.stderrLines().size() - 60).join('\n');
    const bool clean = fuzz->state() == QProcess::NotRunning
        && fuzz->exitStatus() == QProcess::NormalExit && fuzz->exitCode() == 0 && !summary.isEmpty()
        && f.compositorRunning();
    if (!clean)
        qWarning().noquote() << findings;
    QVERIFY(clean);
    // Growth that continues after the first third of the run, beyond what the sanitizer's
    // quarantine of freed memory holds, is a leak of the compositor's.
    if (rss.size() >= 6) {
        const qint64 grown = rss.last() - rss.at(rss.size() / 3);
        QVERIFY2(grown < 384 * 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(grown)));
    }
    const int exitCode = f.stopCompositor(SIGTERM, 60000);
    if (exitCode != 0)
        qWarning().noquote() << f.stderrText().right(60000);
    QCOMPARE(exitCode, 0);
    for (const QString &marker :
         { QStringLiteral("AddressSanitizer"), QStringLiteral("LeakSanitizer"),
           QStringLiteral("runtime error:") })
        QVERIFY2(!f.stderrContains(marker), qPrintable(f.stderrText()));
}

QTEST_GUILESS_MAIN(tst_WlFuzz)
#include "tst_wlfuzz.moc"
