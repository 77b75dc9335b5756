// The on-screen keyboard with real clients under Xvfb, driven by real touch points (Qt's TUIO
// plugin): a tap on a text field shows the panel, taps on its keys type into the client, and
// the panel goes when the field loses the focus; meanwhile the client is sized to the area
// above the panel. Beside it, a careless text-input v3 client against the compositor.

#include "compositorfixture.h"
#include "onscreenkeys.h"
#include "tuiosender.h"

#include <algorithm>

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

namespace {

const QByteArray layouts = R"({"layouts": [
  {"id": "main", "name": "Main", "defaultRegion": "full", "regions": [
    {"id": "full", "name": "Full", "x": 0, "y": 0, "width": 1, "height": 1, "regions": []}]}]})";

// A Qt Quick window (text-input v2) with a text field at the top and a button below it; it
// prints its size and its text whenever they change.
const QByteArray qtClient = R"(import QtQuick
import QtQuick.Controls
Window {
    visible: true
    color: "white"
    onWidthChanged: console.log("size " + width + " " + height)
    onHeightChanged: console.log("size " + width + " " + height)
    Column {
        TextField { width: 300; height: 40; onTextChanged: console.log("text:" + text) }
        Button { width: 300; height: 40; text: "other"; focusPolicy: Qt.StrongFocus }
    }
}
)";

// The same with GTK 3 (text-input v3).
const QByteArray gtkClient = R"(import gi, sys
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
window = Gtk.Window()
# No title bar of its own, which GTK draws when it is maximised: the entry stays at the top.
window.set_decorated(False)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
entry = Gtk.Entry()
entry.set_size_request(300, 40)
entry.connect("changed", lambda e: print("text:" + e.get_text(), flush=True))
box.pack_start(entry, False, False, 0)
button = Gtk.Button(label="other")
button.set_size_request(300, 40)
box.pack_start(button, False, False, 0)
window.add(box)
# GTK would give the focus to the entry, which asks for the keyboard at once.
window.set_focus(button)
window.connect("size-allocate", lambda w, a: print("size %d %d" % (a.width, a.height), flush=True))
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
)";

// The same with GTK 4, whose windows have no size-allocate signal: a drawing area under the
// fields fills the window and reports each size it is given.
const QByteArray gtk4Client = R"(import gi
gi.require_version("Gtk", "4.0")
from gi.repository import GLib, Gtk
window = Gtk.Window(decorated=False)
area = Gtk.DrawingArea()
area.connect("resize", lambda a, width, height: print("size %d %d" % (width, height), flush=True))
overlay = Gtk.Overlay(child=area)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, valign=Gtk.Align.START)
entry = Gtk.Entry()
entry.set_size_request(300, 40)
entry.connect("changed", lambda e: print("text:" + e.get_text(), flush=True))
box.append(entry)
button = Gtk.Button(label="other")
button.set_size_request(300, 40)
box.append(button)
overlay.add_overlay(box)
overlay.set_measure_overlay(box, True)
window.set_child(overlay)
window.set_focus(button)
loop = GLib.MainLoop()
window.connect("close-request", lambda w: loop.quit())
window.present()
loop.run()
)";

// The region area of the upright scene (800 x 480, or 480 x 800 when turned by 90 degrees)
// with the quick bar on the left at 12 %.
QRectF sceneArea(int rotation)
{
    return rotation == 90 ? QRectF(57.6, 0, 422.4, 800) : QRectF(96, 0, 704, 480);
}

bool isDark(const QColor &color)
{
    return color.isValid() && color.lightness() < 100;
}

// One whole-screen region for the text-input probe, with the keyboard on.
bool prepareProbe(CompositorFixture &f, const QString &probe)
{
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("main"));
    f.setSetting(QStringLiteral("Keyboard/Enabled"), QStringLiteral("1"));
    return f.isValid() && f.writeLayoutFile(QStringLiteral("layouts.json"), layouts)
        && f.writeClientEntry(QStringLiteral("probe.desktop"), QStringLiteral("Probe"), probe,
                              "X-DefaultRegion=main:full");
}

} // namespace

class tst_OnScreenKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void typing_data();
    void typing();
    void careless();
    void dialog();
    void off_data();
    void off();

