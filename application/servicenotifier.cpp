#include "servicenotifier.h"

#include <QCoreApplication>
#include <QDebug>
#include <QQuickWindow>

#ifdef VORLANE_HAVE_LIBSYSTEMD
#include <systemd/sd-daemon.h>
#endif

#include <unistd.h>

namespace Vorlane {

namespace {

void notify(const char *state)
{
#ifdef VORLANE_HAVE_LIBSYSTEMD
    sd_notify(0, state);
#else
    Q_UNUSED(state);
#endif
}

} // namespace

ServiceNotifier::ServiceNotifier(QObject *parent)
    : QObject(parent)
{
    const qint64 usec = watchdogUsec();
    if (usec > 0) {
        // Half the interval, so that one late ping is not yet a missed one.
        m_watchdog.setInterval(int(qBound(qint64(1), usec / 2000, qint64(3600 * 1000))));
        connect(&m_watchdog, &QTimer::timeout, this, &ServiceNotifier::ping);
        m_watchdog.start();
    }
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &ServiceNotifier::stopping);
}

ServiceNotifier::~ServiceNotifier() = default;

qint64 ServiceNotifier::watchdogUsec()
{
    bool ok = false;
    const qint64 usec = qgetenv("WATCHDOG_USEC").toLongLong(&ok);
    if (!ok || usec <= 0)
        return 0;
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    if (!pid.isEmpty() && pid.toLongLong() != ::getpid())
        return 0;
    return usec;
}

void ServiceNotifier::readyAfterFirstFrame(QQuickWindow *window)
{
    if (!window) {
        qWarning() << "No output window found; reporting readiness without waiting for a frame";
        ready();
        return;
    }
    // frameSwapped comes from the render thread when there is one.
    m_firstFrame = connect(window, &QQuickWindow::frameSwapped, this, &ServiceNotifier::ready,
                           Qt::QueuedConnection);
}

void ServiceNotifier::ready()
{
    disconnect(m_firstFrame);
    if (m_ready)
        return;
    m_ready = true;
    notify("READY=1");
}

void ServiceNotifier::ping()
{
    notify("WATCHDOG=1");
}

void ServiceNotifier::stopping()
{
    notify("STOPPING=1");
}

} // namespace Vorlane
