#include "compositorfixture.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

bool hasDrmDevice()
{
    return !QDir(QStringLiteral("/dev/dri"))
                .entryList({ QStringLiteral("card*") }, QDir::System)
                .isEmpty();
}

// Compares the exit status and shows what the program wrote when it differs.
#define expectExit(fixture, status, expected)                                                      \
    do {                                                                                           \
        const int actual = (status);                                                               \
        QVERIFY2(actual == (expected),                                                             \
                 qPrintable(QStringLiteral("exit status %1, output:\n%2")                          \
                                .arg(actual)                                                       \
                                .arg((fixture).stderrText())));                                    \
    } while (false)

} // namespace

class TestEntry : public QObject
{
    Q_OBJECT

private slots:
    void help_data();
    void help();
    void badOptions_data();
    void badOptions();
    void waylandGlobals();
    void startsWithOptions_data();
    void startsWithOptions();
    void quitSignals_data();
    void quitSignals();
    void signalBurst();
    void mainSceneFails();
    void platformChoice_data();
    void platformChoice();
    void servesItsSocket_data();
    void servesItsSocket();
};

void TestEntry::help_data()
{
    QTest::addColumn<QString>("option");

    QTest::newRow("short") << QStringLiteral("-h");
    QTest::newRow("long") << QStringLiteral("--help");
}

void TestEntry::help()
{
    QFETCH(QString, option);

    CompositorFixture f;
    QVERIFY(f.start({ option }, false));
    QCOMPARE(f.waitForCompositorExit(), 0);
    const QString output = QString::fromLocal8Bit(f.stdoutData());
    const QStringList expected = {
        QStringLiteral("Vorlane Compositor"),
        QStringLiteral("-h, --help"),
        QStringLiteral("-c, --configfile <Filepath>"),
        QStringLiteral("Config file"),
        QStringLiteral("-o, --orientation <[0,90,180,270]>"),
        QStringLiteral("Display orientation"),
        QStringLiteral("-d, --debug"),
        QStringLiteral("Enable debug output"),
    };
    for (const QString &text : expected)
        QVERIFY2(output.contains(text), qPrintable(text + QLatin1String(" in:\n") + output));
    // Help ends the program before anything is set up.
    QVERIFY(!QFile::exists(f.socketPath()));
}

void TestEntry::badOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown long") << QStringList { QStringLiteral("--bogus") }
                                  << QStringLiteral("Unknown option 'bogus'.");
    QTest::newRow("unknown short")
        << QStringList { QStringLiteral("-x") } << QStringLiteral("Unknown option 'x'.");
    QTest::newRow("config without value")
        << QStringList { QStringLiteral("-c") } << QStringLiteral("Missing value after '-c'.");
    QTest::newRow("orientation without value")
        << QStringList { QStringLiteral("--orientation") }
        << QStringLiteral("Missing value after '--orientation'.");
    QTest::newRow("value for a flag") << QStringList { QStringLiteral("--debug=yes") }
                                      << QStringLiteral("Unexpected value after '--debug'.");
}

void TestEntry::badOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);

    CompositorFixture f;
    QVERIFY(f.start(args, false));
    const int status = f.waitForCompositorExit();
    QVERIFY2(status != 0 && status != -1000, qPrintable(QString::number(status)));
    QVERIFY2(f.stderrContains(message), qPrintable(f.stderrText()));
    QVERIFY(!QFile::exists(f.socketPath()));
}

void TestEntry::waylandGlobals()
{
    const QString waylandInfo = QStandardPaths::findExecutable(QStringLiteral("wayland-info"));
    if (waylandInfo.isEmpty())
        QSKIP("wayland-info (package wayland-utils) is not installed");

    CompositorFixture f;
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));
    QProcess *info = f.startClient(waylandInfo);
    QVERIFY(info->waitForFinished(30000));
    QCOMPARE(info->exitCode(), 0);
    const QString output = QString::fromUtf8(info->readAllStandardOutput());
    for (const char *global : { "wl_compositor", "xdg_wm_base", "zxdg_decoration_manager_v1" })
        QVERIFY2(output.contains(QLatin1String("'") + QLatin1String(global) + QLatin1String("'")),
                 qPrintable(QLatin1String(global) + QLatin1String(" missing in:\n") + output));
    expectExit(f, f.stopCompositor(SIGTERM), 0);
}

