// Real browsers from Debian in kiosk mode in the compositor under Xvfb, typed into with
// xdotool, or with touch on the on-screen keyboard (Qt's TUIO plugin). They take long to
// start, so the test carries the label "heavy" and CI runs it once.
#include "compositorfixture.h"
#include "onscreenkeys.h"
#include "tuiosender.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>

namespace {

const QByteArray wholeLayout = R"({"layouts": [{"id": "whole", "name": "Whole",
  "defaultRegion": "all",
  "regions": [{"id": "all", "name": "All", "x": 0, "y": 0, "width": 1, "height": 1, "regions": []}]
}]})";

// A text field with the focus; the page turns green once it holds exactly the word after the
// URL's "#" ("vorlane" without one), blue while it holds anything else. No automatic capitals:
// Chromium tells the text before the cursor one letter late, so every letter typed on the
// on-screen keyboard would seem to start the field and come as a capital.
const QByteArray typingPage = R"(<!DOCTYPE html>
<html><body style="margin:0;height:100vh;background:#ff0000">
<input id="field" autofocus autocapitalize="off" style="font-size:32px;width:300px">
<script>
const field = document.getElementById("field");
const word = decodeURIComponent(location.hash.slice(1)) || "vorlane";
field.focus();
field.addEventListener("input", () => {
  document.body.style.background = field.value === word ? "#00ff00" : "#0000ff";
});
</script></body></html>)";

// A point inside the region, below the text field and above the on-screen keyboard.
const QPoint pagePoint(600, 150);

bool xdotool(const CompositorFixture &f, const QStringList &args)
{
    return f.xdotool(args);
}

// The region area beside the quick bar, which takes the left 12 % of the 800 x 480 screen.
const QRectF area(96, 0, 704, 480);

bool isDark(const QColor &colour)
{
    return colour.isValid() && colour.lightness() < 100;
}

// The top of the on-screen keyboard: the first dark row below the red page at the area's right
// edge, where no text field is; 0 while the page does not end above a shown panel.
int panelTop(const CompositorFixture &f)
{
    const QImage frame = f.screenshot();
    if (frame.isNull())
        return 0;
    const int x = int(area.right()) - 4;
    for (int y = 1; y < area.bottom() - 50; ++y) {
        if (isDark(frame.pixelColor(x, y)))
            return frame.pixelColor(x, y - 1) == Qt::red
                    && isDark(frame.pixelColor(x, int(area.bottom()) - 2))
                ? y
                : 0;
    }
    return 0;
}

bool waitForColour(const CompositorFixture &f, const QColor &colour, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QImage frame = f.screenshot();
        if (!frame.isNull() && frame.pixelColor(pagePoint) == colour)
            return true;
        QTest::qWait(250);
    }
    return false;
}

} // namespace

class tst_Browsers : public QObject
{
    Q_OBJECT

private slots:
    void typesIntoAField_data();
    void typesIntoAField();
};

void tst_Browsers::typesIntoAField_data()
{
    QTest::addColumn<QString>("program");
    // Arguments before the page's URL; "%1" stands for a new profile directory.
    QTest::addColumn<QStringList>("arguments");
    // A variable set to 1 in the browser's environment, if any.
    QTest::addColumn<QString>("environment");
    // Typed into with touch on the on-screen keyboard instead of keys.
    QTest::addColumn<bool>("onScreen");

    // Firefox binds the seat twice and gets its keys on the second keyboard only.
    const QStringList firefox { QStringLiteral("--kiosk"), QStringLiteral("--new-instance"),
                                QStringLiteral("--profile"), QStringLiteral("%1") };
    QTest::newRow("firefox-esr") << QStringLiteral("firefox-esr") << firefox
                                 << QStringLiteral("MOZ_ENABLE_WAYLAND") << false;
    QTest::newRow("firefox-esr, on-screen keyboard")
        << QStringLiteral("firefox-esr") << firefox << QStringLiteral("MOZ_ENABLE_WAYLAND") << true;
    const QStringList chromium { QStringLiteral("--ozone-platform=wayland"),
                                 QStringLiteral("--kiosk"),
                                 QStringLiteral("--no-sandbox"),
                                 QStringLiteral("--no-first-run"),
                                 QStringLiteral("--disable-gpu"),
                                 QStringLiteral("--disable-background-networking"),
                                 QStringLiteral("--disable-component-update"),
                                 QStringLiteral("--disable-sync"),
                                 QStringLiteral("--user-data-dir=%1") };
    QTest::newRow("chromium") << QStringLiteral("chromium") << chromium << QString() << false;
    QTest::newRow("chromium, on-screen keyboard")
        << QStringLiteral("chromium") << chromium << QString() << true;
}

