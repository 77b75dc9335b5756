#ifndef VORLANE_SERVICENOTIFIER_H
#define VORLANE_SERVICENOTIFIER_H

#include <QMetaObject>
#include <QObject>
#include <QTimer>

class QQuickWindow;

namespace Vorlane {

// Talks to systemd when it runs the program as a service (NOTIFY_SOCKET): readiness once the
// output window has drawn its first frame, watchdog pings from the event loop while
// WATCHDOG_USEC asks for them, and the start of shut-down. Without a service manager it does
// nothing.
class ServiceNotifier : public QObject
{
    Q_OBJECT

public:
    explicit ServiceNotifier(QObject *parent = nullptr);
    ~ServiceNotifier() override;

    // Reports readiness after the window's first frame; at once when there is no window.
    void readyAfterFirstFrame(QQuickWindow *window);
    // The watchdog interval systemd asked for, or 0.
    static qint64 watchdogUsec();

private slots:
    void ready();
    void ping();
    void stopping();

private:
    QTimer m_watchdog;
    QMetaObject::Connection m_firstFrame;
    bool m_ready = false;
};

} // namespace Vorlane

#endif // VORLANE_SERVICENOTIFIER_H
