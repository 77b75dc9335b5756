// End-to-end tests of the compositor scene: real program, real Wayland clients, headless.

#include "compositorfixture.h"
#include "driverdump.h"

#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <csignal>

namespace {

// main: left | right, right split into rightTop / rightBottom. second: top / bottom.
// third: one region "left" covering everything (same id as in main).
const QByteArray mainLayout
    = R"({"layouts": [{"id": "main", "name": "Main", "defaultRegion": "left",
  "regions": [
    {"id": "left", "name": "Left", "x": 0, "y": 0, "width": 0.5, "height": 1, "regions": []},
    {"id": "right", "name": "Right", "x": 0.5, "y": 0, "width": 0.5, "height": 1, "regions": [
      {"id": "rightTop", "name": "Right top", "x": 0, "y": 0, "width": 1, "height": 0.5, "regions": []},
      {"id": "rightBottom", "name": "Right bottom", "x": 0, "y": 0.5, "width": 1, "height": 0.5, "regions": []}
    ]}
  ]}]})";
const QByteArray otherLayouts = R"({"layouts": [
  {"id": "second", "name": "Second", "defaultRegion": "bottom", "regions": [
    {"id": "top", "name": "Top", "x": 0, "y": 0, "width": 1, "height": 0.5, "regions": []},
    {"id": "bottom", "name": "Bottom", "x": 0, "y": 0.5, "width": 1, "height": 0.5, "regions": []}
  ]},
  {"id": "third", "name": "Third", "defaultRegion": "left", "regions": [
    {"id": "left", "name": "All", "x": 0, "y": 0, "width": 1, "height": 1, "regions": []}
  ]}]})";

// A region smaller than the screen is the maximised state, also while the surface is hidden.
const QString maximized = QStringLiteral(" maximized");
// The configure of a surface in main's "left" beside the default quick bar.
const QString leftHalf = QStringLiteral("352 480") + maximized;

// A probe's last configure without the activated state, which follows the keyboard and is
// checked on its own.
QString lastConfigure(CompositorFixture &f, QProcess *probe, int toplevel = 0)
{
    return f.lastProbeConfigure(probe, toplevel).remove(QStringLiteral(",activated"));
}

// Writes both layout files, the test driver when asked, the default layout and then the settings
// given as "Group/Key=value" (after the driver's, so they may replace a component), and starts
// the compositor with args. False when any step fails.
bool startScene(CompositorFixture &f, const QString &layout, bool driver,
                const QStringList &settings = {}, const QStringList &args = {})
{
    if (!f.writeLayoutFile(QStringLiteral("a.json"), mainLayout)
        || !f.writeLayoutFile(QStringLiteral("b.json"), otherLayouts))
        return false;
    if (driver)
        f.enableDriver();
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), layout);
    for (const QString &setting : settings) {
        const int eq = setting.indexOf(QLatin1Char('='));
        f.setSetting(setting.left(eq), setting.mid(eq + 1));
    }
    return f.startAndWait(args);
}

// The desktop entry of the probe itself, with extra lines for its settings group.
bool writeProbeEntry(CompositorFixture &f, const QString &lines = QString())
{
    return f.writeClientEntry(QStringLiteral("probe.desktop"), QStringLiteral("Probe"),
                              CompositorFixture::probePath(), lines);
}

// A copy of the probe for a second program, "A" as probe-a with the entry a.desktop. Returns
// the copy's path, empty on failure.
QString writeProbeCopy(CompositorFixture &f, const QString &name, const QString &lines)
{
    const QString lower = name.toLower();
    const QString path = f.copyProbe(QStringLiteral("probe-") + lower);
    if (path.isEmpty()
        || !f.writeClientEntry(lower + QStringLiteral(".desktop"), name, path, lines))
        return {};
    return path;
}

} // namespace

using namespace DriverDump;

class tst_Scene : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
    void minimizedModes_data();
    void minimizedModes();
    void regionSelection();
    void clickWithoutRegion_data();
    void clickWithoutRegion();
    void headerClicked_data();
    void headerClicked();
    void conflicts_data();
    void conflicts();
    void layoutChange();
    void layoutChangeOrder();
    void sameRegionIdInNewLayout();
    void defaultLayoutMissing();
    void closeClient_data();
    void closeClient();
    void severalToplevels_data();
    void severalToplevels();
    void containerStaysBelowSelector();
    void failingComponents_data();
    void failingComponents();
    void debugMessages_data();
    void debugMessages();
    void badClients();
    void westonClient();
    void pixels_data();
    void pixels();
    void configureSequences_data();
    void configureSequences();
    void qtClients_data();
    void qtClients();
    void bufferOfOtherSize_data();
    void bufferOfOtherSize();
    void keyboardFocus();
    void dialogs();
    void qtMessageBox();
    void displacedComesBack_data();
    void displacedComesBack();
    void insetContainer_data();
    void insetContainer();
    void regionIdsArePlainText();
    void framePacing_data();
    void framePacing();
};

void tst_Scene::placement_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("regions");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("message");

    const QStringList none;
    // 800x480 with the bar on the left at 12 %: the region area is 704x480.
    QTest::newRow("half beside left bar") << none << none << "main:left"
                                          << "352 480 maximized"
                                          << "";
    QTest::newRow("nested region") << none << none << "main:rightTop"
                                   << "352 240 maximized"
                                   << "";
    QTest::newRow("DEFAULT line") << none << none << "DEFAULT:rightBottom"
                                  << "352 240 maximized"
                                  << "";
    QTest::newRow("layout's default region") << none << none << "main:DEFAULT"
                                             << "352 480 maximized"
                                             << "";
    QTest::newRow("named layout wins over DEFAULT")
        << none << none << "DEFAULT:rightBottom;main:right"
        << "352 480 maximized"
        << "";
    QTest::newRow("bar on top") << none << QStringList { "Settings/QuickBarPosition=TOP" }
                                << "main:left"
                                << "400 422 maximized"
                                << "";
    QTest::newRow("bar at bottom, 20 %")
        << none << QStringList { "Settings/QuickBarPosition=BOTTOM", "QuickBar/Size=20" }
        << "main:rightTop"
        << "400 192 maximized"
        << "";
    QTest::newRow("bar on the right")
        << none << QStringList { "Settings/QuickBarPosition=RIGHT" } << "main:right"
        << "352 480 maximized"
        << "";
    // Rotated by 90 the screen is 480x800; the bar takes 57.6 of the width.
    QTest::newRow("rotation 90 from the command line")
        << QStringList { "-o", "90" } << none << "main:left"
        << "211 800 maximized"
        << "";
    QTest::newRow("rotation 270 from the settings")
        << none << QStringList { "Settings/Orientation=270" } << "main:left"
        << "211 800 maximized"
        << "";
    QTest::newRow("override not a multiple of 90")
        << QStringList { "-o", "45" } << QStringList { "Settings/Orientation=90" } << "main:left"
        << "211 800 maximized"
        << "";
    QTest::newRow("override and setting not numbers")
        << QStringList { "--orientation", "abc" } << QStringList { "Settings/Orientation=abc" }
        << "main:left"
        << "352 480 maximized"
        << "";
    QTest::newRow("rotation 180 keeps the size")
        << QStringList { "-o", "180" } << none << "main:left"
        << "352 480 maximized"
        << "";
    QTest::newRow("quick bar disabled")
        << none << QStringList { "Settings/DisableQuickBar=1" } << "main:left"
        << "400 480 maximized"
        << "";
    QTest::newRow("unknown bar position")
        << none << QStringList { "Settings/QuickBarPosition=left" } << "main:left"
        << "400 480 maximized"
        << "";
    QTest::newRow("bar size not a number")
        << none << QStringList { "QuickBar/Size=abc" } << "main:left"
        << "352 480 maximized"
        << "Setting QuickBar/Size is not a number: abc; using 12";
    // Only a region covering the whole screen is full screen.
    QTest::newRow("whole screen, quick bar disabled")
        << none << QStringList { "Settings/DisableQuickBar=1", "Settings/DefaultLayout=third" }
        << "third:left"
        << "800 480 fullscreen"
        << "";
    QTest::newRow("whole region area beside the quick bar")
        << none << QStringList { "Settings/DefaultLayout=third" } << "third:left"
        << "704 480 maximized"
        << "";
    QTest::newRow("region the layout lacks")
        << none << none << "main:nowhere"
        << "0 0"
        << "Layout Main does not contain a region with id nowhere! Reverting to QuickBar";
    QTest::newRow("no default region") << none << none << ""
                                       << "0 0"
                                       << "";
}

void tst_Scene::placement()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, settings);
    QFETCH(QString, regions);
    QFETCH(QString, expected);
    QFETCH(QString, message);

    CompositorFixture f;
    QVERIFY(f.isValid());
    QVERIFY(writeProbeEntry(f, regions.isEmpty() ? QString() : "X-DefaultRegion=" + regions));
    QVERIFY2(startScene(f, QStringLiteral("main"), false, settings, args),
             qPrintable(f.stderrText()));

    QProcess *probe = f.startClient(CompositorFixture::probePath());
    // After Qt's initial configure one more at the final size, activated, for a shown surface;
    // one never shown is told nothing more.
    const QString initial = QStringLiteral("0 0 -");
    const QString last = expected == "0 0" ? initial : expected + QStringLiteral(",activated");
    QTRY_COMPARE_WITH_TIMEOUT(f.lastProbeConfigure(probe), last, 30000);
    const QStringList configures
        = expected == "0 0" ? QStringList { initial } : QStringList { initial, last };
    QCOMPARE(f.probeConfigures(probe), configures);
    if (!message.isEmpty())
        QTRY_VERIFY2(f.stderrContains(message), qPrintable(f.stderrText()));
    QVERIFY(f.compositorRunning());
}