private:
    // Where a point of the upright scene is on the 800 x 480 screen.
    QPoint screen(const QPointF &scene) const;
    void tap(const QPointF &scene);
    // The client's last "size W H" line as a size, invalid without one.
    QSize clientSize(QProcess *client);
    QString clientText(QProcess *client);
    QColor pixel(const QPointF &scene);
    // True when the bottom of the region area shows the dark panel, both at its bottom edge and
    // just below the client.
    bool panelShown(int clientHeight);

    CompositorFixture *m_fixture = nullptr;
    TuioSender *m_sender = nullptr;
    int m_rotation = 0;
    QRectF m_area;
};

QPoint tst_OnScreenKeyboard::screen(const QPointF &scene) const
{
    return (m_rotation == 90 ? QPointF(800 - scene.y(), scene.x()) : scene).toPoint();
}

void tst_OnScreenKeyboard::tap(const QPointF &scene)
{
    const QPoint point = screen(scene);
    QVERIFY(m_sender->tap(QPointF(point.x() / 800.0, point.y() / 480.0)));
}

QSize tst_OnScreenKeyboard::clientSize(QProcess *client)
{
    static const QRegularExpression line(QStringLiteral("^(?:qml: )?size (\\d+) (\\d+)$"));
    const QStringList lines = m_fixture->clientLines(client);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const auto match = line.match(*it);
        if (match.hasMatch())
            return QSize(match.captured(1).toInt(), match.captured(2).toInt());
    }
    return QSize();
}

QString tst_OnScreenKeyboard::clientText(QProcess *client)
{
    const QStringList lines = m_fixture->clientLines(client);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const int at = it->indexOf(QLatin1String("text:"));
        if (at >= 0 && at <= 5)
            return it->mid(at + 5);
    }
    return QString();
}

QColor tst_OnScreenKeyboard::pixel(const QPointF &scene)
{
    const QImage image = m_fixture->screenshot();
    return image.isNull() ? QColor() : image.pixelColor(screen(scene));
}

bool tst_OnScreenKeyboard::panelShown(int clientHeight)
{
    const QImage image = m_fixture->screenshot();
    if (image.isNull() || clientHeight >= m_area.height())
        return false;
    const qreal x = m_area.center().x();
    return isDark(image.pixelColor(screen(QPointF(x, clientHeight + 4))))
        && isDark(image.pixelColor(screen(QPointF(x, m_area.bottom() - 2))));
}

void tst_OnScreenKeyboard::typing_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<int>("rotation");

    // The qml tool prints to standard error, which the fixture does not read.
    QTest::newRow("Qt Quick, text-input v2")
        << QStringLiteral("/usr/lib/qt6/bin/qml") << QStringLiteral("exec %1 %2 2>&1") << qtClient
        << QStringLiteral("QT_QPA_PLATFORM=wayland") << 0;
    QTest::newRow("GTK 3, text-input v3")
        << QStringLiteral("/usr/bin/python3") << QStringLiteral("exec %1 %2") << gtkClient
        << QStringLiteral("GDK_BACKEND=wayland") << 0;
    QTest::newRow("GTK 4, text-input v3")
        << QStringLiteral("/usr/bin/python3") << QStringLiteral("exec %1 %2") << gtk4Client
        << QStringLiteral("GDK_BACKEND=wayland") << 0;
    QTest::newRow("Qt Quick, turned by 90 degrees")
        << QStringLiteral("/usr/lib/qt6/bin/qml") << QStringLiteral("exec %1 %2 2>&1") << qtClient
        << QStringLiteral("QT_QPA_PLATFORM=wayland") << 90;
}

