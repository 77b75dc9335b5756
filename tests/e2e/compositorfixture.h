#ifndef VORLANE_TESTS_COMPOSITORFIXTURE_H
#define VORLANE_TESTS_COMPOSITORFIXTURE_H

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// Runs the real compositor program for end-to-end tests: a private runtime directory (0700),
// a temporary configuration (settings INI, layouts and clients directories written from
// strings), the program itself with its standard error captured, and any number of Wayland
// clients connected to it. Everything it starts is killed and reaped when it is destroyed.
class CompositorFixture
{
public:
    CompositorFixture();
    ~CompositorFixture();

    CompositorFixture(const CompositorFixture &) = delete;
    CompositorFixture &operator=(const CompositorFixture &) = delete;

    // False when the temporary directories could not be made.
    bool isValid() const;

    QString runtimeDir() const;
    QString baseDir() const; // temporary directory holding the configuration
    QString settingsPath() const;
    QString layoutsDir() const;
    QString clientsDir() const;
    QString socketPath() const; // <runtimeDir>/wayland-0

    // Settings written to the INI file when start() runs. "Settings/LayoutsDir" and
    // "Settings/ClientsDir" point at the fixture's directories unless set here; the on-screen
    // keyboard is off ("Keyboard/Enabled" 0) unless set here.
    void setSetting(const QString &key, const QString &value);
    // Replaces the whole INI file with this text (no automatic keys); for malformed input.
    void setRawSettings(const QString &text);

    bool writeLayoutFile(const QString &fileName, const QByteArray &json);
    bool writeDesktopEntry(const QString &fileName, const QString &text);
    // A desktop entry for the probe (or any program) under the given name. The text of
    // extraSettings is appended inside the "X-KXVorlane Settings" group.
    bool writeClientEntry(const QString &fileName, const QString &name, const QString &program,
                          const QString &extraSettings = QString());
    bool writeFile(const QString &relativePath, const QByteArray &data);

    // Environment of the compositor: QT_QPA_PLATFORM=offscreen and XDG_RUNTIME_DIR by default.
    void setCompositorEnvironment(const QString &name, const QString &value);
    void unsetCompositorEnvironment(const QString &name);
    // A command line that start() puts before the program (its path and arguments are
    // appended), e.g. a tracer or a shell that sets the environment from its own process id;
    // compositorPid() is then the launcher's process id.
    void setLauncher(const QStringList &launcher) { m_launcher = launcher; }
    // Runs in the compositor's process between fork and exec (descriptors, resource limits).
    void setCompositorChildSetup(const std::function<void()> &setup) { m_childSetup = setup; }

    // Starts the compositor with "-c <settings>" followed by extraArgs (pass useSettings false
    // to leave out "-c"). Does not wait for the socket.
    bool start(const QStringList &extraArgs = {}, bool useSettings = true);
    // start() and then waitForSocket().
    bool startAndWait(const QStringList &extraArgs = {}, int timeoutMs = 30000);
    // Waits until the compositor answers on its socket, or ends, or the time is up.
    bool waitForSocket(int timeoutMs = 30000);
    // Starts the compositor under a private Xvfb (QT_QPA_PLATFORM=xcb), so that the whole
    // screen can be captured with screenshot(). Returns false when Xvfb is not available.
    bool startXvfb(int width = 800, int height = 480);
    QImage screenshot() const;
    // The X display of startXvfb() (":N"), empty without one; for input tools such as xdotool.
    QString display() const { return m_display; }
    // Runs xdotool on that display; true when it succeeded within 30 s.
    bool xdotool(const QStringList &args) const;
    // Gives the compositor's window the X input focus, where Qt's TUIO plugin sends its touch
    // points; tries again while the window is on its way to the screen, which refuses the focus.
    bool focusCompositorWindow(int timeoutMs = 30000) const;

    QProcess *compositor() const;
    qint64 compositorPid() const;
    bool compositorRunning() const;
    // Sends sig and waits for the compositor to end; returns its exit code, or -1000 when it
    // crashed or did not end within timeoutMs.
    int stopCompositor(int sig, int timeoutMs = 30000);
    int waitForCompositorExit(int timeoutMs = 30000);

    // Every line the compositor wrote to standard error so far.
    QStringList stderrLines();
    QString stderrText();
    bool stderrContains(const QString &text);
    int stderrCount(const QString &text);
    QByteArray stdoutData();

    // Starts a Wayland client connected to the compositor; it is killed on cleanup.
    QProcess *startClient(const QString &program, const QStringList &args = {},
                          const QMap<QString, QString> &extraEnv = {});
    // Every line a client wrote to standard output so far.
    QStringList clientLines(QProcess *client);
    // The configures the probe reported for one of its top-levels, as "<width> <height> <states>".
    QStringList probeConfigures(QProcess *probe, int toplevel = 0);
    QString lastProbeConfigure(QProcess *probe, int toplevel = 0);
    // Copies the probe under another file name, so that the registry tells the copies apart by
    // their executables. Returns the path of the copy.
    QString copyProbe(const QString &name);

    // Replaces the quick bar and the region selector by the test driver components, which run
    // commands appended to a file.
    void enableDriver();
    // Runs one driver command and waits for it; returns the driver's lines written meanwhile,
    // without their "DRIVER " prefix.
    QStringList driverCommand(const QString &command, int timeoutMs = 30000);

    // The probe program of these tests.
    static QString probePath();
    static QString applicationPath();

    // Process state letter from /proc/PID/stat ('R', 'S', 'T', ...), or 0 when unreadable.
    static char processState(qint64 pid);
    static bool sendSignal(qint64 pid, int sig);

    void cleanup();

private:
    void killProcess(QProcess *process);
    bool leakCheckCrashed();
    void pullStderr();

    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<QTemporaryDir> m_base;
    QMap<QString, QString> m_settings;
    QString m_rawSettings;
    bool m_useRawSettings = false;
    QProcessEnvironment m_environment;
    QStringList m_launcher;
    std::function<void()> m_childSetup;
    QProcess *m_compositor = nullptr;
    QProcess *m_xvfb = nullptr;
    QString m_display;
    QList<QProcess *> m_clients;
    QMap<QProcess *, QByteArray> m_clientOutput;
    int m_driverCommands = 0;
    int m_driverLinesSeen = 0;
    QByteArray m_stderrBuffer;
    QStringList m_stderrLines;
};

#endif // VORLANE_TESTS_COMPOSITORFIXTURE_H