void tst_Scene::minimizedModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("stops");

    QTest::newRow("paused") << "PAUSED" << true;
    QTest::newRow("running") << "RUNNING" << false;
    QTest::newRow("terminated") << "TERMINATED" << false;
}

void tst_Scene::minimizedModes()
{
    QFETCH(QString, mode);
    QFETCH(bool, stops);

    CompositorFixture f;
    QVERIFY(writeProbeEntry(
        f, "X-DefaultRegion=main:left\nX-WindowState=MINIMIZED\nX-MinimizedMode=" + mode));
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));

    QProcess *probe = f.startClient(CompositorFixture::probePath());
    const qint64 pid = probe->processId();
    QTRY_COMPARE_WITH_TIMEOUT(entryCount(f), 1, 30000);
    QCOMPARE(regionOf(f, 0), QStringLiteral("QuickBar"));
    if (stops)
        QTRY_COMPARE(CompositorFixture::processState(pid), 'T');
    else
        QVERIFY(CompositorFixture::processState(pid) != 'T');

    // Shown again: placed in its stored region and continued.
    f.driverCommand(QStringLiteral("click 0"));
    QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
    QTRY_VERIFY(CompositorFixture::processState(pid) != 'T');
    QTRY_COMPARE(lastConfigure(f, probe), leftHalf);

    // Minimised once more by a click: 0x0, and stopped again for the paused mode.
    f.driverCommand(QStringLiteral("click 0"));
    QCOMPARE(regionOf(f, 0), QStringLiteral("QuickBar"));
    if (stops) {
        QTRY_COMPARE(CompositorFixture::processState(pid), 'T');
        f.driverCommand(QStringLiteral("click 0"));
        QTRY_VERIFY(CompositorFixture::processState(pid) != 'T');
    }
    QTRY_COMPARE(lastConfigure(f, probe).left(4),
                 stops ? QStringLiteral("352 ") : QStringLiteral("0 0 "));
}

void tst_Scene::regionSelection()
{
    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, "X-MinimizedMode=PAUSED"));
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));

    QProcess *probe = f.startClient(CompositorFixture::probePath());
    const qint64 pid = probe->processId();
    QTRY_COMPARE_WITH_TIMEOUT(entryCount(f), 1, 30000);
    QTRY_COMPARE(CompositorFixture::processState(pid), 'T');

    // No stored region and two top-level regions: the click opens the region selector.
    f.driverCommand(QStringLiteral("click 0"));
    QStringList dump = f.driverCommand(QStringLiteral("dump"));
    QCOMPARE(field(dump.first(), QStringLiteral("selecting")), QString::number(pid));
    // The selector then covers the region area.
    QVERIFY(dump.contains(QStringLiteral("selector 96,0,704,480,100")));

    // A second click on the same element only closes it.
    f.driverCommand(QStringLiteral("click 0"));
    dump = f.driverCommand(QStringLiteral("dump"));
    QCOMPARE(field(dump.first(), QStringLiteral("selecting")), QStringLiteral("-1"));
    QCOMPARE(field(entryLine(dump, 0), QStringLiteral("region")), QStringLiteral("QuickBar"));
    QVERIFY(dump.contains(QStringLiteral("selector 96,480,704,480,100")));

    // Long press opens it, a chosen region places the surface and closes it.
    f.driverCommand(QStringLiteral("longpress 0"));
    f.driverCommand(QStringLiteral("region rightBottom"));
    dump = f.driverCommand(QStringLiteral("dump"));
    QCOMPARE(field(dump.first(), QStringLiteral("selecting")), QStringLiteral("-1"));
    QCOMPARE(field(entryLine(dump, 0), QStringLiteral("region")), QStringLiteral("rightBottom"));
    QTRY_VERIFY(CompositorFixture::processState(pid) != 'T');
    QTRY_COMPARE(lastConfigure(f, probe), QStringLiteral("352 240") + maximized);

    // A region that the layout lacks sends the surface to the quick bar.
    f.driverCommand(QStringLiteral("longpress 0"));
    f.driverCommand(QStringLiteral("region nowhere"));
    QCOMPARE(regionOf(f, 0), QStringLiteral("QuickBar"));
    QVERIFY(f.stderrContains(QStringLiteral(
        "Layout Main does not contain a region with id nowhere! Reverting to QuickBar")));
    QVERIFY(f.compositorRunning());
}

void tst_Scene::clickWithoutRegion_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("disableRegionSelect");
    QTest::addColumn<QString>("region");
    QTest::addColumn<bool>("selecting");
    QTest::addColumn<QString>("message");

    QTest::newRow("selection opens") << "main"
                                     << "0"
                                     << "QuickBar" << true << "";
    QTest::newRow("selection disabled")
        << "main"
        << "1"
        << "QuickBar" << false
        << "Client Probe has no target region, but region selection is disabled!";
    QTest::newRow("single top-level region") << "third"
                                             << "1"
                                             << "left" << false << "";
}

void tst_Scene::clickWithoutRegion()
{
    QFETCH(QString, layout);
    QFETCH(QString, disableRegionSelect);
    QFETCH(QString, region);
    QFETCH(bool, selecting);
    QFETCH(QString, message);

    CompositorFixture f;
    QVERIFY(writeProbeEntry(f));
    QVERIFY2(startScene(f, layout, true,
                        { QStringLiteral("Settings/DisableRegionSelect=") + disableRegionSelect }),
             qPrintable(f.stderrText()));
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    QTRY_COMPARE_WITH_TIMEOUT(entryCount(f), 1, 30000);

    f.driverCommand(QStringLiteral("click 0"));
    const QStringList dump = f.driverCommand(QStringLiteral("dump"));
    QCOMPARE(field(entryLine(dump, 0), QStringLiteral("region")), region);
    QCOMPARE(field(dump.first(), QStringLiteral("selecting")),
             selecting ? QString::number(probe->processId()) : QStringLiteral("-1"));
    if (!message.isEmpty())
        QVERIFY2(f.stderrContains(message), qPrintable(f.stderrText()));

    // Clicks on elements that do not exist change nothing.
    f.driverCommand(QStringLiteral("click 7"));
    f.driverCommand(QStringLiteral("longpress -1"));
    QCOMPARE(regionOf(f, 0), region);
    QVERIFY(f.compositorRunning());
}

void tst_Scene::headerClicked_data()
{
    QTest::addColumn<bool>("debug");
    QTest::addColumn<QStringList>("positions");

    QTest::newRow("normal") << false << QStringList { "LEFT", "LEFT" };
    QTest::newRow("debug") << true << QStringList { "TOP", "RIGHT", "BOTTOM", "LEFT", "TOP" };
}

void tst_Scene::headerClicked()
{
    QFETCH(bool, debug);
    QFETCH(QStringList, positions);

    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, "X-DefaultRegion=main:left"));
    QVERIFY2(startScene(f, QStringLiteral("main"), true, {},
                        debug ? QStringList { QStringLiteral("-d") } : QStringList()),
             qPrintable(f.stderrText()));
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, probe), leftHalf, 30000);

    // Region area and quick bar area for each side (12 % of 800x480).
    const QMap<QString, QPair<QString, QString>> areas = {
        { "LEFT", { "96,0,704,480", "0,0,96,480" } },
        { "TOP", { "0,57.6,800,422.4", "0,0,800,57.6" } },
        { "RIGHT", { "0,0,704,480", "704,0,96,480" } },
        { "BOTTOM", { "0,0,800,422.4", "0,422.4,800,57.6" } },
    };
    for (const QString &position : std::as_const(positions)) {
        f.driverCommand(QStringLiteral("longpress 0"));
        f.driverCommand(QStringLiteral("header"));
        const QStringList dump = f.driverCommand(QStringLiteral("dump"));
        QCOMPARE(field(dump.first(), QStringLiteral("position")), position);
        QCOMPARE(field(dump.first(), QStringLiteral("horizontal")),
                 QLatin1String(position == "TOP" || position == "BOTTOM" ? "true" : "false"));
        // Outside debug mode the header closes the region selector like the body does.
        QCOMPARE(field(dump.first(), QStringLiteral("selecting")),
                 debug ? QString::number(probe->processId()) : QStringLiteral("-1"));
        QVERIFY2(dump.contains("regionArea " + areas[position].first), qPrintable(dump.join('\n')));
        QVERIFY2(dump.contains("quickbarArea " + areas[position].second + " visible true"),
                 qPrintable(dump.join('\n')));
        f.driverCommand(QStringLiteral("body"));
    }
    // The surface follows the region area.
    QTRY_COMPARE(lastConfigure(f, probe), QLatin1String(debug ? "400 422" : "352 480") + maximized);
}

