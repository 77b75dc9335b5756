// The quick bar driven by real touch points: Qt's TUIO input plugin feeds what the test sends
// over UDP into the running compositor (Xvfb, xcb platform), upright and rotated.

#include "compositorfixture.h"
#include "tuiosender.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

const QByteArray layouts = R"({"layouts": [
  {"id": "main", "name": "Main", "defaultRegion": "left", "regions": [
    {"id": "left", "name": "Left", "x": 0, "y": 0, "width": 0.25, "height": 1, "regions": []},
    {"id": "right", "name": "Right", "x": 0.25, "y": 0, "width": 0.75, "height": 1, "regions": []}
  ]},
  {"id": "second", "name": "Second", "defaultRegion": "top", "regions": [
    {"id": "top", "name": "Top", "x": 0, "y": 0, "width": 1, "height": 0.5, "regions": []},
    {"id": "bottom", "name": "Bottom", "x": 0, "y": 0.5, "width": 1, "height": 0.5, "regions": []}
  ]}]})";

const QColor red(255, 0, 0);

// Points of the upright scene (800 x 480, or 480 x 800 when turned by 90 degrees) and where
// they land on the 800 x 480 screen. The bar on the left is 12 % of the scene's width with
// spacing a tenth of that; the 64 px header image makes the header 64 px high. In debug mode
// the 50 px layout selector stands on the address line (about 10 px at pixel size 8).
struct Scene
{
    int rotation = 0;

    QSizeF size() const { return rotation == 90 ? QSizeF(480, 800) : QSizeF(800, 480); }
    QPoint screen(const QPointF &p) const
    {
        return (rotation == 90 ? QPointF(800 - p.y(), p.x()) : p).toPoint();
    }
    QPointF touch(const QPointF &p) const
    {
        const QPoint s = screen(p);
        return QPointF(s.x() / 800.0, s.y() / 480.0);
    }
    qreal bar() const { return size().width() * 0.12; }
    QPointF element0() const
    {
        const qreal spacing = bar() / 10;
        return QPointF(bar() / 2, 64 + spacing / 2 + (bar() - 2 * spacing) / 2);
    }
    QPointF layoutSelector() const
    {
        return QPointF(bar() / 2, size().height() - 2 * bar() / 10 - 10 - 25);
    }
    QPointF listBelowElements() const { return QPointF(bar() / 2, size().height() * 0.6); }
    QPointF leftRegion() const
    {
        return QPointF(bar() + (size().width() - bar()) / 8, size().height() / 2);
    }
};

} // namespace

class tst_Touch : public QObject
{
    Q_OBJECT

private slots:
    void quickBar_data();
    void quickBar();
    void scaledWindowAndPopup();

private:
    QColor pixel(const QPoint &point);
    // Down and up at one point; the finger stays down for holdMs. A quick tap sends both at
    // once, so that a busy compositor cannot take it for a long press.
    void tap(const QPointF &position, int holdMs = 0);

    CompositorFixture *m_fixture = nullptr;
    TuioSender *m_sender = nullptr;
    Scene m_scene;
    int m_session = 0;
};

QColor tst_Touch::pixel(const QPoint &point)
{
    const QImage screen = m_fixture->screenshot();
    return screen.isNull() ? QColor() : screen.pixelColor(point);
}

void tst_Touch::tap(const QPointF &position, int holdMs)
{
    const int session = ++m_session;
    const QMap<int, QPointF> down { { session, m_scene.touch(position) } };
    QVERIFY(m_sender->frame(down));
    // A tracker repeats its frame while the finger rests.
    QDeadlineTimer held(holdMs);
    while (!held.hasExpired()) {
        QTest::qWait(qMin(50, int(held.remainingTime())));
        QVERIFY(m_sender->frame(down));
    }
    QVERIFY(m_sender->frame({}));
}

void tst_Touch::quickBar_data()
{
    QTest::addColumn<int>("rotation");
    QTest::newRow("upright") << 0;
    QTest::newRow("turned by 90 degrees") << 90;
}