void tst_OnScreenKeyboard::typing()
{
    QFETCH(QString, program);
    QFETCH(QString, command);
    QFETCH(QByteArray, source);
    QFETCH(QString, environment);
    QFETCH(int, rotation);
    m_rotation = rotation;
    m_area = sceneArea(rotation);
    const QSize areaSize(qRound(m_area.width()), qRound(m_area.height()));
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("needs Xvfb and xdotool");
    if (!QFileInfo::exists(program))
        QSKIP(qPrintable(program + QStringLiteral(" is not installed")));
    const QString gtkVersion = source == gtkClient ? QStringLiteral("3.0")
        : source == gtk4Client                     ? QStringLiteral("4.0")
                                                   : QString();
    if (!gtkVersion.isEmpty()
        && QProcess::execute(
               program,
               { QStringLiteral("-c"),
                 QStringLiteral("import gi; gi.require_version('Gtk', '%1')").arg(gtkVersion) })
            != 0)
        QSKIP(qPrintable(QStringLiteral("needs python3-gi and gir1.2-gtk-%1").arg(gtkVersion)));

    CompositorFixture f;
    m_fixture = &f;
    QVERIFY(f.isValid());
    QVERIFY(f.writeLayoutFile(QStringLiteral("layouts.json"), layouts));
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("main"));
    f.setSetting(QStringLiteral("Keyboard/Enabled"), QStringLiteral("1"));
    const QString script = f.baseDir() + QStringLiteral("/client");
    QVERIFY(f.writeFile(QStringLiteral("client"), source));
    // The registry knows a client by the file its process runs.
    QVERIFY(f.writeClientEntry(QStringLiteral("client.desktop"), QStringLiteral("Client"),
                               QFileInfo(program).canonicalFilePath(),
                               "X-DefaultRegion=main:full"));
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

    const QString variable = environment.section(QLatin1Char('='), 0, 0);
    QProcess *client = f.startClient(QStringLiteral("/bin/sh"),
                                     { QStringLiteral("-c"), command.arg(program, script) },
                                     { { variable, environment.section(QLatin1Char('='), 1) } });
    QTRY_COMPARE_WITH_TIMEOUT(clientSize(client), areaSize, 30000);
    // Drawn at that size: a smaller picture would be centred, with black around it, and the
    // tap would miss the field.
    QTRY_VERIFY_WITH_TIMEOUT(pixel(QPointF(m_area.right() - 2, 150)).lightness() > 200, 10000);

    // A tap on the field: the panel slides in and the client shrinks to the area above it.
    tap(m_area.topLeft() + QPointF(150, 20));
    QTRY_VERIFY_WITH_TIMEOUT(clientSize(client).height() < areaSize.height() - 50, 10000);
    const QSize typing = clientSize(client);
    QCOMPARE(typing.width(), areaSize.width());
    QVERIFY2(typing.height() > areaSize.height() / 3, qPrintable(QString::number(typing.height())));
    QTRY_VERIFY_WITH_TIMEOUT(panelShown(typing.height()), 10000);

    // A key of a real keyboard still reaches the client.
    QVERIFY(f.xdotool({ QStringLiteral("key"), QStringLiteral("o") }));
    QTRY_COMPARE_WITH_TIMEOUT(clientText(client), QStringLiteral("o"), 10000);

    // Taps on h, i and the space bar of the panel below the client.
    const QRectF panel(m_area.left(), typing.height(), m_area.width(),
                       m_area.height() - typing.height());
    tap(onScreenKey(panel, 'h'));
    tap(onScreenKey(panel, 'i'));
    tap(onScreenKey(panel, ' '));
    QTRY_COMPARE_WITH_TIMEOUT(clientText(client).trimmed().toLower(), QStringLiteral("ohi"), 10000);

    // The focus moves to the button: the panel goes and the client has its whole area again.
    tap(m_area.topLeft() + QPointF(150, 60));
    QTRY_COMPARE_WITH_TIMEOUT(clientSize(client), areaSize, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!panelShown(typing.height()), 10000);
    QVERIFY2(f.compositorRunning(), qPrintable(f.stderrText()));
    m_sender = nullptr;
    m_fixture = nullptr;
}