void tst_Scene::conflicts_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("minimised");

    QTest::newRow("same region") << "left"
                                 << "left" << true;
    QTest::newRow("enclosing region") << "rightTop"
                                      << "right" << true;
    QTest::newRow("enclosed region") << "right"
                                     << "rightBottom" << true;
    QTest::newRow("sibling region") << "rightTop"
                                    << "rightBottom" << false;
    QTest::newRow("other branch") << "left"
                                  << "rightTop" << false;
}

void tst_Scene::conflicts()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, minimised);

    CompositorFixture f;
    const QString probeA = writeProbeCopy(
        f, QStringLiteral("A"), "X-DefaultRegion=main:" + first + "\nX-MinimizedMode=PAUSED");
    const QString probeB = writeProbeCopy(f, QStringLiteral("B"), "X-DefaultRegion=main:" + second);
    QVERIFY(!probeA.isEmpty() && !probeB.isEmpty());
    QVERIFY2(startScene(f, QStringLiteral("main"), false), qPrintable(f.stderrText()));

    QProcess *a = f.startClient(probeA);
    QTRY_VERIFY_WITH_TIMEOUT(lastConfigure(f, a).startsWith(QStringLiteral("352 ")), 30000);
    const QString placedA = lastConfigure(f, a);
    QProcess *b = f.startClient(probeB);
    QTRY_VERIFY_WITH_TIMEOUT(lastConfigure(f, b).startsWith(QStringLiteral("352 ")), 30000);

    if (minimised) {
        QTRY_COMPARE(CompositorFixture::processState(a->processId()), 'T');
        // The stopped probe reads its configures once continued.
        CompositorFixture::sendSignal(a->processId(), SIGCONT);
        QTRY_COMPARE(lastConfigure(f, a), QStringLiteral("0 0") + maximized);
    } else {
        QCOMPARE(lastConfigure(f, a), placedA);
        QVERIFY(CompositorFixture::processState(a->processId()) != 'T');
    }
}

void tst_Scene::layoutChange()
{
    CompositorFixture f;
    const QString probeA
        = writeProbeCopy(f, QStringLiteral("A"), "X-DefaultRegion=main:left;second:top");
    const QString probeB
        = writeProbeCopy(f, QStringLiteral("B"), "X-DefaultRegion=DEFAULT:right;second:bottom");
    QVERIFY(!probeA.isEmpty() && !probeB.isEmpty());
    QVERIFY2(startScene(f, QStringLiteral("second"), true), qPrintable(f.stderrText()));

    QProcess *a = f.startClient(probeA);
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, a), QStringLiteral("704 240") + maximized, 30000);
    QProcess *b = f.startClient(probeB);
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, b), QStringLiteral("704 240") + maximized, 30000);
    QCOMPARE(regionOf(f, 1), QStringLiteral("bottom"));

    QCOMPARE(f.driverCommand(QStringLiteral("layout main")),
             QStringList { QStringLiteral("setCurrentLayout true") });
    QTRY_COMPARE(lastConfigure(f, a), leftHalf);
    QTRY_COMPARE(lastConfigure(f, b), leftHalf);
    QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
    QCOMPARE(regionOf(f, 1), QStringLiteral("right"));

    // Minimised in main, it returns to its region in second and stays minimised in main.
    f.driverCommand(QStringLiteral("click 0"));
    QTRY_COMPARE(lastConfigure(f, a), QStringLiteral("0 0") + maximized);
    f.driverCommand(QStringLiteral("layout second"));
    QTRY_COMPARE(lastConfigure(f, a), QStringLiteral("704 240") + maximized);
    QCOMPARE(regionOf(f, 0), QStringLiteral("top"));
    f.driverCommand(QStringLiteral("layout main"));
    QTRY_COMPARE(lastConfigure(f, a), QStringLiteral("0 0") + maximized);
    QCOMPARE(regionOf(f, 0), QStringLiteral("QuickBar"));
    QCOMPARE(regionOf(f, 1), QStringLiteral("right"));
}

void tst_Scene::layoutChangeOrder()
{
    // In main A is right and B left. In third both want "left": A is placed first and
    // minimises B, whose region id from main ("left") conflicts; B then stays minimised.
    CompositorFixture f;
    const QString probeA
        = writeProbeCopy(f, QStringLiteral("A"), "X-DefaultRegion=main:right;third:left");
    const QString probeB
        = writeProbeCopy(f, QStringLiteral("B"), "X-DefaultRegion=main:left;third:left");
    QVERIFY(!probeA.isEmpty() && !probeB.isEmpty());
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));
    QProcess *a = f.startClient(probeA);
    QTRY_VERIFY_WITH_TIMEOUT(lastConfigure(f, a).startsWith(QStringLiteral("352")), 30000);
    QProcess *b = f.startClient(probeB);
    QTRY_VERIFY_WITH_TIMEOUT(lastConfigure(f, b).startsWith(QStringLiteral("352")), 30000);

    f.driverCommand(QStringLiteral("layout third"));
    QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
    QCOMPARE(regionOf(f, 1), QStringLiteral("QuickBar"));
    QTRY_COMPARE(lastConfigure(f, a), QStringLiteral("704 480") + maximized);
    QTRY_COMPARE(lastConfigure(f, b), QStringLiteral("0 0") + maximized);

    // Back in main both return to their own regions.
    f.driverCommand(QStringLiteral("layout main"));
    QCOMPARE(regionOf(f, 0), QStringLiteral("right"));
    QCOMPARE(regionOf(f, 1), QStringLiteral("left"));
}

void tst_Scene::sameRegionIdInNewLayout()
{
    // "left" is half the area in main and all of it in third: the surface keeps its region id
    // and must still follow the new geometry.
    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, QStringLiteral("X-DefaultRegion=main:left;third:left")));
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, probe), leftHalf, 30000);

    f.driverCommand(QStringLiteral("layout third"));
    QTRY_COMPARE(lastConfigure(f, probe), QStringLiteral("704 480") + maximized);
    f.driverCommand(QStringLiteral("layout main"));
    QTRY_COMPARE(lastConfigure(f, probe), leftHalf);
    QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
}

void tst_Scene::defaultLayoutMissing()
{
    CompositorFixture f;
    QVERIFY2(startScene(f, QStringLiteral("nosuch"), true), qPrintable(f.stderrText()));
    const QStringList dump = f.driverCommand(QStringLiteral("dump"));
    QVERIFY(!dump.isEmpty());
    QCOMPARE(field(dump.first(), QStringLiteral("layout")), QStringLiteral("main"));
    QVERIFY(f.stderrContains(QStringLiteral("Could not select default layout: nosuch")));
}

void tst_Scene::closeClient_data()
{
    QTest::addColumn<bool>("kill");
    QTest::newRow("window closed") << false;
    QTest::newRow("process killed") << true;
}

void tst_Scene::closeClient()
{
    QFETCH(bool, kill);

    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, "X-DefaultRegion=main:left"));
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));

    QProcess *probe = f.startClient(CompositorFixture::probePath());
    const qint64 pid = probe->processId();
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, probe), leftHalf, 30000);
    if (kill) {
        CompositorFixture::sendSignal(pid, SIGKILL);
    } else {
        probe->write("destroy 0\n");
        QTRY_VERIFY(f.clientLines(probe).contains(QStringLiteral("destroyed 0")));
    }
    QTRY_COMPARE(entryCount(f), 0);
    // Already unregistered: a second attempt finds nothing.
    QCOMPARE(f.driverCommand(QStringLiteral("unregister %1").arg(pid)),
             QStringList { QStringLiteral("unregister %1 false").arg(pid) });

    // The next client of the program is placed again.
    QProcess *next = f.startClient(CompositorFixture::probePath());
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, next), leftHalf, 30000);
    QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
}

void tst_Scene::severalToplevels_data()
{
    QTest::addColumn<int>("firstClosed");
    QTest::newRow("shown one first") << 1;
    QTest::newRow("minimised one first") << 0;
}

void tst_Scene::severalToplevels()
{
    QFETCH(int, firstClosed);

    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, "X-DefaultRegion=main:left"));
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));

    QProcess *probe = f.startClient(CompositorFixture::probePath(),
                                    { QStringLiteral("--toplevels"), QStringLiteral("2") });
    const qint64 pid = probe->processId();
    // Both want "left": the second one wins and the first is minimised.
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, probe, 1), leftHalf, 30000);
    QTRY_COMPARE(lastConfigure(f, probe, 0), QStringLiteral("0 0") + maximized);

    probe->write(QStringLiteral("destroy %1\n").arg(firstClosed).toUtf8());
    QTRY_COMPARE(entryCount(f), 1);
    // The remaining surface still has its process's client.
    const QString remaining = entryLine(f.driverCommand(QStringLiteral("dump")), 0);
    QCOMPARE(field(remaining, QStringLiteral("client")),
             QStringLiteral("%1/Probe/%2").arg(pid).arg(2 /* ES_RUNNING */));

    probe->write(QStringLiteral("destroy %1\n").arg(1 - firstClosed).toUtf8());
    QTRY_COMPARE(entryCount(f), 0);
    QCOMPARE(f.driverCommand(QStringLiteral("unregister %1").arg(pid)),
             QStringList { QStringLiteral("unregister %1 false").arg(pid) });
    QVERIFY(f.compositorRunning());
}

