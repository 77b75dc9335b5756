// Real browsers from Debian in kiosk mode in the compositor under Xvfb, typed into with
// xdotool. They take long to start, so the test carries the label "heavy" and CI runs it once.
#include "compositorfixture.h"

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

// A text field with the focus; the page turns green once it holds exactly what was typed,
// blue while it holds anything else.
const QByteArray typingPage = R"(<!DOCTYPE html>
<html><body style="margin:0;height:100vh;background:#ff0000">
<input id="field" autofocus style="font-size:32px;width:300px">
<script>
const field = document.getElementById("field");
field.focus();
field.addEventListener("input", () => {
  document.body.style.background = field.value === "vorlane" ? "#00ff00" : "#0000ff";
});
</script></body></html>)";

// A point inside the region, below the text field.
const QPoint pagePoint(600, 400);

bool xdotool(const CompositorFixture &f, const QStringList &args)
{
    return f.xdotool(args);
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

    // Firefox binds the seat twice and gets its keys on the second keyboard only.
    QTest::newRow("firefox-esr") << QStringLiteral("firefox-esr")
                                 << QStringList { QStringLiteral("--kiosk"),
                                                  QStringLiteral("--new-instance"),
                                                  QStringLiteral("--profile"),
                                                  QStringLiteral("%1") }
                                 << QStringLiteral("MOZ_ENABLE_WAYLAND");
    QTest::newRow("chromium") << QStringLiteral("chromium")
                              << QStringList { QStringLiteral("--ozone-platform=wayland"),
                                               QStringLiteral("--kiosk"),
                                               QStringLiteral("--no-sandbox"),
                                               QStringLiteral("--no-first-run"),
                                               QStringLiteral("--disable-gpu"),
                                               QStringLiteral("--disable-background-networking"),
                                               QStringLiteral("--disable-component-update"),
                                               QStringLiteral("--disable-sync"),
                                               QStringLiteral("--user-data-dir=%1") }
                              << QString();
}

void tst_Browsers::typesIntoAField()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, environment);

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
            + QStringList { QUrl::fromLocalFile(f.baseDir() + QStringLiteral("/typing.html"))
                                .toString() },
        extraEnvironment);
    const qint64 session = process->processId();
    const auto endBrowser = qScopeGuard([session] { ::kill(-pid_t(session), SIGKILL); });

    QVERIFY2(waitForColour(f, Qt::red, 120000), qPrintable(f.stderrText()));
    // Keys go to the X window under the pointer on a server without window manager.
    QVERIFY(xdotool(f,
                    { QStringLiteral("mousemove"), QString::number(pagePoint.x()),
                      QString::number(pagePoint.y()) }));
    // Keys typed while the page still loads may be lost: then the field is emptied and typed
    // into again.
    bool typed = false;
    for (int attempt = 0; attempt < 3 && !typed; ++attempt) {
        if (attempt > 0)
            QVERIFY(xdotool(
                f,
                { QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("BackSpace") }));
        QVERIFY(xdotool(f,
                        { QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("100"),
                          QStringLiteral("vorlane") }));
        typed = waitForColour(f, Qt::green, 15000);
    }
    QVERIFY(typed);
    QVERIFY(f.compositorRunning());
}

QTEST_GUILESS_MAIN(tst_Browsers)
#include "tst_browsers.moc"