void tst_Touch::quickBar()
{
    QFETCH(int, rotation);
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("needs Xvfb and xdotool");

    CompositorFixture f;
    m_fixture = &f;
    m_scene.rotation = rotation;
    QVERIFY(f.isValid());
    QVERIFY(f.writeLayoutFile(QStringLiteral("layouts.json"), layouts));
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("main"));
    f.setSetting(QStringLiteral("QuickBar/LabelSize"), QStringLiteral("8"));
    f.setSetting(QStringLiteral("QuickBar/HeaderImage"),
                 QStringLiteral("qrc:///Kestrix/Vorlane/Application/defaultClientIcon.gif"));
    const QString probe = f.copyProbe(QStringLiteral("probe-a"));
    QVERIFY(f.writeClientEntry(QStringLiteral("a.desktop"), QStringLiteral("A"), probe,
                               "X-DefaultRegion=main:left;second:top\nX-MinimizedMode=RUNNING"));
    const quint16 port = TuioSender::freePort();
    QVERIFY(port != 0);
    f.setCompositorEnvironment(QStringLiteral("QT_QPA_GENERIC_PLUGINS"),
                               QStringLiteral("TuioTouch:udp=%1").arg(port));
    QVERIFY(f.startXvfb());
    QVERIFY2(
        f.startAndWait({ QStringLiteral("-d"), QStringLiteral("-o"), QString::number(rotation) }),
        qPrintable(f.stderrText()));
    TuioSender sender(port);
    m_sender = &sender;
    QVERIFY(f.focusCompositorWindow());

    f.startClient(probe, { QStringLiteral("--color"), QStringLiteral("ff0000") });
    const QPoint left = m_scene.screen(m_scene.leftRegion());
    QTRY_COMPARE_WITH_TIMEOUT(pixel(left), red, 30000);

    // Two quick taps on the element: minimised and back in its region.
    const QString placed = QStringLiteral("placing client A in region left");
    QCOMPARE(f.stderrCount(placed), 1);
    tap(m_scene.element0());
    tap(m_scene.element0());
    QTRY_COMPARE_WITH_TIMEOUT(f.stderrCount(QStringLiteral("Element idx 0 clicked")), 2, 10000);
    QCOMPARE(f.stderrCount(placed), 2);

    // A long press opens the region selector over the client; a tap on the list below the
    // elements closes it: neither the double tap nor the long press left a finger behind. It
    // waits out the double-click interval, in which Qt Quick 6.8 makes a press a double click.
    QTest::qWait(600);
    tap(m_scene.element0(), 700);
    QTRY_VERIFY_WITH_TIMEOUT(pixel(left) != red, 10000);
    tap(m_scene.listBelowElements());
    QTRY_COMPARE_WITH_TIMEOUT(pixel(left), red, 10000);

    // Two quick taps on the layout selector: to the other layout and back.
    tap(m_scene.layoutSelector());
    tap(m_scene.layoutSelector());
    QTRY_COMPARE_WITH_TIMEOUT(f.stderrCount(placed), 3, 10000);
    QCOMPARE(f.stderrCount(QStringLiteral("placing client A in region top")), 1);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(left), red, 10000);
    QCOMPARE(f.stderrCount(QStringLiteral("Element idx 0 clicked")), 2);

    // Qt Quick names every input handler that still holds a finger lifted long ago.
    QVERIFY2(!f.stderrContains(QStringLiteral("neither canceled nor released")),
             qPrintable(f.stderrText()));
    QVERIFY2(f.compositorRunning(), qPrintable(f.stderrText()));
    m_sender = nullptr;
    m_fixture = nullptr;
}

// A window larger than its region is scaled down to fit: a touch reaches it through the scale,
// and a touch beside a grabbing popup closes the popup.
void tst_Touch::scaledWindowAndPopup()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("needs Xvfb and xdotool");

    CompositorFixture f;
    m_fixture = &f;
    m_scene.rotation = 0;
    QVERIFY(f.isValid());
    QVERIFY(f.writeLayoutFile(QStringLiteral("layouts.json"), layouts));
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("main"));
    QVERIFY(f.writeClientEntry(QStringLiteral("probe.desktop"), QStringLiteral("Probe"),
                               CompositorFixture::probePath(), "X-DefaultRegion=main:left"));
    const quint16 port = TuioSender::freePort();
    QVERIFY(port != 0);
    f.setCompositorEnvironment(QStringLiteral("QT_QPA_GENERIC_PLUGINS"),
                               QStringLiteral("TuioTouch:udp=%1").arg(port));
    QVERIFY(f.startXvfb());
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));
    TuioSender sender(port);
    m_sender = &sender;
    QVERIFY(f.focusCompositorWindow());

    // "left" is 176 px wide from x 96: 500x300 at 0.352 is 176x106, centred from y 187.
    QProcess *probe = f.startClient(CompositorFixture::probePath(),
                                    { QStringLiteral("--buffer"), QStringLiteral("500x300"),
                                      QStringLiteral("--input"), QStringLiteral("--color"),
                                      QStringLiteral("ff0000") });
    QTRY_COMPARE_WITH_TIMEOUT(pixel(QPoint(270, 290)), red, 30000);
    tap(QPointF(266, 237));
    QTRY_VERIFY2_WITH_TIMEOUT(f.clientLines(probe).contains(QStringLiteral("touch 0 483 142")),
                              qPrintable(f.clientLines(probe).join(u'|')), 10000);

    probe->write("popup 0 10 10 100 50 0 grab\n");
    QTRY_VERIFY_WITH_TIMEOUT(
        f.clientLines(probe).contains(QStringLiteral("popup-configure 0 10 10 100 50")), 10000);
    tap(QPointF(600, 400));
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(probe).contains(QStringLiteral("popup-done 0")), 10000);
    QVERIFY2(f.compositorRunning(), qPrintable(f.stderrText()));
    m_sender = nullptr;
    m_fixture = nullptr;
}

QTEST_GUILESS_MAIN(tst_Touch)

#include "tst_touch.moc"