void tst_Scene::containerStaysBelowSelector()
{
    // 95 narrow regions: the last one has the stacking number 105.
    QByteArray regions;
    for (int i = 0; i < 95; ++i) {
        if (i)
            regions += ',';
        regions += QStringLiteral(R"({"id": "r%1", "name": "R%1", "x": %2, "y": 0, "width": 0.01,
                                      "height": 1, "regions": []})")
                       .arg(i)
                       .arg(i * 0.01)
                       .toUtf8();
    }
    CompositorFixture f;
    QVERIFY(f.writeLayoutFile(QStringLiteral("many.json"),
                              R"({"layouts": [{"id": "many", "name": "Many", "defaultRegion": "r0",
                                 "regions": [)"
                                  + regions + "]}]}"));
    f.enableDriver();
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("many"));
    QVERIFY(f.writeClientEntry(QStringLiteral("probe.desktop"), QStringLiteral("Probe"),
                               CompositorFixture::probePath(), "X-DefaultRegion=many:r94"));
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, probe), QStringLiteral("7 480") + maximized, 30000);
    const QStringList dump = f.driverCommand(QStringLiteral("dump"));
    const int z = field(entryLine(dump, 0), QStringLiteral("z")).toInt();
    QVERIFY2(z > 0 && z < 100, qPrintable(entryLine(dump, 0)));
}

void tst_Scene::failingComponents_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("driver");

    QTest::newRow("quick bar") << "Components/QuickBar" << false;
    QTest::newRow("quick bar element") << "Components/QuickBarElement" << false;
    QTest::newRow("region selector") << "Components/RegionSelector" << true;
    QTest::newRow("surface container") << "Components/SurfaceContainer" << true;
}

void tst_Scene::failingComponents()
{
    QFETCH(QString, key);
    QFETCH(bool, driver);

    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, "X-DefaultRegion=main:left"));
    QVERIFY2(startScene(f, QStringLiteral("main"), driver,
                        { key + QStringLiteral("=file:///nonexistent/Broken.qml") }),
             qPrintable(f.stderrText()));
    // Reported at start, also for components that are first needed later.
    QTRY_VERIFY2_WITH_TIMEOUT(
        f.stderrContains("Component " + key + " (file:///nonexistent/Broken.qml) does not load"),
        qPrintable(f.stderrText()), 30000);

    QProcess *probe = f.startClient(CompositorFixture::probePath(), { QStringLiteral("--input") });
    if (key == QLatin1String("Components/SurfaceContainer")) {
        // The surface cannot be shown, but it is placed and forgotten when it goes away; it is
        // neither sized nor given the keyboard, which nobody would see it use.
        QTRY_COMPARE_WITH_TIMEOUT(regionOf(f, 0), QStringLiteral("left"), 30000);
        f.driverCommand(QStringLiteral("dump"));
        QCOMPARE(f.probeConfigures(probe), QStringList { QStringLiteral("0 0 -") });
        QVERIFY(!f.clientLines(probe).contains(QStringLiteral("keyboard-enter 0")));
        CompositorFixture::sendSignal(probe->processId(), SIGKILL);
        QTRY_COMPARE(entryCount(f), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, probe), leftHalf, 30000);
    }
    QVERIFY(f.compositorRunning());
}

void tst_Scene::debugMessages_data()
{
    QTest::addColumn<bool>("debug");
    QTest::newRow("normal") << false;
    QTest::newRow("debug") << true;
}

void tst_Scene::debugMessages()
{
    QFETCH(bool, debug);

    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, "X-DefaultRegion=main:left"));
    QVERIFY2(startScene(f, QStringLiteral("main"), false, {},
                        debug ? QStringList { QStringLiteral("--debug") } : QStringList()),
             qPrintable(f.stderrText()));
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, probe), leftHalf, 30000);

    const QStringList expected = {
        QStringLiteral("SurfaceModel: region left requested for idx 0"),
        QStringLiteral("SurfaceModel: placing client Probe in region left"),
        QStringLiteral("Connected client details:"),
        QStringLiteral("lastFormain: left"),
        QStringLiteral("currentRegion: QuickBar"),
        QStringLiteral("SurfaceContainer for Probe changed to region left (rect: 0,0-0.5,1)"),
        QStringLiteral("SurfaceContainer for Probe set Visible"),
    };
    if (debug) {
        for (const QString &message : expected)
            QTRY_VERIFY2(f.stderrContains(message), qPrintable(message + "\n" + f.stderrText()));
    } else {
        // Stop the compositor so that all its output is in.
        QCOMPARE(f.stopCompositor(SIGTERM), 0);
        QVERIFY2(!f.stderrContains(QStringLiteral("SurfaceModel: ")), qPrintable(f.stderrText()));
        QVERIFY(!f.stderrContains(QStringLiteral("SurfaceContainer for ")));
        QVERIFY(!f.stderrContains(QStringLiteral("Connected client details:")));
    }
}

void tst_Scene::badClients()
{
    CompositorFixture f;
    const QString probeA = writeProbeCopy(f, QStringLiteral("A"), "X-DefaultRegion=main:left");
    QVERIFY(!probeA.isEmpty());
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));

    QProcess *a = f.startClient(probeA);
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, a), leftHalf, 30000);
    const int configuresOfA = f.probeConfigures(a).size();

    // Connects and leaves at once.
    QProcess *gone
        = f.startClient(CompositorFixture::probePath(), { QStringLiteral("--exit-after-connect") });
    QVERIFY(gone->waitForFinished(30000));
    // A top-level that never gets a buffer, then killed.
    QProcess *empty
        = f.startClient(CompositorFixture::probePath(), { QStringLiteral("--no-buffer") });
    QTRY_VERIFY_WITH_TIMEOUT(!f.probeConfigures(empty).isEmpty(), 30000);
    // Three top-levels destroyed out of order, then the process leaves.
    QProcess *many = f.startClient(CompositorFixture::probePath(),
                                   { QStringLiteral("--toplevels"), QStringLiteral("3") });
    QTRY_VERIFY_WITH_TIMEOUT(!f.probeConfigures(many, 2).isEmpty(), 30000);
    // A top-level whose process is gone before the compositor looks it up.
    for (int i = 0; i < 3; ++i) {
        QProcess *brief = f.startClient(CompositorFixture::probePath(),
                                        { QStringLiteral("--exit-after-create") });
        QVERIFY(brief->waitForFinished(30000));
    }
    QTRY_COMPARE(entryCount(f), 5);
    many->write("destroy 1\ndestroy 2\n");
    QTRY_COMPARE(entryCount(f), 3);
    many->write("quit\n");
    QVERIFY(many->waitForFinished(30000));
    CompositorFixture::sendSignal(empty->processId(), SIGKILL);
    QTRY_COMPARE(entryCount(f), 1);

    // The first client was left where it was.
    QVERIFY(f.compositorRunning());
    QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
    QCOMPARE(f.probeConfigures(a).size(), configuresOfA);
}

void tst_Scene::westonClient()
{
    const QString program = QStringLiteral("/usr/bin/weston-simple-shm");
    if (!QFile::exists(program))
        QSKIP("weston-simple-shm is not installed");

    CompositorFixture f;
    QVERIFY(f.writeClientEntry(QStringLiteral("shm.desktop"), QStringLiteral("Simple"), program,
                               "X-DefaultRegion=main:rightTop"));
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));

    QProcess *shm = f.startClient(program);
    QTRY_COMPARE_WITH_TIMEOUT(regionOf(f, 0), QStringLiteral("rightTop"), 30000);
    const QString line = entryLine(f.driverCommand(QStringLiteral("dump")), 0);
    QVERIFY2(line.contains(QStringLiteral("/Simple/")), qPrintable(line));
    QCOMPARE(field(line, QStringLiteral("visible")), QStringLiteral("true"));
    QCOMPARE(field(line, QStringLiteral("geometry")), QStringLiteral("448,0,352,240"));

    shm->terminate();
    QVERIFY(shm->waitForFinished(30000));
    QTRY_COMPARE(entryCount(f), 0);
}

void tst_Scene::pixels_data()
{
    QTest::addColumn<bool>("xvfb");
    QTest::newRow("window grabbed, offscreen") << false;
    QTest::newRow("screenshot under Xvfb") << true;
}