void tst_Browsers::typesIntoAField()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, environment);
    QFETCH(bool, onScreen);

    const QString browser = QStandardPaths::findExecutable(program);
    if (browser.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("setsid")).isEmpty())
        QSKIP(qPrintable(program + QStringLiteral(", xdotool and setsid are needed")));

    CompositorFixture f;
    QTemporaryDir profile;
    QVERIFY(f.isValid() && profile.isValid());
    QVERIFY(f.writeLayoutFile(QStringLiteral("whole.json"), wholeLayout));
    // Chromium's command is a script that starts the browser's executable.
    const QString executable = QFileInfo(program == QLatin1String("chromium")
                                             ? QStringLiteral("/usr/lib/chromium/chromium")
                                             : browser)
                                   .canonicalFilePath();
    QVERIFY(f.writeClientEntry(QStringLiteral("browser.desktop"), QStringLiteral("Browser"),
                               executable, QStringLiteral("X-DefaultRegion=whole:all")));
    QVERIFY(f.writeFile(QStringLiteral("typing.html"), typingPage));
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("whole"));
    QUrl page = QUrl::fromLocalFile(f.baseDir() + QStringLiteral("/typing.html"));
    const quint16 port = onScreen ? TuioSender::freePort() : 0;
    if (onScreen) {
        QVERIFY(port != 0);
        f.setSetting(QStringLiteral("Keyboard/Enabled"), QStringLiteral("1"));
        f.setCompositorEnvironment(QStringLiteral("QT_QPA_GENERIC_PLUGINS"),
                                   QStringLiteral("TuioTouch:udp=%1").arg(port));
        page.setFragment(QStringLiteral("hi"));
    }
    if (!f.startXvfb())
        QSKIP("Xvfb is not available");
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));

    // In a session of its own, so that its helper processes end with it.
    QMap<QString, QString> extraEnvironment;
    if (!environment.isEmpty())
        extraEnvironment.insert(environment, QStringLiteral("1"));
    QProcess *process = f.startClient(
        QStringLiteral("setsid"),
        QStringList { browser } + arguments.replaceInStrings(QStringLiteral("%1"), profile.path())
            + QStringList { page.toString() },
        extraEnvironment);
    const qint64 session = process->processId();
    const auto endBrowser = qScopeGuard([session] { ::kill(-pid_t(session), SIGKILL); });

    QVERIFY2(waitForColour(f, Qt::red, 120000), qPrintable(f.stderrText()));
    bool typed = false;
    if (onScreen) {
        TuioSender sender(port);
        QVERIFY(f.focusCompositorWindow());
        // The field with the focus asks for the keyboard and the page makes room for it; the
        // same top twice, in case the panel is still on its way in.
        int top = 0;
        QTRY_VERIFY_WITH_TIMEOUT((top = panelTop(f)) > 0 && panelTop(f) == top, 30000);
        const QRectF panel(area.left(), top, area.width(), area.bottom() - top);
        for (const char key : { 'h', 'i' }) {
            const QPointF point = onScreenKey(panel, key);
            QVERIFY(sender.tap(QPointF(point.x() / 800, point.y() / 480)));
        }
        typed = waitForColour(f, Qt::green, 15000);
    } else {
        // Keys go to the X window under the pointer on a server without window manager.
        QVERIFY(xdotool(f,
                        { QStringLiteral("mousemove"), QString::number(pagePoint.x()),
                          QString::number(pagePoint.y()) }));
        // Keys typed while the page still loads may be lost: then the field is emptied and
        // typed into again.
        for (int attempt = 0; attempt < 3 && !typed; ++attempt) {
            if (attempt > 0)
                QVERIFY(xdotool(f,
                                { QStringLiteral("key"), QStringLiteral("ctrl+a"),
                                  QStringLiteral("BackSpace") }));
            QVERIFY(xdotool(f,
                            { QStringLiteral("type"), QStringLiteral("--delay"),
                              QStringLiteral("100"), QStringLiteral("vorlane") }));
            typed = waitForColour(f, Qt::green, 15000);
        }
    }
    QVERIFY(typed);
    QVERIFY(f.compositorRunning());
}

QTEST_GUILESS_MAIN(tst_Browsers)
#include "tst_browsers.moc"