void TestEntry::startsWithOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("useSettings");

    QTest::newRow("none") << QStringList() << true;
    QTest::newRow("orientation 45")
        << QStringList { QStringLiteral("-o"), QStringLiteral("45") } << true;
    QTest::newRow("orientation word")
        << QStringList { QStringLiteral("--orientation"), QStringLiteral("abc") } << true;
    QTest::newRow("debug") << QStringList { QStringLiteral("-d") } << true;
    QTest::newRow("all three") << QStringList { QStringLiteral("-d"), QStringLiteral("-o"),
                                                QStringLiteral("270") }
                               << true;
    // An empty settings path means the built-in one.
    QTest::newRow("empty config path")
        << QStringList { QStringLiteral("--configfile"), QString() } << false;
}

void TestEntry::startsWithOptions()
{
    QFETCH(QStringList, args);
    QFETCH(bool, useSettings);

    CompositorFixture f;
    QVERIFY(f.start(args, useSettings));
    QVERIFY2(f.waitForSocket(), qPrintable(f.stderrText()));
    expectExit(f, f.stopCompositor(SIGTERM), 0);
}

void TestEntry::quitSignals_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGQUIT") << int(SIGQUIT);
}

void TestEntry::quitSignals()
{
    QFETCH(int, signalNumber);

    CompositorFixture f;
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));
    // A connected client shows that the manager's destructor ran: it is asked to quit.
    QProcess *probe
        = f.startClient(CompositorFixture::probePath(), { QStringLiteral("--count-signals") });
    QTRY_VERIFY_WITH_TIMEOUT(!f.probeConfigures(probe).isEmpty(), 30000);

    expectExit(f, f.stopCompositor(signalNumber), 0);
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(probe).contains(QStringLiteral("signal 3")), 30000);
}

void TestEntry::signalBurst()
{
    CompositorFixture f;
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));
    QProcess *probe
        = f.startClient(CompositorFixture::probePath(), { QStringLiteral("--count-signals") });
    QTRY_VERIFY_WITH_TIMEOUT(!f.probeConfigures(probe).isEmpty(), 30000);

    // Signals keep arriving while the program is already shutting down.
    const int kinds[] = { SIGTERM, SIGINT, SIGHUP, SIGQUIT };
    for (int i = 0; i < 400; ++i) {
        if (!CompositorFixture::sendSignal(f.compositorPid(), kinds[i % 4]))
            break;
    }
    expectExit(f, f.waitForCompositorExit(), 0);

    // The client was asked to quit once, however many signals the compositor got.
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(probe).contains(QStringLiteral("signal 3")), 30000);
    probe->closeWriteChannel();
    probe->waitForFinished(30000);
    QCOMPARE(f.clientLines(probe).count(QStringLiteral("signal 3")), 1);
}

void TestEntry::mainSceneFails()
{
    // Modules that the main scene imports are shadowed by broken ones, so the scene cannot be
    // created while its URL stays the built-in one. Two of them, because a module whose library
    // the program links may carry its own description in resources, which wins over the path.
    QTemporaryDir imports;
    QVERIFY(imports.isValid());
    const QList<QPair<QString, QString>> modules = {
        { QStringLiteral("QtWayland.Compositor"), QStringLiteral("WaylandCompositor") },
        { QStringLiteral("QtWayland.Compositor.XdgShell"), QStringLiteral("XdgShell") },
    };
    for (const auto &module : modules) {
        const QString dir = QString(module.first).replace(QLatin1Char('.'), QLatin1Char('/'));
        QVERIFY(QDir(imports.path()).mkpath(dir));
        QFile qmldir(imports.filePath(dir + QStringLiteral("/qmldir")));
        QVERIFY(qmldir.open(QIODevice::WriteOnly));
        qmldir.write(
            QStringLiteral("module %1\n%2 1.0 %2.qml\n").arg(module.first, module.second).toUtf8());
        QFile broken(
            imports.filePath(dir + QLatin1Char('/') + module.second + QStringLiteral(".qml")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("This is not QML {\n");
    }

    CompositorFixture f;
    f.setCompositorEnvironment(QStringLiteral("QML_IMPORT_PATH"), imports.path());
    QVERIFY(f.start());
    expectExit(f, f.waitForCompositorExit(), 255);
    QVERIFY2(f.stderrContains(QStringLiteral("failed to load component")),
             qPrintable(f.stderrText()));
}

void TestEntry::platformChoice_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<bool>("announced");

    QTest::newRow("none named") << QString() << true;
    QTest::newRow("offscreen named") << QStringLiteral("offscreen") << false;
}

void TestEntry::platformChoice()
{
    QFETCH(QString, platform);
    QFETCH(bool, announced);

    if (platform.isEmpty() && hasDrmDevice())
        QSKIP("this machine has a DRM device, where the program would choose eglfs");

    CompositorFixture f;
    // The fixture already keeps DISPLAY and WAYLAND_DISPLAY away from the program.
    if (platform.isEmpty())
        f.unsetCompositorEnvironment(QStringLiteral("QT_QPA_PLATFORM"));
    else
        f.setCompositorEnvironment(QStringLiteral("QT_QPA_PLATFORM"), platform);
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));
    expectExit(f, f.stopCompositor(SIGTERM), 0);
    QCOMPARE(
        f.stderrContains(QStringLiteral("No display configured, using the platform offscreen")),
        announced);
}