void tst_Scene::pixels()
{
    QFETCH(bool, xvfb);

    // Three thirds: red on the left, blue on the right, the background in the middle.
    CompositorFixture f;
    QVERIFY(
        f.writeLayoutFile(QStringLiteral("thirds.json"),
                          R"({"layouts": [{"id": "thirds", "name": "Thirds", "defaultRegion": "a",
      "regions": [
        {"id": "a", "name": "A", "x": 0, "y": 0, "width": 0.25, "height": 1, "regions": []},
        {"id": "b", "name": "B", "x": 0.25, "y": 0, "width": 0.5, "height": 1, "regions": []},
        {"id": "c", "name": "C", "x": 0.75, "y": 0, "width": 0.25, "height": 1, "regions": []}
      ]}]})"));
    f.enableDriver();
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("thirds"));
    f.setSetting(QStringLiteral("Settings/QuickBarPosition"), QStringLiteral("LEFT"));
    f.setSetting(QStringLiteral("QuickBar/Size"), QStringLiteral("20"));
    f.setSetting(QStringLiteral("Background/Color"), QStringLiteral("#204060"));
    const QString probeA = writeProbeCopy(f, QStringLiteral("A"), "X-DefaultRegion=thirds:a");
    const QString probeC = writeProbeCopy(f, QStringLiteral("C"), "X-DefaultRegion=thirds:c");
    QVERIFY(!probeA.isEmpty() && !probeC.isEmpty());
    if (xvfb && !f.startXvfb())
        QSKIP("Xvfb is not available");
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));

    // Region area 640x480 from x 160: a is 160..320, b 320..640, c 640..800.
    QProcess *a = f.startClient(probeA, { QStringLiteral("--color"), QStringLiteral("ff0000") });
    QProcess *c = f.startClient(probeC, { QStringLiteral("--color"), QStringLiteral("0000ff") });
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(a).contains(QStringLiteral("committed 0 160 480")),
                             30000);
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(c).contains(QStringLiteral("committed 0 160 480")),
                             30000);

    const QString path = f.baseDir() + QStringLiteral("/frame.png");
    QImage frame;
    // The committed buffer shows from the next frame on; grab until it does.
    const auto capture = [&] {
        if (xvfb)
            return f.screenshot();
        f.driverCommand(QStringLiteral("grab ") + path);
        return QImage(path);
    };
    QTRY_VERIFY_WITH_TIMEOUT(
        (frame = capture(), !frame.isNull() && (frame.pixel(240, 240) & 0xffffff) == 0xff0000),
        30000);
    QCOMPARE(frame.size(), QSize(800, 480));
    const QRgb red = 0xff0000, blue = 0x0000ff, background = 0x204060;
    const struct
    {
        int x, y;
        QRgb colour;
    } checks[] = {
        { 162, 2, red },          { 318, 477, red },        { 240, 240, red },
        { 642, 2, blue },         { 797, 477, blue },       { 720, 240, blue },
        { 480, 240, background }, { 330, 10, background },  { 630, 470, background },
        { 80, 240, background },  { 159, 240, background }, { 321, 240, background },
        { 639, 240, background },
    };
    for (const auto &check : checks) {
        const QRgb actual = frame.pixel(check.x, check.y) & 0xffffff;
        QVERIFY2(actual == check.colour,
                 qPrintable(QStringLiteral("pixel %1,%2 is %3, expected %4")
                                .arg(check.x)
                                .arg(check.y)
                                .arg(actual, 6, 16, QLatin1Char('0'))
                                .arg(check.colour, 6, 16, QLatin1Char('0'))));
    }
}

void tst_Scene::configureSequences_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");

    const QString shownLeft = QStringLiteral("352 480 maximized,activated");
    const QString minimised = QStringLiteral("0 0 maximized");
    const QStringList none;
    // Steps: "driver <command>", "probe <window request>", "region <id>" (where the surface is
    // now) and "stopped" (its process is). The expected configures follow Qt's initial one.
    QTest::newRow("tapped away and back")
        << "X-DefaultRegion=main:left" << none << QStringList { "driver click 0", "driver click 0" }
        << QStringList { shownLeft, minimised, shownLeft };
    QTest::newRow("window requests shown and minimised change nothing")
        << "X-DefaultRegion=main:left" << none
        << QStringList { "probe set_maximized", "probe unset_fullscreen", "probe unset_maximized",
                         "probe move",          "probe resize",           "probe menu",
                         "driver click 0",      "probe unset_maximized",  "probe set_minimized",
                         "driver click 0" }
        << QStringList { shownLeft, minimised, shownLeft };
    // A kiosk browser or a game asks for full screen: it gets the state, never more than its
    // region; minimised it keeps it, and it goes when the client unsets it.
    QTest::newRow("full screen asked for, shown and minimised")
        << "X-DefaultRegion=main:left" << none
        << QStringList { "probe set_fullscreen", "driver click 0", "driver click 0",
                         "probe unset_fullscreen" }
        << QStringList { shownLeft, "352 480 fullscreen,activated", "0 0 fullscreen",
                         "352 480 fullscreen,activated", shownLeft };
    QTest::newRow("window requests before the first commit")
        << "X-DefaultRegion=main:left"
        << QStringList { "--request", "set_fullscreen", "--request", "set_maximized" }
        << QStringList { "driver click 0" }
        << QStringList { "352 480 fullscreen,activated", "0 0 fullscreen" };
    QTest::newRow("client minimises itself: paused as by a tap, restored by one")
        << "X-DefaultRegion=main:left\nX-MinimizedMode=PAUSED" << none
        << QStringList { "probe set_minimized", "region QuickBar", "stopped", "driver click 0",
                         "region left" }
        << QStringList { shownLeft, minimised, shownLeft };
    // In debug mode the header moves the bar to the top: both sides change at once.
    QTest::newRow("move between equal regions, then both sides")
        << "X-DefaultRegion=main:rightTop" << QStringList { "-d" }
        << QStringList { "driver longpress 0", "driver region rightBottom", "driver header" }
        << QStringList { "352 240 maximized,activated", "400 211 maximized,activated" };
}

void tst_Scene::configureSequences()
{
    QFETCH(QString, settings);
    QFETCH(QStringList, args);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);

    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, settings));
    QVERIFY2(startScene(f, QStringLiteral("main"), true, {},
                        args.contains(QLatin1String("-d")) ? args : QStringList()),
             qPrintable(f.stderrText()));
    QStringList probeArgs { QStringLiteral("--input") };
    if (!args.contains(QLatin1String("-d")))
        probeArgs += args;
    QProcess *probe = f.startClient(CompositorFixture::probePath(), probeArgs);
    QTRY_COMPARE_WITH_TIMEOUT(f.probeConfigures(probe).size(), 2, 30000);

    for (const QString &step : std::as_const(steps)) {
        const QString what = step.section(u' ', 0, 0);
        const QString rest = step.section(u' ', 1);
        if (what == QLatin1String("driver")) {
            f.driverCommand(rest);
        } else if (what == QLatin1String("probe")) {
            probe->write(QStringLiteral("request %1 0\n").arg(rest).toUtf8());
            // A client paused by its own request is stopped before it can tell it was handled.
            QTRY_VERIFY2(f.clientLines(probe).contains(QStringLiteral("requested %1 0").arg(rest))
                             || CompositorFixture::processState(probe->processId()) == 'T',
                         qPrintable(f.clientLines(probe).join(u'|')));
        } else if (what == QLatin1String("region")) {
            QTRY_COMPARE(regionOf(f, 0), rest);
        } else {
            QTRY_COMPARE(CompositorFixture::processState(probe->processId()), 'T');
        }
    }
    // Nothing else arrives before the last expected configure, nothing after it so far.
    QTRY_VERIFY2_WITH_TIMEOUT(f.probeConfigures(probe).size() == expected.size() + 1,
                              qPrintable(f.probeConfigures(probe).join(u'|')), 30000);
    QCOMPARE(f.probeConfigures(probe), QStringList { QStringLiteral("0 0 -") } + expected);
    QVERIFY(f.compositorRunning());
}

void tst_Scene::qtClients_data()
{
    QTest::addColumn<QString>("visibility");
    QTest::newRow("full screen") << "FullScreen";
    QTest::newRow("maximised") << "Maximized";
}

void tst_Scene::qtClients()
{
    QFETCH(QString, visibility);
    const QString qml = QStringLiteral("/usr/lib/qt6/bin/qml");
    if (!QFile::exists(qml))
        QSKIP("the qml tool is not installed");

    CompositorFixture f;
    QVERIFY(f.writeFile(QStringLiteral("client.qml"),
                        "import QtQuick\nWindow { color: \"green\"; visibility: Window."
                            + visibility.toUtf8() + " }\n"));
    QVERIFY(f.writeClientEntry(QStringLiteral("qml.desktop"), QStringLiteral("Qml"), qml,
                               "X-DefaultRegion=main:left"));
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));

    f.startClient(qml, { f.baseDir() + QStringLiteral("/client.qml") });
    // The buffer it draws is its region's size, however it asked.
    QTRY_COMPARE_WITH_TIMEOUT(
        field(entryLine(f.driverCommand(QStringLiteral("dump")), 0), QStringLiteral("surface")),
        QStringLiteral("352x480"), 30000);
    QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
}

void tst_Scene::bufferOfOtherSize_data()
{
    QTest::addColumn<QString>("buffer");
    QTest::addColumn<bool>("framed");
    QTest::addColumn<QString>("scaleToFit");
    QTest::addColumn<QRect>("picture"); // on the screen
    QTest::addColumn<QRect>("area"); // the client's area, filled or covered
    QTest::addColumn<QPoint>("click"); // on the screen
    QTest::addColumn<QString>("clicked"); // where the client is told

    // "left" is x 96..448; the framed container keeps 3 px at the sides and bottom and a title
    // of 24 px at the top.
    QTest::newRow("smaller: centred") << "100x60" << false << "1" << QRect(222, 210, 100, 60)
                                      << QRect(96, 0, 352, 480) << QPoint(232, 230) << "10 20";
    // 500x300 at 352/500 = 0.704 is 352x211, centred from y 134; a tap near its right edge
    // reaches the client there.
    QTest::newRow("larger: scaled down to fit, centred")
        << "500x300" << false << "1" << QRect(96, 134, 352, 211) << QRect(96, 0, 352, 480)
        << QPoint(441, 234) << "490 142";
    QTest::newRow("larger, not scaled: from the top left, cut at the region")
        << "1000x700" << false << "0" << QRect(96, 0, 352, 480) << QRect(96, 0, 352, 480)
        << QPoint(106, 20) << "10 20";
    QTest::newRow("smaller, framed container")
        << "100x60" << true << "1" << QRect(222, 221, 100, 60) << QRect(99, 24, 346, 453)
        << QPoint(232, 241) << "10 20";
}

