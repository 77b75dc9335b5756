// The panels driven as a user would: pointer input through the X server into the running
// compositor (Xvfb, xcb platform), with real Wayland clients, observed through the clients'
// configures, their process states and the screen's pixels.

#include "compositorfixture.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

// main: left quarter, middle half, right quarter. second: top and bottom halves.
const QByteArray layouts = R"({"layouts": [
  {"id": "main", "name": "Main", "defaultRegion": "left", "regions": [
    {"id": "left", "name": "Left", "x": 0, "y": 0, "width": 0.25, "height": 1, "regions": []},
    {"id": "middle", "name": "Middle", "x": 0.25, "y": 0, "width": 0.5, "height": 1, "regions": []},
    {"id": "right", "name": "Right", "x": 0.75, "y": 0, "width": 0.25, "height": 1, "regions": []}
  ]},
  {"id": "second", "name": "Second", "defaultRegion": "top", "regions": [
    {"id": "top", "name": "Top", "x": 0, "y": 0, "width": 1, "height": 0.5, "regions": []},
    {"id": "bottom", "name": "Bottom", "x": 0, "y": 0.5, "width": 1, "height": 0.5, "regions": []}
  ]}]})";

// Screen geometry of an 800x480 screen with the bar on the left at 12 %: the bar is 96 px wide
// with spacing 9.6; a 64 px header image makes the header 64 px high, so the list starts at
// 68.8 and element i is centred at 107.2 + 79.2 i. The layout selector (50 px high) ends 9.6
// above the bottom. The region selector's diagram spans x 116..780, y 20..460 in thirds.
QPoint elementCentre(int index)
{
    return QPoint(48, qRound(107.2 + 79.2 * index));
}
const QPoint layoutSelectorCentre(48, 445);
const QPoint middleDiagramArea(448, 240);

const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);

} // namespace

class tst_PanelInput : public QObject
{
    Q_OBJECT

private slots:
    void userStory();

private:
    bool xdotool(const QStringList &args);
    QColor pixel(const QPoint &point);
    QString m_display;
    CompositorFixture *m_fixture = nullptr;
};

bool tst_PanelInput::xdotool(const QStringList &args)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), args);
    return tool.waitForFinished(30000) && tool.exitCode() == 0;
}

QColor tst_PanelInput::pixel(const QPoint &point)
{
    const QImage screen = m_fixture->screenshot();
    return screen.isNull() ? QColor() : screen.pixelColor(point);
}

void tst_PanelInput::userStory()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("needs Xvfb and xdotool");

    CompositorFixture f;
    m_fixture = &f;
    QVERIFY(f.isValid());
    QVERIFY(f.writeLayoutFile(QStringLiteral("layouts.json"), layouts));
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("main"));
    f.setSetting(QStringLiteral("QuickBar/HeaderImage"),
                 QStringLiteral("qrc:///Kestrix/Vorlane/Application/defaultClientIcon.gif"));
    const QString probeA = f.copyProbe(QStringLiteral("probe-a"));
    const QString probeB = f.copyProbe(QStringLiteral("probe-b"));
    QVERIFY(f.writeClientEntry(QStringLiteral("a.desktop"), QStringLiteral("A"), probeA,
                               "X-DefaultRegion=main:left;second:top\nX-MinimizedMode=PAUSED"));
    QVERIFY(
        f.writeClientEntry(QStringLiteral("b.desktop"), QStringLiteral("B"), probeB,
                           "X-DefaultRegion=main:right;second:bottom\nX-MinimizedMode=RUNNING"));
    QVERIFY(f.startXvfb());
    m_display = f.display();
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));

    QProcess *a = f.startClient(probeA, { QStringLiteral("--color"), QStringLiteral("ff0000") });
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(a).contains(QStringLiteral("committed 0 176 480")),
                             30000);
    QProcess *b = f.startClient(probeB, { QStringLiteral("--color"), QStringLiteral("0000ff") });
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(b).contains(QStringLiteral("committed 0 176 480")),
                             30000);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(QPoint(184, 240)), red, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(QPoint(712, 240)), blue, 10000);

    // A tap on A's element minimises it; its process is stopped (minimised mode PAUSED).
    QVERIFY(xdotool({ QStringLiteral("mousemove"), QString::number(elementCentre(0).x()),
                      QString::number(elementCentre(0).y()), QStringLiteral("click"),
                      QStringLiteral("1") }));
    QTRY_COMPARE_WITH_TIMEOUT(CompositorFixture::processState(a->processId()), 'T', 10000);
    QTRY_VERIFY_WITH_TIMEOUT(pixel(QPoint(184, 240)) != red, 10000);
    QCOMPARE(pixel(QPoint(712, 240)), blue);

    // A second tap brings it back to its region and continues it.
    QVERIFY(xdotool({ QStringLiteral("click"), QStringLiteral("1") }));
    QTRY_VERIFY_WITH_TIMEOUT(CompositorFixture::processState(a->processId()) != 'T', 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(QPoint(184, 240)), red, 10000);

    // A long press opens the region selector; a tap on the middle area places A there. The press
    // waits out the double-click interval, or it would count as a second click of the last tap.
    QTest::qWait(500);
    QVERIFY(xdotool({ QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("sleep"),
                      QStringLiteral("0.6"), QStringLiteral("mouseup"), QStringLiteral("1") }));
    QVERIFY(xdotool({ QStringLiteral("mousemove"), QString::number(middleDiagramArea.x()),
                      QString::number(middleDiagramArea.y()), QStringLiteral("click"),
                      QStringLiteral("1") }));
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(a).contains(QStringLiteral("committed 0 352 480")),
                             10000);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(QPoint(448, 240)), red, 10000);
    QVERIFY(pixel(QPoint(184, 240)) != red);
    QCOMPARE(pixel(QPoint(712, 240)), blue);

    // The layout selector (two layouts) switches to "second": both surfaces follow.
    QVERIFY(xdotool({ QStringLiteral("mousemove"), QString::number(layoutSelectorCentre.x()),
                      QString::number(layoutSelectorCentre.y()), QStringLiteral("click"),
                      QStringLiteral("1") }));
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(a).contains(QStringLiteral("committed 0 704 240")),
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(b).contains(QStringLiteral("committed 0 704 240")),
                             10000);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(QPoint(448, 120)), red, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(QPoint(448, 360)), blue, 10000);

    // And back: A returns to the middle, where it last was in "main".
    QVERIFY(xdotool({ QStringLiteral("click"), QStringLiteral("1") }));
    QTRY_COMPARE_WITH_TIMEOUT(pixel(QPoint(448, 240)), red, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(QPoint(712, 240)), blue, 10000);
    QVERIFY2(f.compositorRunning(), qPrintable(f.stderrText()));
    m_fixture = nullptr;
}

QTEST_GUILESS_MAIN(tst_PanelInput)

#include "tst_panelinput.moc"
