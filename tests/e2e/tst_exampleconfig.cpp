// The compositor started with the shipped example configuration: it reads every example layout
// and desktop entry without a warning, and recognises and places the example programs as their
// entries say.

#include "compositorfixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>
#include <QUrl>

#include <csignal>

namespace {

const QString examplesDir = QStringLiteral(VORLANE_SOURCE_DIR "/examples");

// Output of the platform rather than of this system: the offscreen platform has no EGL display.
const QStringList platformWarnings = { QStringLiteral("Failed to initialize EGL display") };

// Copies examples/ into the fixture's directory, which is the compositor's working directory,
// so that the relative directories of the example settings resolve as they do in examples/.
// The settings file goes through the fixture, which writes it itself.
bool startWithExamples(CompositorFixture &fixture, const QString &extraSettings = QString())
{
    QDirIterator it(examplesDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(examplesDir).relativeFilePath(path);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        if (relative == QStringLiteral("config.ini"))
            fixture.setRawSettings(QString::fromUtf8(file.readAll()) + extraSettings);
        else if (!fixture.writeFile(relative, file.readAll()))
            return false;
    }
    // In a sanitizer build, Qt's own leaks at exit are suppressed by frames of Qt, which only a
    // full unwind finds: Qt is built without frame pointers.
    const QString sanitizer = qEnvironmentVariable("ASAN_OPTIONS");
    if (!sanitizer.isEmpty())
        fixture.setCompositorEnvironment(QStringLiteral("ASAN_OPTIONS"),
                                         sanitizer + QStringLiteral(":fast_unwind_on_malloc=0"));
    // The level of every message, so that warnings can be told from debug output.
    fixture.setCompositorEnvironment(QStringLiteral("QT_MESSAGE_PATTERN"),
                                     QStringLiteral("%{type}|%{message}"));
    return fixture.start({ QStringLiteral("--debug") }) && fixture.waitForSocket();
}

QString exitReport(CompositorFixture &fixture, int status)
{
    return QStringLiteral("exit status %1, output:\n%2").arg(status).arg(fixture.stderrText());
}

QStringList unexpectedMessages(const QStringList &lines)
{
    QStringList found;
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String("warning|"))
            && !line.startsWith(QLatin1String("critical|"))
            && !line.startsWith(QLatin1String("fatal|"))
            && !line.startsWith(QLatin1String("info|")))
            continue;
        const bool platform = std::any_of(platformWarnings.cbegin(), platformWarnings.cend(),
                                          [&](const QString &text) { return line.contains(text); });
        if (!platform)
            found << line;
    }
    return found;
}

} // namespace

class TestExampleConfig : public QObject
{
    Q_OBJECT

private slots:
    void startsWithoutWarnings();
    void examplePrograms_data();
    void examplePrograms();
    void replacementSurfaceContainer();
};

void TestExampleConfig::startsWithoutWarnings()
{
    CompositorFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY2(startWithExamples(fixture), qPrintable(fixture.stderrText()));

    // A client that gets placed proves that the scene has finished loading its components.
    fixture.startClient(QStringLiteral("/usr/bin/weston-simple-shm"));
    QTRY_VERIFY2_WITH_TIMEOUT(fixture.stderrContains(QStringLiteral(
                                  "SurfaceModel: placing client Pattern in region right")),
                              qPrintable(fixture.stderrText()), 30000);

    // Stopped as the service manager would; the output tells why when it fails.
    const int status = fixture.stopCompositor(SIGTERM);
    QVERIFY2(status == 0, qPrintable(exitReport(fixture, status)));
    QVERIFY2(unexpectedMessages(fixture.stderrLines()).isEmpty(),
             qPrintable(unexpectedMessages(fixture.stderrLines()).join(QLatin1Char('\n'))));
}