void tst_Scene::bufferOfOtherSize()
{
    QFETCH(QString, buffer);
    QFETCH(bool, framed);
    QFETCH(QString, scaleToFit);
    QFETCH(QRect, picture);
    QFETCH(QRect, area);
    QFETCH(QPoint, click);
    QFETCH(QString, clicked);
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs xdotool");

    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, "X-DefaultRegion=main:left"));
    const QString framedUrl = QUrl::fromLocalFile(QStringLiteral(VORLANE_SOURCE_DIR)
                                                  + "/examples/qml/FramedSurfaceContainer.qml")
                                  .toString();
    if (!f.startXvfb())
        QSKIP("Xvfb is not available");
    QVERIFY2(startScene(f, QStringLiteral("main"), false,
                        { QStringLiteral("Background/Color=#204060"),
                          QStringLiteral("SurfaceContainer/FillColor=#000000"),
                          QStringLiteral("SurfaceContainer/ScaleToFit=") + scaleToFit,
                          QStringLiteral("Components/SurfaceContainer=")
                              + (framed ? framedUrl
                                        : QStringLiteral("qrc:///Kestrix/Vorlane/Application/"
                                                         "SurfaceContainer.qml")) }),
             qPrintable(f.stderrText()));
    QProcess *probe = f.startClient(CompositorFixture::probePath(),
                                    { QStringLiteral("--buffer"), buffer, QStringLiteral("--input"),
                                      QStringLiteral("--color"), QStringLiteral("ff0000") });
    // Told the area's size, it keeps its own.
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(probe).contains(
                                 QStringLiteral("committed 0 %1").arg(buffer).replace(u'x', u' ')),
                             30000);
    // A fixed-size client draws on the first configure already; a replacement container that is
    // compiled on first use may tell it its area a while later.
    QTRY_COMPARE_WITH_TIMEOUT(
        lastConfigure(f, probe),
        QStringLiteral("%1 %2 maximized").arg(area.width()).arg(area.height()), 30000);

    QImage frame;
    QTRY_VERIFY_WITH_TIMEOUT(
        (frame = f.screenshot(), !frame.isNull() && frame.pixelColor(picture.center()) == Qt::red),
        30000);
    // Red exactly on the picture, black on the rest of the area, nothing beyond it.
    for (int x = area.left() - 1; x <= area.right() + 1; x += 3) {
        for (int y = qMax(0, area.top() - 1); y <= qMin(479, area.bottom() + 1); y += 3) {
            const QColor expected = picture.contains(x, y) ? QColor(Qt::red)
                : area.contains(x, y)                      ? QColor(Qt::black)
                                                           : QColor();
            const QColor actual = frame.pixelColor(x, y);
            if (expected.isValid() ? actual != expected : actual == Qt::red || actual == Qt::black)
                QFAIL(qPrintable(
                    QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(actual.name())));
        }
    }

    // A click reaches the client at its own coordinates, through the scale.
    QVERIFY(
        f.xdotool({ QStringLiteral("mousemove"), QString::number(click.x()),
                    QString::number(click.y()), QStringLiteral("click"), QStringLiteral("1") }));
    QTRY_VERIFY2_WITH_TIMEOUT(
        f.clientLines(probe).contains(QStringLiteral("button 0 %1 pressed").arg(clicked)),
        qPrintable(f.clientLines(probe).join(u'|')), 30000);
}

void tst_Scene::keyboardFocus()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs xdotool");
    CompositorFixture f;
    const QString probeA = writeProbeCopy(f, QStringLiteral("A"), "X-DefaultRegion=main:left");
    const QString probeB = writeProbeCopy(f, QStringLiteral("B"), "X-DefaultRegion=main:right");
    QVERIFY(!probeA.isEmpty() && !probeB.isEmpty());
    if (!f.startXvfb())
        QSKIP("Xvfb is not available");
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));

    const auto xdotool = [&f](const QStringList &args) { return f.xdotool(args); };

    // A binds the seat twice, as Firefox does: each of its keyboards has the focus and the keys.
    QProcess *a = f.startClient(probeA, { QStringLiteral("--keyboards"), QStringLiteral("2") });
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(a).contains(QStringLiteral("keyboard-enter 0")), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(a).contains(QStringLiteral("keyboard-enter 0 #1")),
                             30000);
    // Keys go to the window under the pointer on a server without window manager.
    QVERIFY(xdotool({ QStringLiteral("mousemove"), QStringLiteral("40"), QStringLiteral("470") }));
    // Types 'a' (keycode 30 for the client): true when it reached to and not other.
    const auto keyTo = [&](QProcess *to, QProcess *other) {
        const int before = f.clientLines(to).count(QStringLiteral("key 30 pressed"));
        const int otherBefore
            = other ? f.clientLines(other).count(QStringLiteral("key 30 pressed")) : 0;
        if (!xdotool({ QStringLiteral("key"), QStringLiteral("a") }))
            return false;
        QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()
               && f.clientLines(to).count(QStringLiteral("key 30 pressed")) == before)
            QTest::qWait(50);
        return f.clientLines(to).count(QStringLiteral("key 30 pressed")) == before + 1
            && (!other
                || f.clientLines(other).count(QStringLiteral("key 30 pressed")) == otherBefore);
    };
    QVERIFY(keyTo(a, nullptr));
    // A keyboard made while its client has the focus is entered too.
    a->write("keyboard\n");
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(a).contains(QStringLiteral("keyboard-enter 0 #2")),
                             30000);
    QVERIFY(keyTo(a, nullptr));
    for (const QString &keyboard : { QStringLiteral(" #1"), QStringLiteral(" #2") })
        QCOMPARE(f.clientLines(a).count(QStringLiteral("key 30 pressed") + keyboard),
                 f.clientLines(a).count(QStringLiteral("key 30 pressed")) - (keyboard == " #2"));

    // Placed at connect, B takes the keyboard.
    QProcess *b = f.startClient(probeB, { QStringLiteral("--input") });
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(b).contains(QStringLiteral("keyboard-enter 0")), 30000);
    QVERIFY(keyTo(b, a));
    // Minimised, B leaves it to A, the surface focused before; restored, B has it again.
    f.driverCommand(QStringLiteral("click 1"));
    QVERIFY(keyTo(a, b));
    f.driverCommand(QStringLiteral("click 1"));
    QVERIFY(keyTo(b, a));
    // A tap on A gives A the keyboard.
    QVERIFY(xdotool({ QStringLiteral("mousemove"), QStringLiteral("200"), QStringLiteral("200"),
                      QStringLiteral("click"), QStringLiteral("1") }));
    QVERIFY(keyTo(a, b));
    // When the focused surface goes, the one focused before it has the keyboard again.
    QVERIFY(xdotool({ QStringLiteral("mousemove"), QStringLiteral("600"), QStringLiteral("200"),
                      QStringLiteral("click"), QStringLiteral("1") }));
    QVERIFY(keyTo(b, a));
    b->write("quit\n");
    QVERIFY(b->waitForFinished(30000));
    // A key typed before the compositor saw B go would reach no one.
    QTRY_COMPARE_WITH_TIMEOUT(
        f.clientLines(a).filter(QRegularExpression("^keyboard-(enter|leave) 0$")).last(),
        QStringLiteral("keyboard-enter 0"), 30000);
    QVERIFY(keyTo(a, nullptr));
    // Every keyboard followed the focus, entered and left in turn, as the first one did since
    // the keyboard was made.
    const auto focusLines = [&](const QString &keyboard) {
        return f.clientLines(a)
            .filter(QRegularExpression("^keyboard-(enter|leave) 0" + keyboard + "$"))
            .replaceInStrings(keyboard, QString());
    };
    // Seven at least: a slow compositor may pass the focus through A once more on the way.
    const QStringList first = focusLines(QString());
    QVERIFY2(first.size() >= 7, qPrintable(first.join(QLatin1String(", "))));
    for (const QString &keyboard : { QStringLiteral(" #1"), QStringLiteral(" #2") }) {
        // A keyboard bound later missed what came before it; one bound with the first may have
        // missed a pass of the focus through A before it was bound.
        const QStringList lines = focusLines(keyboard);
        const qsizetype common = std::min(lines.size(), first.size());
        QVERIFY2(common >= 5
                     && lines.mid(lines.size() - common) == first.mid(first.size() - common),
                 qPrintable(lines.join(u',') + QLatin1String(" / ") + first.join(u',')));
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY(lines.at(i).startsWith(i % 2 ? "keyboard-leave" : "keyboard-enter"));
    }
    QVERIFY(f.compositorRunning());
}

