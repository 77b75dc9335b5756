// Popups of real clients under Xvfb: whole on the screen above every region and the quick bar,
// moved back inside the screen as their positioner allows, closed by a press outside while
// grabbed, and destroyed only from the top.

#include "compositorfixture.h"
#include "halveslayout.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);
const QColor green(0, 255, 0);

} // namespace

class tst_Popups : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void wholeAboveEverything();
    void grabsAndOrder();

private:
    bool xdotool(const QStringList &args);
    // Probe A (red) in "left" (x 96..448) and probe B (blue) in "right" (x 448..800), both
    // drawing their popups green; false when they are not shown.
    bool startProbes();

    CompositorFixture *m_fixture = nullptr;
    QProcess *m_a = nullptr;
    QProcess *m_b = nullptr;
};

void tst_Popups::init()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs xdotool");
    m_fixture = new CompositorFixture;
}

void tst_Popups::cleanup()
{
    delete m_fixture;
    m_fixture = nullptr;
}

bool tst_Popups::xdotool(const QStringList &args)
{
    return m_fixture->xdotool(args);
}

bool tst_Popups::startProbes()
{
    CompositorFixture &f = *m_fixture;
    if (!HalvesLayout::prepare(f))
        return false;
    const QString probeB = f.copyProbe(QStringLiteral("probe-b"));
    if (probeB.isEmpty()
        || !f.writeClientEntry(QStringLiteral("b.desktop"), QStringLiteral("B"), probeB,
                               QStringLiteral("X-DefaultRegion=main:right\n")))
        return false;
    if (!f.startXvfb() || !f.startAndWait())
        return false;
    const QStringList common { QStringLiteral("--input"), QStringLiteral("--popup-color"),
                               QStringLiteral("00ff00"), QStringLiteral("--color") };
    m_a = f.startClient(CompositorFixture::probePath(), common + QStringList { "ff0000" });
    m_b = f.startClient(probeB, common + QStringList { "0000ff" });
    return QTest::qWaitFor(
        [&] {
            const QImage frame = f.screenshot();
            return !frame.isNull() && frame.pixelColor(200, 400) == red
                && frame.pixelColor(600, 400) == blue;
        },
        30000);
}