void TestExampleConfig::examplePrograms_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("region"); // empty: starts on the quick bar

    // The default layout of the example settings is "workspace".
    QTest::newRow("shm client") << QStringLiteral("/usr/bin/weston-simple-shm") << QStringList()
                                << QStringLiteral("Pattern") << QStringLiteral("right");
    QTest::newRow("Qt client") << QStringLiteral("/usr/lib/qt6/bin/qml")
                               << QStringList { QStringLiteral("-platform"),
                                                QStringLiteral("wayland"),
                                                QStringLiteral("qml/Clock.qml") }
                               << QStringLiteral("Clock") << QStringLiteral("main-bottom");
    QTest::newRow("terminal") << QStringLiteral("/usr/bin/weston-terminal") << QStringList()
                              << QStringLiteral("Terminal") << QStringLiteral("main-top");
    QTest::newRow("starts minimised") << QStringLiteral("/usr/bin/weston-flower") << QStringList()
                                      << QStringLiteral("Flower") << QString();
}

void TestExampleConfig::examplePrograms()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, name);
    QFETCH(QString, region);

    CompositorFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY2(startWithExamples(fixture), qPrintable(fixture.stderrText()));
    fixture.startClient(program, arguments);

    // Recognised by its desktop entry: a client without one would be named after its executable.
    QTRY_VERIFY2_WITH_TIMEOUT(fixture.stderrContains(QStringLiteral("name: ") + name),
                              qPrintable(fixture.stderrText()), 30000);
    if (region.isEmpty()) {
        QTRY_VERIFY2_WITH_TIMEOUT(
            fixture.stderrContains(QStringLiteral("SurfaceModel: minimizing to QuickBar")),
            qPrintable(fixture.stderrText()), 30000);
        QVERIFY(!fixture.stderrContains(QStringLiteral("SurfaceModel: placing client ") + name));
    } else {
        QTRY_VERIFY2_WITH_TIMEOUT(
            fixture.stderrContains(QStringLiteral("SurfaceModel: placing client ") + name
                                   + QStringLiteral(" in region ") + region),
            qPrintable(fixture.stderrText()), 30000);
    }
    // Stopped as the service manager would; the output tells why when it fails.
    const int status = fixture.stopCompositor(SIGTERM);
    QVERIFY2(status == 0, qPrintable(exitReport(fixture, status)));
    QVERIFY2(unexpectedMessages(fixture.stderrLines()).isEmpty(),
             qPrintable(unexpectedMessages(fixture.stderrLines()).join(QLatin1Char('\n'))));
}

void TestExampleConfig::replacementSurfaceContainer()
{
    CompositorFixture fixture;
    QVERIFY(fixture.isValid());
    // A repeated section adds to the first one in the settings file.
    const QString container
        = QDir(fixture.baseDir()).filePath(QStringLiteral("qml/FramedSurfaceContainer.qml"));
    QVERIFY2(startWithExamples(fixture,
                               QStringLiteral("\n[Components]\nSurfaceContainer=")
                                   + QUrl::fromLocalFile(container).toString() + QLatin1Char('\n')),
             qPrintable(fixture.stderrText()));

    fixture.startClient(QStringLiteral("/usr/bin/weston-simple-shm"));
    QTRY_VERIFY2_WITH_TIMEOUT(fixture.stderrContains(QStringLiteral(
                                  "SurfaceModel: placing client Pattern in region right")),
                              qPrintable(fixture.stderrText()), 30000);
    // The built-in container would have announced itself; a component that fails to load warns.
    QVERIFY(!fixture.stderrContains(QStringLiteral("SurfaceContainer for Pattern set Visible")));
    // Stopped as the service manager would; the output tells why when it fails.
    const int status = fixture.stopCompositor(SIGTERM);
    QVERIFY2(status == 0, qPrintable(exitReport(fixture, status)));
    QVERIFY2(unexpectedMessages(fixture.stderrLines()).isEmpty(),
             qPrintable(unexpectedMessages(fixture.stderrLines()).join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestExampleConfig)
#include "tst_exampleconfig.moc"