void tst_Scene::dialogs()
{
    CompositorFixture f;
    QVERIFY(writeProbeEntry(f, "X-DefaultRegion=main:left;second:top\nX-MinimizedMode=RUNNING"));
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));
    QProcess *probe = f.startClient(CompositorFixture::probePath(), { QStringLiteral("--input") });
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, probe), leftHalf, 30000);
    const auto entered = [&](int toplevel) {
        return f.clientLines(probe).count(QStringLiteral("keyboard-enter %1").arg(toplevel));
    };
    const auto dump = [&] { return f.driverCommand(QStringLiteral("dump")); };

    // A dialog: no element of its own, left its own size, centred over its parent, above it,
    // with the keyboard; the parent stays placed.
    probe->write("create 0\n");
    QTRY_COMPARE_WITH_TIMEOUT(f.lastProbeConfigure(probe, 1), QStringLiteral("0 0 activated"),
                              30000);
    QTRY_VERIFY(f.clientLines(probe).contains(QStringLiteral("committed 1 64 64")));
    QTRY_COMPARE(field(dialogLine(dump(), 0), QStringLiteral("geometry")),
                 QStringLiteral("240,208,64,64"));
    QStringList lines = dump();
    QCOMPARE(field(lines.first(), QStringLiteral("count")), QStringLiteral("1"));
    QCOMPARE(field(lines.first(), QStringLiteral("dialogs")), QStringLiteral("1"));
    QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
    QVERIFY(field(dialogLine(lines, 0), QStringLiteral("z")).toDouble()
            > field(entryLine(lines, 0), QStringLiteral("z")).toDouble());
    QCOMPARE(entered(1), 1);
    QCOMPARE(f.lastProbeConfigure(probe, 0), leftHalf);

    // A dialog of the dialog takes the keyboard; when it closes the keyboard goes back.
    probe->write("create 1\n");
    QTRY_COMPARE(entered(2), 1);
    probe->write("destroy 2\n");
    QTRY_COMPARE(entered(1), 2);

    // Minimised with its parent; one that arrives meanwhile marks the parent's element and shows
    // with the parent, on top and with the keyboard.
    f.driverCommand(QStringLiteral("click 0"));
    QTRY_COMPARE(field(dialogLine(dump(), 0), QStringLiteral("visible")), QStringLiteral("false"));
    probe->write("create 0\n");
    QTRY_COMPARE(field(entryLine(dump(), 0), QStringLiteral("attention")), QStringLiteral("true"));
    QCOMPARE(field(dialogLine(dump(), 1), QStringLiteral("visible")), QStringLiteral("false"));
    QCOMPARE(entered(3), 0);
    f.driverCommand(QStringLiteral("click 0"));
    QTRY_COMPARE(entered(3), 1);
    lines = dump();
    QCOMPARE(field(entryLine(lines, 0), QStringLiteral("attention")), QStringLiteral("false"));
    QCOMPARE(field(dialogLine(lines, 0), QStringLiteral("visible")), QStringLiteral("true"));
    QCOMPARE(field(dialogLine(lines, 1), QStringLiteral("visible")), QStringLiteral("true"));

    // A layout change takes the dialogs along: centred on the top region of "second".
    f.driverCommand(QStringLiteral("layout second"));
    QTRY_COMPARE(field(dialogLine(dump(), 0), QStringLiteral("geometry")),
                 QStringLiteral("416,88,64,64"));

    // Without its parent it is an ordinary window: listed and placed, where it displaces the
    // window it belonged to, which comes back when it ends.
    probe->write("parent 3 -1\n");
    QTRY_COMPARE(f.lastProbeConfigure(probe, 3), QStringLiteral("704 240 maximized,activated"));
    lines = dump();
    QCOMPARE(field(lines.first(), QStringLiteral("count")), QStringLiteral("2"));
    QCOMPARE(regionOf(f, 0), QStringLiteral("QuickBar"));
    QCOMPARE(field(dialogLine(lines, 0), QStringLiteral("visible")), QStringLiteral("false"));
    probe->write("destroy 3\n");
    QTRY_COMPARE(regionOf(f, 0), QStringLiteral("top"));
    QTRY_COMPARE(entered(1), 3);

    // The parent's end takes its dialog along: hidden and asked to close.
    probe->write("destroy 0\n");
    QTRY_VERIFY(f.clientLines(probe).contains(QStringLiteral("close 1")));
    lines = dump();
    QCOMPARE(field(lines.first(), QStringLiteral("count")), QStringLiteral("0"));
    QCOMPARE(field(dialogLine(lines, 0), QStringLiteral("visible")), QStringLiteral("false"));
    probe->write("destroy 1\n");
    QTRY_COMPARE(field(dump().first(), QStringLiteral("dialogs")), QStringLiteral("0"));
    QVERIFY(f.compositorRunning());
}

void tst_Scene::qtMessageBox()
{
    const QString python = QFileInfo(QStringLiteral("/usr/bin/python3")).canonicalFilePath();
    QProcess check;
    check.start(python, { QStringLiteral("-c"), QStringLiteral("import PyQt6.QtWidgets") });
    if (python.isEmpty() || !check.waitForFinished(30000) || check.exitCode() != 0)
        QSKIP("needs python3-pyqt6");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs xdotool");

    // A line edit that asks with a modal message box on "ask" and prints what it is typed.
    CompositorFixture f;
    QVERIFY(f.writeFile(QStringLiteral("ask.py"), R"(import sys
from PyQt6.QtCore import QSocketNotifier, QTimer
from PyQt6.QtWidgets import QApplication, QLineEdit, QMessageBox
app = QApplication(sys.argv)
edit = QLineEdit()
edit.textChanged.connect(lambda text: print("text " + text, flush=True))
def ask():
    print("answered %d" % QMessageBox.information(edit, "Dialog", "Hello"), flush=True)
def command():
    if sys.stdin.readline().strip() == "ask":
        QTimer.singleShot(0, ask)
notifier = QSocketNotifier(sys.stdin.fileno(), QSocketNotifier.Type.Read)
notifier.activated.connect(command)
edit.show()
sys.exit(app.exec())
)"));
    QVERIFY(f.writeClientEntry(QStringLiteral("ask.desktop"), QStringLiteral("Ask"), python,
                               "X-DefaultRegion=main:left"));
    if (!f.startXvfb())
        QSKIP("Xvfb is not available");
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));
    const auto xdotool = [&f](const QStringList &args) { return f.xdotool(args); };
    QProcess *ask
        = f.startClient(python, { f.baseDir() + QStringLiteral("/ask.py") },
                        { { QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland") } });
    QTRY_COMPARE_WITH_TIMEOUT(
        field(entryLine(f.driverCommand(QStringLiteral("dump")), 0), QStringLiteral("surface")),
        QStringLiteral("352x480"), 30000);
    // Keys go to the window under the pointer on a server without window manager.
    QVERIFY(xdotool({ QStringLiteral("mousemove"), QStringLiteral("40"), QStringLiteral("470") }));

    ask->write("ask\n");
    QStringList dump;
    QTRY_VERIFY_WITH_TIMEOUT(
        (dump = f.driverCommand(QStringLiteral("dump")),
         field(dialogLine(dump, 0), QStringLiteral("visible")) == QLatin1String("true")
             && field(dialogLine(dump, 0), QStringLiteral("focused")) == QLatin1String("true")),
        30000);
    // One element; the parent stays placed at its size; the dialog lies above it, centred.
    QCOMPARE(field(dump.first(), QStringLiteral("count")), QStringLiteral("1"));
    QCOMPARE(field(entryLine(dump, 0), QStringLiteral("region")), QStringLiteral("left"));
    QCOMPARE(field(entryLine(dump, 0), QStringLiteral("surface")), QStringLiteral("352x480"));
    QVERIFY(field(dialogLine(dump, 0), QStringLiteral("z")).toDouble()
            > field(entryLine(dump, 0), QStringLiteral("z")).toDouble());
    const QStringList geometry = field(dialogLine(dump, 0), QStringLiteral("geometry")).split(u',');
    QCOMPARE(geometry.size(), 4);
    QVERIFY2(qAbs(geometry[0].toDouble() + geometry[2].toDouble() / 2 - 272) <= 1
                 && qAbs(geometry[1].toDouble() + geometry[3].toDouble() / 2 - 240) <= 1
                 && geometry[2].toDouble() > 0 && geometry[2].toDouble() <= 352,
             qPrintable(dialogLine(dump, 0)));

    // Return presses OK: the dialog had the keyboard, and the parent has it back.
    QVERIFY(xdotool({ QStringLiteral("key"), QStringLiteral("Return") }));
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(ask).contains(QStringLiteral("answered 1024")), 30000);
    QTRY_COMPARE(field(f.driverCommand(QStringLiteral("dump")).first(), QStringLiteral("dialogs")),
                 QStringLiteral("0"));
    QVERIFY(xdotool({ QStringLiteral("type"), QStringLiteral("x") }));
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(ask).contains(QStringLiteral("text x")), 30000);
    QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
}

