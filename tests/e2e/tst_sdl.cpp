// An SDL 2 program in a region that is part of the screen, under Xvfb: SDL renders at the
// output's size in the full-screen state and obeys the size only when maximised, and it sends
// damage and damage_buffer in every commit, which Qt warns about once per frame.
#include "compositorfixture.h"
#include "halveslayout.h"

#include <QImage>
#include <QMap>
#include <QTest>

class tst_Sdl : public QObject
{
    Q_OBJECT

private slots:
    void fillsItsRegion();
};

void tst_Sdl::fillsItsRegion()
{
    CompositorFixture f;
    QVERIFY(HalvesLayout::prepare(f));
    QVERIFY(f.writeClientEntry(QStringLiteral("sdlfill.desktop"), QStringLiteral("SDL"),
                               QStringLiteral(VORLANE_SDLFILL_PATH),
                               QStringLiteral("X-DefaultRegion=main:left\n")));
    if (!f.startXvfb())
        QSKIP("Xvfb is not available");
    QVERIFY2(f.startAndWait(), qPrintable(f.stderrText()));

    QMap<QString, QString> environment { { QStringLiteral("SDL_VIDEODRIVER"),
                                           QStringLiteral("wayland") } };
    // Under the sanitizers, SDL's GL driver allocates too much to unwind each allocation fully
    // in time, and its leaks are not ours.
    const QString sanitizer = qEnvironmentVariable("ASAN_OPTIONS");
    if (!sanitizer.isEmpty())
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           sanitizer + QStringLiteral(":fast_unwind_on_malloc=1:detect_leaks=0"));
    QProcess *sdl = f.startClient(QStringLiteral(VORLANE_SDLFILL_PATH), {}, environment);
    const auto lastSize = [&] {
        QString size;
        for (const QString &line : f.clientLines(sdl)) {
            if (line.startsWith(QLatin1String("size ")))
                size = line.mid(5);
        }
        return size;
    };
    QTRY_COMPARE_WITH_TIMEOUT(lastSize(), HalvesLayout::leftSize, 30000);

    // Green from the region's top-left corner (beside the quick bar's edge) to the magenta
    // square in its bottom-right one: the whole frame, at the region's size, neither cut nor
    // scaled.
    const QRect region(96, 0, 352, 480);
    QImage frame;
    QTRY_VERIFY_WITH_TIMEOUT(
        (frame = f.screenshot(),
         !frame.isNull() && frame.pixelColor(region.topLeft() + QPoint(4, 4)) == QColor(0, 255, 0)
             && frame.pixelColor(region.bottomRight()) == QColor(255, 0, 255)
             && frame.pixelColor(region.bottomRight() - QPoint(20, 20)) == QColor(0, 255, 0)),
        30000);

    // Hundreds of frames, each one with both kinds of damage (SDL 2.26; later versions may send
    // one kind only): a few warnings at most.
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(sdl).contains(QStringLiteral("frames 300")), 60000);
    const int warnings = f.stderrCount(QStringLiteral("both wl_surface.damage_buffer and"));
    QVERIFY2(warnings <= 10, qPrintable(QString::number(warnings)));
    QVERIFY(f.compositorRunning());
}

QTEST_GUILESS_MAIN(tst_Sdl)
#include "tst_sdl.moc"