// Whatever WAYLAND_DISPLAY says, and also when Qt's calls miss the program's socket hand-over,
// the program's own socket answers; every hook says at start-up whether it took effect.
void TestEntry::servesItsSocket_data()
{
    QTest::addColumn<QString>("waylandDisplay"); // "nested": the socket of another compositor
    QTest::addColumn<QString>("blocker"); // a library that keeps Qt's calls from a hook
    QTest::addColumn<QString>("warning"); // what the one warning about a missed hook names

    const QString none;
    const QString socket = QStringLiteral(VORLANE_HOOKBLOCKER_PATH);
    QTest::newRow("WAYLAND_DISPLAY unset") << none << none << none;
    QTest::newRow("WAYLAND_DISPLAY naming the program's socket") << "wayland-0" << none << none;
    QTest::newRow("WAYLAND_DISPLAY naming another socket") << "wayland-7" << none << none;
    QTest::newRow("nested in another compositor") << "nested" << none << none;
    QTest::newRow("hand-over missed") << none << socket << "socket";
    QTest::newRow("hand-over missed, WAYLAND_DISPLAY naming the program's socket")
        << "wayland-0" << socket << "socket";
    QTest::newRow("shared-memory guard missed")
        << none << QStringLiteral(VORLANE_SHMBLOCKER_PATH) << "shared-memory guard";
}

void TestEntry::servesItsSocket()
{
    QFETCH(QString, waylandDisplay);
    QFETCH(QString, blocker);
    QFETCH(QString, warning);

    CompositorFixture outer;
    CompositorFixture f;
    const bool nested = waylandDisplay == QLatin1String("nested");
    if (nested) {
        QVERIFY2(outer.startAndWait(), qPrintable(outer.stderrText()));
        f.setCompositorEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        waylandDisplay = outer.socketPath();
#ifdef __SANITIZE_ADDRESS__
        // The Wayland platform allocates so much that the slow unwinding which the leak
        // suppressions need keeps the nested compositor from answering in time.
        f.setCompositorEnvironment(QStringLiteral("ASAN_OPTIONS"),
                                   qEnvironmentVariable("ASAN_OPTIONS")
                                       + QStringLiteral(":detect_leaks=0:fast_unwind_on_malloc=1"));
#endif
    }
    if (!waylandDisplay.isEmpty())
        f.setCompositorEnvironment(QStringLiteral("WAYLAND_DISPLAY"), waylandDisplay);
    if (!blocker.isEmpty()) {
        f.setCompositorEnvironment(QStringLiteral("LD_PRELOAD"), blocker);
#ifdef __SANITIZE_ADDRESS__
        f.setCompositorEnvironment(QStringLiteral("ASAN_OPTIONS"),
                                   qEnvironmentVariable("ASAN_OPTIONS")
                                       + QStringLiteral(":verify_asan_link_order=0"));
#endif
    }
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    QVERIFY2(QTest::qWaitFor([&] { return !f.probeConfigures(probe).isEmpty(); }, 30000),
             qPrintable(f.stderrText()));
    const QStringList warnings = f.stderrLines().filter(QStringLiteral("Hook not in effect: "));
    if (warning.isEmpty())
        QVERIFY2(warnings.isEmpty(), qPrintable(f.stderrText()));
    else
        QVERIFY2(warnings.size() == 1 && warnings.first().contains(warning),
                 qPrintable(f.stderrText()));
    expectExit(f, f.stopCompositor(SIGTERM), 0);
}

QTEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"