void tst_Scene::displacedComesBack_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("region");

    QTest::newRow("given back") << QStringList() << "left";
    QTest::newRow("moved since") << QStringList { "longpress 0", "region right", "click 0" }
                                 << "QuickBar";
    QTest::newRow("ended minimised") << QStringList { "click 1" } << "QuickBar";
}

void tst_Scene::displacedComesBack()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, region);

    CompositorFixture f;
    const QString probeA = writeProbeCopy(f, QStringLiteral("A"),
                                          "X-DefaultRegion=main:left\nX-MinimizedMode=PAUSED");
    const QString probeB = writeProbeCopy(f, QStringLiteral("B"), "X-DefaultRegion=main:left");
    QVERIFY(!probeA.isEmpty() && !probeB.isEmpty());
    QVERIFY2(startScene(f, QStringLiteral("main"), true), qPrintable(f.stderrText()));
    QProcess *a = f.startClient(probeA);
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, a), leftHalf, 30000);
    QProcess *b = f.startClient(probeB);
    QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, b), leftHalf, 30000);
    QTRY_COMPARE(CompositorFixture::processState(a->processId()), 'T');

    for (const QString &step : std::as_const(steps))
        f.driverCommand(step);
    b->write("destroy 0\n");
    QTRY_COMPARE(entryCount(f), 1);
    QCOMPARE(regionOf(f, 0), region);
    if (region == QLatin1String("left")) {
        // Back with its execution state and the keyboard.
        QTRY_VERIFY(CompositorFixture::processState(a->processId()) != 'T');
        QTRY_COMPARE(f.lastProbeConfigure(a), leftHalf + QStringLiteral(",activated"));
    }
}

void tst_Scene::insetContainer_data()
{
    QTest::addColumn<QByteArray>("sizing");
    QTest::addColumn<QString>("state");

    // The same framed container, in the two ways a container may size its client: the scene
    // tells a part of the screen maximised, a container telling its client keeps its own state.
    QTest::newRow("declares clientSize")
        << QByteArray("readonly property size clientSize: Qt.size(viewport.width, viewport.height)")
        << "maximized";
    QTest::newRow("tells its client itself")
        << QByteArray("Connections { target: viewport\n"
                      "function onWidthChanged() { "
                      "modelToplevel.sendFullscreen(Qt.size(viewport.width, viewport.height)) }\n"
                      "function onHeightChanged() { "
                      "modelToplevel.sendFullscreen(Qt.size(viewport.width, viewport.height)) } }")
        << "fullscreen";
}

void tst_Scene::insetContainer()
{
    QFETCH(QByteArray, sizing);
    QFETCH(QString, state);

    CompositorFixture f;
    QVERIFY(f.writeFile(
        QStringLiteral("Inset.qml"),
        "import QtQuick\nimport QtWayland.Compositor\n"
        "Item { id: container\nsignal surfaceDestroyed\n"
            + sizing
            + "\n"
              "Item { id: viewport; x: 3; y: 24; width: Math.max(0, container.width - 6);"
              " height: Math.max(0, container.height - 27); clip: true\n"
              "ShellSurfaceItem { shellSurface: modelShellSurface;"
              " onSurfaceDestroyed: container.surfaceDestroyed() } } }\n"));
    QVERIFY(writeProbeEntry(f, "X-DefaultRegion=main:left;second:top"));
    QVERIFY2(startScene(f, QStringLiteral("main"), true,
                        { "Components/SurfaceContainer="
                          + QUrl::fromLocalFile(f.baseDir() + "/Inset.qml").toString() }),
             qPrintable(f.stderrText()));
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    // The client is told the area inside the frame, activated, and never the whole region.
    QTRY_COMPARE_WITH_TIMEOUT(f.lastProbeConfigure(probe),
                              QStringLiteral("346 453 %1,activated").arg(state), 30000);
    f.driverCommand(QStringLiteral("layout second"));
    QTRY_COMPARE(f.lastProbeConfigure(probe), QStringLiteral("698 213 %1,activated").arg(state));
    const QStringList configures = f.probeConfigures(probe);
    QVERIFY2(!configures.filter(QStringLiteral("352 480 ")).size()
                 && !configures.filter(QStringLiteral("704 240 ")).size(),
             qPrintable(configures.join(u'|')));
}

void tst_Scene::regionIdsArePlainText()
{
    // Names that plain JavaScript objects carry already.
    CompositorFixture f;
    QVERIFY(f.writeLayoutFile(
        QStringLiteral("names.json"),
        R"({"layouts": [{"id": "names", "name": "Names", "defaultRegion": "constructor",
      "regions": [
        {"id": "constructor", "name": "A", "x": 0, "y": 0, "width": 0.25, "height": 1, "regions": []},
        {"id": "__proto__", "name": "B", "x": 0.25, "y": 0, "width": 0.25, "height": 1, "regions": []},
        {"id": "hasOwnProperty", "name": "C", "x": 0.5, "y": 0, "width": 0.25, "height": 1, "regions": []},
        {"id": "toString", "name": "D", "x": 0.75, "y": 0, "width": 0.25, "height": 1, "regions": []}
      ]}]})"));
    f.enableDriver();
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("names"));
    const QStringList regions { "constructor", "__proto__", "hasOwnProperty", "toString" };
    QStringList paths;
    for (int i = 0; i < regions.size(); ++i) {
        // A desktop entry cannot name "__proto__": that one is chosen in the region selector.
        paths << writeProbeCopy(f, QString(QChar(u'A' + i)),
                                i == 1 ? QString() : "X-DefaultRegion=names:" + regions[i]);
        QVERIFY(!paths.last().isEmpty());
    }
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));
    for (int i = 0; i < regions.size(); ++i) {
        QProcess *probe = f.startClient(paths[i]);
        if (i == 1) {
            QTRY_COMPARE_WITH_TIMEOUT(entryCount(f), 2, 30000);
            f.driverCommand(QStringLiteral("longpress 1"));
            f.driverCommand(QStringLiteral("region __proto__"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(lastConfigure(f, probe), QStringLiteral("176 480") + maximized,
                                  30000);
    }
    // Each stays where it was placed, also when one leaves and comes back.
    f.driverCommand(QStringLiteral("click 0"));
    f.driverCommand(QStringLiteral("click 0"));
    for (int i = 0; i < regions.size(); ++i)
        QCOMPARE(regionOf(f, i), regions[i]);
    QVERIFY2(!f.stderrContains(QStringLiteral("TypeError")), qPrintable(f.stderrText()));
}

// The callbacks "frames N" that an animating probe counted in each whole second so far.
static QList<int> framesPerSecond(CompositorFixture &f, QProcess *probe)
{
    QList<int> counts;
    const QStringList lines = f.clientLines(probe);
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("frames ")))
            counts << line.mid(7).toInt();
    }
    return counts;
}

void tst_Scene::framePacing_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<bool>("minimized");

    // Neither platform waits for a display's refresh: the output's 60 Hz must pace the frames.
    QTest::newRow("offscreen") << "offscreen" << false;
    QTest::newRow("xcb+GL") << "xcb" << false;
    QTest::newRow("xcb+software") << "xcb-software" << false;
    QTest::newRow("minimised, then shown") << "offscreen" << true;
}

// An animating client gets about one frame callback per refresh, however fast the compositor
// could draw; a minimised one gets none until it is shown.
void tst_Scene::framePacing()
{
    QFETCH(QString, platform);
    QFETCH(bool, minimized);

    CompositorFixture f;
    QVERIFY(writeProbeEntry(f,
                            minimized ? "X-DefaultRegion=main:left\nX-WindowState=MINIMIZED"
                                      : "X-DefaultRegion=main:left"));
    if (platform.startsWith(QLatin1String("xcb")) && !f.startXvfb())
        QSKIP("Xvfb is not available");
    if (platform == QLatin1String("xcb-software"))
        f.setCompositorEnvironment(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    QVERIFY2(startScene(f, QStringLiteral("main"), minimized), qPrintable(f.stderrText()));

    QProcess *probe
        = f.startClient(CompositorFixture::probePath(), { QStringLiteral("--animate") });
    if (minimized) {
        QTRY_VERIFY_WITH_TIMEOUT(framesPerSecond(f, probe).size() >= 3, 30000);
        QCOMPARE(framesPerSecond(f, probe).mid(1), QList<int>({ 0, 0 }));
        f.driverCommand(QStringLiteral("click 0"));
        QCOMPARE(regionOf(f, 0), QStringLiteral("left"));
    }
    const int before = framesPerSecond(f, probe).size();
    QTRY_VERIFY_WITH_TIMEOUT(framesPerSecond(f, probe).size() >= before + 4, 30000);
    // The first second may be cut by the start of the animation; a loaded machine may draw
    // fewer frames, never more.
    const QList<int> counts = framesPerSecond(f, probe).mid(before + 1);
    QStringList seen;
    for (int count : counts)
        seen << QString::number(count);
    const QByteArray message = "callbacks per second: " + seen.join(QLatin1Char(' ')).toUtf8();
    QVERIFY2(*std::max_element(counts.cbegin(), counts.cend()) <= 75, message.constData());
    QVERIFY2(*std::max_element(counts.cbegin(), counts.cend()) >= 30, message.constData());
}

QTEST_GUILESS_MAIN(tst_Scene)
#include "tst_scene.moc"
