#include "memorytrim.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTimer>

#include <malloc.h>

namespace Vorlane {

namespace {

// Long enough that an animation or a burst of client frames does not trim between its frames.
constexpr int STILL_MS = 2000;

// One allocator arena for the whole program, set before any thread starts: the QML loader thread
// allocates little, and an arena of its own would keep pages that the display thread cannot use.
const int singleArena = ::mallopt(M_ARENA_MAX, 1);

void trim(QQmlEngine &engine)
{
    engine.trimComponentCache();
    engine.collectGarbage();
    // Objects the collection released are deleted later in this turn of the event loop.
    QTimer::singleShot(0, &engine, [] { ::malloc_trim(0); });
}

} // namespace

void trimMemoryWhenIdle(QQmlEngine &engine)
{
    auto *timer = new QTimer(&engine);
    timer->setSingleShot(true);
    timer->setInterval(STILL_MS);
    QObject::connect(timer, &QTimer::timeout, &engine, [&engine] { trim(engine); });
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (QWindow *window : windows) {
        if (auto *quickWindow = qobject_cast<QQuickWindow *>(window))
            QObject::connect(quickWindow, &QQuickWindow::afterFrameEnd, timer,
                             qOverload<>(&QTimer::start));
    }
    timer->start();
}

} // namespace Vorlane
