#include "configuration.h"
#include "framepacer.h"
#include "hooks/connectionacceptor.h"
#include "hooks/eventfilter.h"
#include "hooks/hookcheck.h"
#include "hooks/keyboardfanout.h"
#include "hooks/protocolguard.h"
#include "hooks/shmguard.h"
#include "hooks/waylandsocket.h"
#include "logthrottle.h"
#include "manager.h"
#include "memorytrim.h"
#include "onscreenkeyboard.h"
#include "servicenotifier.h"
#include "textinputfocus.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QUrl>
#include <QWaylandCompositor>
#include <QWaylandOutput>
#include <QWaylandQuickOutput>

#include <fcntl.h>
#include <memory>

namespace {

// On a bare device nothing names a platform, and Qt's default (xcb) would abort for want of a
// display; choose one that can run there instead.
void chooseDefaultPlatform(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            return;
    }
    const bool hasDrm = !QDir(QStringLiteral("/dev/dri"))
                             .entryList({ QStringLiteral("card*") }, QDir::System)
                             .isEmpty();
    const QByteArray platform = hasDrm ? "eglfs" : "offscreen";
    qputenv("QT_QPA_PLATFORM", platform);
    qInfo() << "No display configured, using the platform" << platform.constData();
}

QQuickWindow *outputWindow(const QQmlApplicationEngine &engine)
{
    const QList<QObject *> roots = engine.rootObjects();
    for (QObject *root : roots) {
        auto *compositor = qobject_cast<QWaylandCompositor *>(root);
        if (compositor && compositor->defaultOutput())
            return qobject_cast<QQuickWindow *>(compositor->defaultOutput()->window());
    }
    return nullptr;
}

// Clients reach the compositor through the socket the launcher opened: through the acceptor
// when the hand-over took effect, else through libwayland's own accepting. Programs that the
// compositor starts find it through WAYLAND_DISPLAY.
void serveSocket(QWaylandCompositor *compositor, const Vorlane::ConnectionAcceptor &acceptor,
                 const Vorlane::WaylandSocket *socket)
{
    if (!socket || !socket->isOpen()) {
        qputenv("WAYLAND_DISPLAY", compositor->socketName());
        return;
    }
    if (!acceptor.isAttached()) {
        Vorlane::HookCheck::reportIneffective(
            "Qt opened a Wayland socket without taking the program's",
            "Qt serves the program's socket itself, without the limits on connections per "
            "process");
        compositor->addSocketDescriptor(::fcntl(socket->fd(), F_DUPFD_CLOEXEC, 0));
    }
    qputenv("WAYLAND_DISPLAY", QByteArray::fromStdString(socket->name()));
}

void checkHooks(bool guardWorks)
{
    using Vorlane::HookCheck::reportIneffective;
    if (!guardWorks)
        reportIneffective("libwayland does not show the protocol guard each request before Qt",
                          "requests that crash Qt Wayland Compositor are not refused");
    if (!Vorlane::ShmGuard::inEffect())
        reportIneffective("Qt reads client buffers without passing the shared-memory guard",
                          "a client that truncates a buffer in use can crash the compositor");
    if (!Vorlane::EventFilter::inEffect())
        reportIneffective("Qt sends events past the version filter",
                          "clients that bound an old version may get events they cannot handle");
}

} // namespace