void tst_Popups::wholeAboveEverything()
{
    CompositorFixture &f = *m_fixture;
    QVERIFY2(startProbes(), qPrintable(f.stderrText()));

    // A's popup reaches over B's region, another over the quick bar (no adjustment allowed:
    // both stay where they were put, on the screen).
    m_a->write("popup 0 300 10 100 50 0\n");
    m_a->write("popup 0 -50 200 100 50 0\n");
    // B's popup at the screen's right edge slides back (x 300 of 352 becomes 252), its child
    // flips to the left of its anchor.
    m_b->write("popup 0 300 100 100 50 1\n");
    QTRY_VERIFY_WITH_TIMEOUT(
        f.clientLines(m_b).contains(QStringLiteral("popup-configure 0 252 100 100 50")), 30000);
    m_b->write("popup p0 90 10 100 50 4\n");
    QTRY_VERIFY_WITH_TIMEOUT(
        f.clientLines(m_b).contains(QStringLiteral("popup-configure 1 -9 10 100 50")), 30000);
    QCOMPARE(f.clientLines(m_a).filter(QStringLiteral("popup-configure")),
             QStringList({ QStringLiteral("popup-configure 0 300 10 100 50"),
                           QStringLiteral("popup-configure 1 -50 200 100 50") }));

    // Where each popup is on the screen, and what lies beside it.
    const struct
    {
        int x, y;
        QColor colour;
    } checks[] = {
        { 397, 12, green },  { 494, 58, green },  { 498, 35, blue }, // A's, over B's region
        { 47, 202, green },  { 144, 248, green }, { 40, 240, QColor() }, // over the quick bar
        { 701, 102, green }, { 798, 148, green }, { 698, 105, blue }, // B's, slid inside
        { 692, 158, green }, { 690, 158, blue }, // its child, flipped
    };
    QImage frame;
    QTRY_VERIFY_WITH_TIMEOUT((frame = f.screenshot(),
                              frame.pixelColor(798, 148) == green
                                  && frame.pixelColor(144, 248) == green
                                  && frame.pixelColor(692, 158) == green),
                             30000);
    for (const auto &check : checks) {
        const QColor actual = frame.pixelColor(check.x, check.y);
        const bool good = check.colour.isValid() ? actual == check.colour : actual != green;
        QVERIFY2(
            good,
            qPrintable(
                QStringLiteral("pixel %1,%2 is %3").arg(check.x).arg(check.y).arg(actual.name())));
    }

    // Unmapped and mapped again with the same wl_surface, as GTK 4 moves its popups: it shows
    // where it was put the second time, and the client stays connected.
    m_a->write("remap 0 320 30\n");
    QTRY_VERIFY_WITH_TIMEOUT(
        f.clientLines(m_a).contains(QStringLiteral("popup-configure 0 320 30 100 50")), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(
        (frame = f.screenshot(),
         frame.pixelColor(514, 78) == green && frame.pixelColor(400, 15) != green),
        30000);
    QVERIFY(f.clientLines(m_a).filter(QStringLiteral("protocol-error")).isEmpty());
    QVERIFY(!f.stderrContains(QStringLiteral("Not implemented")));
}

void tst_Popups::grabsAndOrder()
{
    CompositorFixture &f = *m_fixture;
    QVERIFY2(startProbes(), qPrintable(f.stderrText()));

    // A press outside a grabbing popup closes it and goes no further; a press on it reaches it.
    m_b->write("popup 0 10 10 100 50 0 grab\n");
    m_a->write("popup 0 10 10 100 50 0\n");
    QTRY_VERIFY_WITH_TIMEOUT(f.screenshot().pixelColor(500, 30) == green, 30000);
    QVERIFY(xdotool({ "mousemove", "500", "30", "click", "1" }));
    QVERIFY(xdotool({ "mousemove", "200", "300", "click", "1" }));
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(m_b).contains(QStringLiteral("popup-done 0")), 30000);
    QCOMPARE(f.clientLines(m_b).filter(QStringLiteral("button")),
             QStringList({ QStringLiteral("button -1 42 20 pressed"),
                           QStringLiteral("button -1 42 20 released") }));
    // A's popup took no grab and stays; the press that closed B's never reached A.
    QVERIFY(!f.clientLines(m_a).contains(QStringLiteral("popup-done 0")));
    QVERIFY(f.clientLines(m_a).filter(QStringLiteral("button")).isEmpty());
    m_b->write("unpopup 0\n");
    // Nothing to close now: a press goes to the client again.
    QVERIFY(xdotool({ "mousemove", "200", "300", "click", "1" }));
    QTRY_VERIFY_WITH_TIMEOUT(
        f.clientLines(m_a).contains(QStringLiteral("button 0 104 300 pressed")), 30000);

    // A popup destroyed before its child is a protocol error for that client alone.
    m_b->write("popup 0 10 10 100 50 0\n");
    m_b->write("popup p1 10 10 50 30 0\n");
    QTRY_VERIFY_WITH_TIMEOUT(
        f.clientLines(m_b).contains(QStringLiteral("popup-configure 2 10 10 50 30")), 30000);
    m_b->write("unpopup 1\n");
    QTRY_VERIFY_WITH_TIMEOUT(
        f.clientLines(m_b).contains(QStringLiteral("protocol-error xdg_wm_base 2")), 30000);
    QVERIFY(f.compositorRunning());
    m_a->write("unpopup 0\n");
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(m_a).contains(QStringLiteral("popup-destroyed 0")),
                             30000);
    QVERIFY(!f.stderrContains(QStringLiteral("Not implemented")));
}

QTEST_GUILESS_MAIN(tst_Popups)
#include "tst_popups.moc"