// Enable without the focus, commit without enable, long surrounding text with positions
// outside it, the text input and then the surface destroyed while text input is enabled, and
// requests on a text input whose surface is gone: the panel follows, the compositor stays.
void tst_OnScreenKeyboard::careless()
{
    CompositorFixture f;
    const QString probe = QStringLiteral(VORLANE_TEXTINPUTPROBE_PATH);
    QVERIFY(prepareProbe(f, probe));
    QVERIFY2(f.startAndWait({ QStringLiteral("-d") }), qPrintable(f.stderrText()));

    // The probe's own leaks (what it leaves to the end of the connection) are not in question.
    QProcess *client = f.startClient(
        probe, {}, { { QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0") } });
    QVERIFY(client->waitForFinished(60000));
    const QStringList lines = f.clientLines(client);
    QVERIFY2(client->exitStatus() == QProcess::NormalExit && client->exitCode() == 0,
             qPrintable(lines.join(QLatin1Char('\n')) + client->readAllStandardError()));
    QCOMPARE(lines.filter(QStringLiteral("step ")).size(), 7);

    const auto panel = [&f] {
        QStringList events;
        for (const QString &line : f.stderrLines()) {
            if (line.endsWith(QLatin1String("OnScreenKeyboard: shown"))
                || line.endsWith(QLatin1String("OnScreenKeyboard: hidden")))
                events << line.section(QLatin1String("OnScreenKeyboard: "), 1);
        }
        return events;
    };
    // Shown for the enabled text input and hidden when it is destroyed; shown again for the
    // second and hidden with the surface.
    QTRY_COMPARE_WITH_TIMEOUT(panel(), QStringList({ "shown", "hidden", "shown", "hidden" }),
                              10000);
    QVERIFY2(f.compositorRunning(), qPrintable(f.stderrText()));
}

// A dialog that wants text stays whole above the panel, though it is centred over a window whose
// area reaches below the panel's top.
void tst_OnScreenKeyboard::dialog()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("needs Xvfb");
    CompositorFixture f;
    const QString probe = QStringLiteral(VORLANE_TEXTINPUTPROBE_PATH);
    QVERIFY(prepareProbe(f, probe));
    QVERIFY(f.startXvfb());
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));
    QProcess *client
        = f.startClient(probe, { QStringLiteral("--dialog") },
                        { { QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0") } });

    // The panel at the bottom (dark, where the region's fill is black), and all of the dialog's
    // 300 x 150 green pixels above it.
    const auto whole = [&f] {
        const QImage image = f.screenshot();
        const QColor bottom = image.isNull() ? QColor() : image.pixelColor(450, 478);
        if (!isDark(bottom) || bottom == QColor(Qt::black))
            return false;
        const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        int green = 0;
        for (int y = 0; y < rgb.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
            green += int(std::count(line, line + rgb.width(), qRgb(0, 255, 0)));
        }
        return green == 300 * 150;
    };
    // Each look takes a screenshot: bounded by time, not by a count of looks.
    QDeadlineTimer deadline(30000);
    bool seen = whole();
    while (!seen && !deadline.hasExpired()) {
        QTest::qWait(100);
        seen = whole();
    }
    QVERIFY2(seen,
             qPrintable(f.clientLines(client).join(QLatin1Char('\n'))
                        + QString::fromLocal8Bit(client->readAllStandardError())));
    QTRY_VERIFY(f.clientLines(client).contains(QStringLiteral("step enabled")));
}

void tst_OnScreenKeyboard::off_data()
{
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<QString>("inputMethod");
    QTest::addColumn<QString>("message");

    QTest::newRow("switched off") << QStringLiteral("0") << QString() << QString();
    QTest::newRow("another input method")
        << QStringLiteral("1") << QStringLiteral("compose")
        << QStringLiteral("The input method compose is chosen by QT_IM_MODULE; the on-screen "
                          "keyboard is off");
}

// Without the keyboard the compositor offers no text input at all, and says why when the
// setting wanted it.
void tst_OnScreenKeyboard::off()
{
    QFETCH(QString, enabled);
    QFETCH(QString, inputMethod);
    QFETCH(QString, message);

    CompositorFixture f;
    QVERIFY(f.isValid());
    QVERIFY(f.writeLayoutFile(QStringLiteral("layouts.json"), layouts));
    f.setSetting(QStringLiteral("Keyboard/Enabled"), enabled);
    if (!inputMethod.isEmpty())
        f.setCompositorEnvironment(QStringLiteral("QT_IM_MODULE"), inputMethod);
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));

    QProcess *client
        = f.startClient(QStringLiteral(VORLANE_TEXTINPUTPROBE_PATH), {},
                        { { QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0") } });
    QVERIFY(client->waitForFinished(30000));
    QCOMPARE(client->exitCode(), 1);
    QVERIFY(client->readAllStandardError().contains("no zwp_text_input_manager_v3"));
    if (!message.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(f.stderrCount(message), 1, 10000);
    QVERIFY2(f.compositorRunning(), qPrintable(f.stderrText()));
}

QTEST_GUILESS_MAIN(tst_OnScreenKeyboard)

#include "tst_onscreenkeyboard.moc"