// Called by the program's launcher (launcher.cpp) once it listens on the Wayland socket.
extern "C" Q_DECL_EXPORT int vorlane_application_main(int argc, char *argv[],
                                                      Vorlane::WaylandSocket *waylandSocket)
{
    Vorlane::LogThrottle::install();
    chooseDefaultPlatform(argc, argv);
    // The input method is chosen when the application is made.
    const bool onScreenKeyboard = Vorlane::OnScreenKeyboard::prepare(
        Vorlane::Configuration(Vorlane::OnScreenKeyboard::configFileArgument(argc, argv)));
    QGuiApplication app(argc, argv);
    // The platform has connected to the session it runs in, if any. Qt 6.8 would open a socket
    // of that name for the compositor; without one it asks for any, which the program hands
    // over (hooks/connectionacceptor.cpp) or, failing that, can still serve itself.
    qunsetenv("WAYLAND_DISPLAY");
    Vorlane::ShmGuard shmGuard; // before any client can connect
    const bool guardWorks = Vorlane::ProtocolGuard::selfTest();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vorlane Compositor"));
    parser.addHelpOption();
    QCommandLineOption configFileOption(QStringList()
                                            << QStringLiteral("c") << QStringLiteral("configfile"),
                                        QCoreApplication::translate("main", "Config file"),
                                        QCoreApplication::translate("main", "Filepath"));
    QCommandLineOption orientationOption(QStringList() << QStringLiteral("o")
                                                       << QStringLiteral("orientation"),
                                         QCoreApplication::translate("main", "Display orientation"),
                                         QCoreApplication::translate("main", "[0,90,180,270]"));
    QCommandLineOption debugOption(QStringList() << QStringLiteral("d") << QStringLiteral("debug"),
                                   QCoreApplication::translate("main", "Enable debug output"));
    parser.addOption(configFileOption);
    parser.addOption(orientationOption);
    parser.addOption(debugOption);
    parser.process(app);

    const QString configFile = parser.value(configFileOption);
    const QString orientation = parser.value(orientationOption);
    const bool debug = parser.isSet(debugOption);

    Vorlane::Configuration configuration(configFile);
    // Both outlive the engine, whose compositor the acceptor serves.
    Vorlane::ConnectionAcceptor acceptor(waylandSocket);
    Vorlane::ServiceNotifier serviceNotifier;
    QQmlApplicationEngine engine;

    const QString layoutsDir
        = configuration.value(QStringLiteral("Settings/LayoutsDir")).toString();
    const QString clientsDir
        = configuration.value(QStringLiteral("Settings/ClientsDir")).toString();
    auto *manager = new Vorlane::Core::Manager(layoutsDir, clientsDir, debug, &engine);
    QObject::connect(manager, &Vorlane::Core::Manager::quitVorlane, &engine,
                     &QQmlApplicationEngine::quit);

    QQmlContext *context = engine.rootContext();
    context->setContextProperty(QStringLiteral("orientationOverride"), orientation);
    context->setContextProperty(QStringLiteral("debugMode"), debug);
    context->setContextProperty(QStringLiteral("settings"), &configuration);
    context->setContextProperty(QStringLiteral("coremanager"), manager);
    context->setContextProperty(QStringLiteral("onScreenKeyboardOn"), onScreenKeyboard);

    const QUrl url(QStringLiteral("qrc:/Kestrix/Vorlane/Application/main.qml"), QUrl::TolerantMode);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject *object, const QUrl &objectUrl) {
            if (!object && url == objectUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);
    const QList<QObject *> roots = engine.rootObjects();
    if (auto *compositor = qobject_cast<QWaylandCompositor *>(roots.value(0))) {
        serveSocket(compositor, acceptor, waylandSocket);
        // A guard that cannot refuse would only watch: it is left out then.
        if (guardWorks)
            Vorlane::ProtocolGuard::install(compositor->display());
        Vorlane::KeyboardFanout::install(compositor->display());
        checkHooks(guardWorks);
        if (auto *output = qobject_cast<QWaylandQuickOutput *>(compositor->defaultOutput()))
            new Vorlane::FramePacer(output, qobject_cast<QQuickWindow *>(output->window()),
                                    &engine);
        // Clients that connected while the program started get the answers to their first
        // requests (the registry, a round trip) now, before the scene is built and the first
        // frame drawn. Extensions made after the compositor (the viewporter, the keyboard's text
        // input, made here rather than with the scene) announce their globals on a posted
        // event: they are sent first, so that the answer names them all.
        if (onScreenKeyboard)
            Vorlane::TextInputFocus::offerTextInput(compositor);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::Polish);
        acceptor.acceptWaiting();
        compositor->processWaylandEvents();
        QMetaObject::invokeMethod(compositor, "buildScene");
    }
    if (!roots.isEmpty()) {
        QQuickWindow *window = outputWindow(engine);
        serviceNotifier.readyAfterFirstFrame(window);
        // Component URLs are checked once the first frame is out, so that the check never
        // delays it; frameSwapped comes from the render thread when there is one.
        if (window) {
            QObject *scene = roots.first();
            auto once = std::make_shared<QMetaObject::Connection>();
            *once = QObject::connect(
                window, &QQuickWindow::frameSwapped, scene,
                [scene, once] {
                    if (QObject::disconnect(*once))
                        QMetaObject::invokeMethod(scene, "checkComponents");
                },
                Qt::QueuedConnection);
        }
    }

    Vorlane::trimMemoryWhenIdle(engine);

    return app.exec();
}
