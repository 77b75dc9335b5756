#include "fuzzinputs.h"

#include <QDir>
#include <QFile>
#include <QtTest>

// Replays every seed and every input that once broke a parser through the same checks that the
// fuzz targets run, so a regression shows up in an ordinary build without a fuzzing toolchain.
class FuzzReplayTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replay_data();
    void replay();
};

void FuzzReplayTest::initTestCase()
{
    VorlaneFuzz::silenceMessages();
}

void FuzzReplayTest::replay_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("path");

    const QDir base(QStringLiteral(VORLANE_FUZZ_DIR));
    int rows = 0;
    for (const QString &set : { QStringLiteral("corpus"), QStringLiteral("regressions") }) {
        for (const QString &kind :
             { QStringLiteral("details"), QStringLiteral("layout"), QStringLiteral("settings") }) {
            const QDir dir(base.filePath(set + QLatin1Char('/') + kind));
            const QStringList names = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
            for (const QString &name : names) {
                if (name == QLatin1String(".gitkeep"))
                    continue;
                const QString row = set + QLatin1Char('/') + kind + QLatin1Char('/') + name;
                QTest::newRow(qPrintable(row)) << kind << dir.filePath(name);
                ++rows;
            }
        }
    }
    if (rows == 0)
        QTest::newRow("no inputs found") << QString() << QString();
}

void FuzzReplayTest::replay()
{
    QFETCH(QString, kind);
    QFETCH(QString, path);
    QVERIFY2(!path.isEmpty(), "the fuzz input directories are empty or missing");

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray input = file.readAll();
    const auto *data = reinterpret_cast<const uint8_t *>(input.constData());
    const size_t size = size_t(input.size());

    QString failure;
    if (kind == QLatin1String("details"))
        failure = VorlaneFuzz::checkDesktopEntry(data, size);
    else if (kind == QLatin1String("layout"))
        failure = VorlaneFuzz::checkLayoutFile(data, size);
    else
        failure = VorlaneFuzz::checkSettingsFile(data, size);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

QTEST_GUILESS_MAIN(FuzzReplayTest)
#include "tst_fuzzreplay.moc"
