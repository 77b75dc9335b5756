#include "compositorfixture.h"
#include "socketaccepts.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char *const socketName = "wayland-0";

} // namespace

CompositorFixture::CompositorFixture()
    : m_runtime(
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vorlane-rt-XXXXXX")))
    , m_base(
          std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vorlane-cfg-XXXXXX")))
    , m_environment(QProcessEnvironment::systemEnvironment())
{
    if (m_runtime->isValid())
        ::chmod(QFile::encodeName(m_runtime->path()).constData(), 0700);
    if (m_base->isValid()) {
        QDir base(m_base->path());
        base.mkpath(QStringLiteral("layouts"));
        base.mkpath(QStringLiteral("clients"));
    }
    // Never let the compositor (or a client) find a display of the machine running the tests.
    m_environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_environment.remove(QStringLiteral("WAYLAND_SOCKET"));
    m_environment.remove(QStringLiteral("DISPLAY"));
    m_environment.remove(QStringLiteral("QSG_RHI_BACKEND"));
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
}

CompositorFixture::~CompositorFixture()
{
    cleanup();
}

bool CompositorFixture::isValid() const
{
    return m_runtime->isValid() && m_base->isValid();
}

QString CompositorFixture::runtimeDir() const
{
    return m_runtime->path();
}

QString CompositorFixture::baseDir() const
{
    return m_base->path();
}

QString CompositorFixture::settingsPath() const
{
    return m_base->filePath(QStringLiteral("config.ini"));
}

QString CompositorFixture::layoutsDir() const
{
    return m_base->filePath(QStringLiteral("layouts"));
}

QString CompositorFixture::clientsDir() const
{
    return m_base->filePath(QStringLiteral("clients"));
}

QString CompositorFixture::socketPath() const
{
    return m_runtime->filePath(QLatin1String(socketName));
}

void CompositorFixture::setSetting(const QString &key, const QString &value)
{
    m_settings.insert(key, value);
}

void CompositorFixture::setRawSettings(const QString &text)
{
    m_rawSettings = text;
    m_useRawSettings = true;
}

bool CompositorFixture::writeFile(const QString &relativePath, const QByteArray &data)
{
    const QString path = m_base->filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(data) == data.size();
}

bool CompositorFixture::writeLayoutFile(const QString &fileName, const QByteArray &json)
{
    return writeFile(QStringLiteral("layouts/") + fileName, json);
}

bool CompositorFixture::writeDesktopEntry(const QString &fileName, const QString &text)
{
    return writeFile(QStringLiteral("clients/") + fileName, text.toUtf8());
}

bool CompositorFixture::writeClientEntry(const QString &fileName, const QString &name,
                                         const QString &program, const QString &extraSettings)
{
    QString text = QStringLiteral("[Desktop Entry]\nName=%1\nTryExec=%2\nExec=%2\n"
                                  "\n[X-KXVorlane Settings]\n")
                       .arg(name, program);
    text += extraSettings;
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return writeDesktopEntry(fileName, text);
}

void CompositorFixture::setCompositorEnvironment(const QString &name, const QString &value)
{
    m_environment.insert(name, value);
}

void CompositorFixture::unsetCompositorEnvironment(const QString &name)
{
    m_environment.remove(name);
}

bool CompositorFixture::start(const QStringList &extraArgs, bool useSettings)
{
    if (!isValid() || m_compositor)
        return false;

    QByteArray ini;
    if (m_useRawSettings) {
        ini = m_rawSettings.toUtf8();
    } else {
        QMap<QString, QString> values = m_settings;
        if (!values.contains(QStringLiteral("Settings/LayoutsDir")))
            values.insert(QStringLiteral("Settings/LayoutsDir"), layoutsDir());
        if (!values.contains(QStringLiteral("Settings/ClientsDir")))
            values.insert(QStringLiteral("Settings/ClientsDir"), clientsDir());
        // A client's focused text field would bring up the on-screen keyboard and shrink the
        // client: only the tests of the keyboard want it.
        if (!values.contains(QStringLiteral("Keyboard/Enabled")))
            values.insert(QStringLiteral("Keyboard/Enabled"), QStringLiteral("0"));
        // Group the keys by section; QMap keeps them sorted, so each section is contiguous.
        QString section;
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            const int slash = it.key().indexOf(QLatin1Char('/'));
            const QString group = slash < 0 ? QStringLiteral("General") : it.key().left(slash);
            const QString key = slash < 0 ? it.key() : it.key().mid(slash + 1);
            if (group != section) {
                ini += "\n[" + group.toUtf8() + "]\n";
                section = group;
            }
            ini += key.toUtf8() + '=' + it.value().toUtf8() + '\n';
        }
    }
    QFile settings(settingsPath());
    if (!settings.open(QIODevice::WriteOnly | QIODevice::Truncate) || settings.write(ini) < 0)
        return false;
    settings.close();

    QStringList args = m_launcher.mid(1);
    if (!m_launcher.isEmpty())
        args << applicationPath();
    if (useSettings)
        args << QStringLiteral("-c") << settingsPath();
    args << extraArgs;

    m_compositor = new QProcess;
    m_compositor->setProcessEnvironment(m_environment);
    m_compositor->setWorkingDirectory(m_base->path());
    if (m_childSetup)
        m_compositor->setChildProcessModifier(m_childSetup);
    m_compositor->start(m_launcher.isEmpty() ? applicationPath() : m_launcher.first(), args);
    if (!m_compositor->waitForStarted(30000)) {
        qWarning() << "compositor did not start:" << m_compositor->errorString();
        return false;
    }
    return true;
}

bool CompositorFixture::startAndWait(const QStringList &extraArgs, int timeoutMs)
{
    return start(extraArgs) && waitForSocket(timeoutMs);
}

bool CompositorFixture::waitForSocket(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (compositorRunning()) {
        if (socketServes(socketPath()))
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return false;
}

bool CompositorFixture::startXvfb(int width, int height)
{
    if (m_xvfb || m_compositor)
        return false;
    m_xvfb = new QProcess;
    m_xvfb->setProcessChannelMode(QProcess::SeparateChannels);
    // -displayfd picks a free display number and writes it to standard output.
    m_xvfb->start(QStringLiteral("Xvfb"),
                  { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                    QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(width).arg(height),
                    QStringLiteral("-nolisten"), QStringLiteral("tcp") });
    if (!m_xvfb->waitForStarted(10000))
        return false;
    QByteArray number;
    QDeadlineTimer deadline(20000);
    while (!number.contains('\n') && m_xvfb->state() == QProcess::Running
           && !deadline.hasExpired()) {
        m_xvfb->waitForReadyRead(100);
        number += m_xvfb->readAllStandardOutput();
    }
    if (!number.contains('\n'))
        return false;
    m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    m_environment.insert(QStringLiteral("DISPLAY"), m_display);
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // In a sanitizer build, unwinding every allocation of the GL driver fully is too slow to
    // render, and the driver's leaks at exit are not ours: memory errors are still caught.
    if (m_environment.contains(QStringLiteral("ASAN_OPTIONS")))
        m_environment.insert(QStringLiteral("ASAN_OPTIONS"),
                             m_environment.value(QStringLiteral("ASAN_OPTIONS"))
                                 + QStringLiteral(":fast_unwind_on_malloc=1:detect_leaks=0"));
    return true;
}

bool CompositorFixture::xdotool(const QStringList &args) const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), args);
    return tool.waitForFinished(30000) && tool.exitCode() == 0;
}

bool CompositorFixture::focusCompositorWindow(int timeoutMs) const
{
    const QStringList focus { QStringLiteral("search"),      QStringLiteral("--onlyvisible"),
                              QStringLiteral("--pid"),       QString::number(compositorPid()),
                              QStringLiteral("--name"),      QStringLiteral("."),
                              QStringLiteral("windowfocus"), QStringLiteral("--sync") };
    QDeadlineTimer deadline(timeoutMs);
    while (!xdotool(focus)) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

QImage CompositorFixture::screenshot() const
{
    if (m_display.isEmpty())
        return {};
    QProcess grab;
    grab.start(
        QStringLiteral("sh"),
        { QStringLiteral("-c"),
          QStringLiteral("xwd -root -silent -display %1 | convert xwd:- png:-").arg(m_display) });
    if (!grab.waitForFinished(30000))
        return {};
    return QImage::fromData(grab.readAllStandardOutput(), "PNG");
}

QProcess *CompositorFixture::compositor() const
{
    return m_compositor;
}

qint64 CompositorFixture::compositorPid() const
{
    return m_compositor ? m_compositor->processId() : 0;
}

bool CompositorFixture::compositorRunning() const
{
    return m_compositor && m_compositor->state() == QProcess::Running;
}

int CompositorFixture::waitForCompositorExit(int timeoutMs)
{
    if (!m_compositor)
        return -1000;
    QDeadlineTimer deadline(timeoutMs);
    while (m_compositor->state() != QProcess::NotRunning && !deadline.hasExpired())
        m_compositor->waitForFinished(50);
    pullStderr();
    if (m_compositor->state() != QProcess::NotRunning
        || m_compositor->exitStatus() != QProcess::NormalExit)
        return -1000;
    if (m_compositor->exitCode() != 0 && leakCheckCrashed())
        return 0;
    return m_compositor->exitCode();
}

// LeakSanitizer's own tracer now and then crashes in the exit check of a sanitized compositor
// ("Tracer caught signal 11"): the check did not run, which says nothing about the program. Its
// lines are taken out of the output, so that they do not pass for a sanitizer's report; a report
// of leaks is never taken out.
bool CompositorFixture::leakCheckCrashed()
{
    const auto isToolFault = [](const QString &line) {
        return line.startsWith(QLatin1String("Tracer caught signal"))
            || line.contains(QLatin1String("LeakSanitizer has encountered a fatal error"))
            || (line.startsWith(QLatin1String("==")) && line.contains(QLatin1String("==HINT:")));
    };
    if (stderrContains(QStringLiteral("detected memory leaks"))
        || std::none_of(m_stderrLines.cbegin(), m_stderrLines.cend(), isToolFault))
        return false;
    qWarning("LeakSanitizer's tracer crashed at the compositor's exit; its leak check did not run");
    m_stderrLines.erase(std::remove_if(m_stderrLines.begin(), m_stderrLines.end(), isToolFault),
                        m_stderrLines.end());
    return true;
}

int CompositorFixture::stopCompositor(int sig, int timeoutMs)
{
    if (!compositorRunning())
        return waitForCompositorExit(0);
    sendSignal(compositorPid(), sig);
    return waitForCompositorExit(timeoutMs);
}

void CompositorFixture::pullStderr()
{
    if (!m_compositor)
        return;
    // Takes in what the compositor wrote since the event loop last ran: a test that saw its
    // effect on the screen must also find its message.
    m_compositor->waitForReadyRead(0);
    m_stderrBuffer += m_compositor->readAllStandardError();
    int newline;
    while ((newline = m_stderrBuffer.indexOf('\n')) >= 0) {
        m_stderrLines << QString::fromUtf8(m_stderrBuffer.left(newline));
        m_stderrBuffer.remove(0, newline + 1);
    }
    if (m_compositor->state() == QProcess::NotRunning && !m_stderrBuffer.isEmpty()) {
        m_stderrLines << QString::fromUtf8(m_stderrBuffer);
        m_stderrBuffer.clear();
    }
}

QStringList CompositorFixture::stderrLines()
{
    pullStderr();
    return m_stderrLines;
}

QString CompositorFixture::stderrText()
{
    return stderrLines().join(QLatin1Char('\n'));
}

bool CompositorFixture::stderrContains(const QString &text)
{
    return stderrText().contains(text);
}

int CompositorFixture::stderrCount(const QString &text)
{
    int count = 0;
    const QStringList lines = stderrLines();
    for (const QString &line : lines)
        count += line.count(text);
    return count;
}

QByteArray CompositorFixture::stdoutData()
{
    return m_compositor ? m_compositor->readAllStandardOutput() : QByteArray();
}

QProcess *CompositorFixture::startClient(const QString &program, const QStringList &args,
                                         const QMap<QString, QString> &extraEnv)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_SOCKET"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QLatin1String(socketName));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    for (auto it = extraEnv.cbegin(); it != extraEnv.cend(); ++it)
        environment.insert(it.key(), it.value());

    auto *process = new QProcess;
    m_clientOutput.insert(process, QByteArray());
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(m_base->path());
    m_clients << process;
    process->start(program, args);
    if (!process->waitForStarted(30000))
        qWarning() << "client did not start:" << program << process->errorString();
    return process;
}

QStringList CompositorFixture::clientLines(QProcess *client)
{
    if (!m_clientOutput.contains(client))
        return {};
    QByteArray &output = m_clientOutput[client];
    output += client->readAllStandardOutput();
    QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    lines.removeLast(); // empty, or a line still being written
    return lines;
}

QStringList CompositorFixture::probeConfigures(QProcess *probe, int toplevel)
{
    const QString prefix = QStringLiteral("configure %1 ").arg(toplevel);
    QStringList configures;
    const QStringList lines = clientLines(probe);
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            configures << line.mid(prefix.size());
    }
    return configures;
}

QString CompositorFixture::lastProbeConfigure(QProcess *probe, int toplevel)
{
    const QStringList configures = probeConfigures(probe, toplevel);
    return configures.isEmpty() ? QString() : configures.last();
}

QString CompositorFixture::copyProbe(const QString &name)
{
    const QString path = m_base->filePath(name);
    QFile::remove(path);
    if (!QFile::copy(probePath(), path))
        return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void CompositorFixture::enableDriver()
{
    const QString driverDir = QStringLiteral(VORLANE_E2E_DRIVER_DIR);
    setSetting(QStringLiteral("Components/QuickBar"),
               QUrl::fromLocalFile(driverDir + QStringLiteral("/DriverQuickBar.qml")).toString());
    setSetting(
        QStringLiteral("Components/RegionSelector"),
        QUrl::fromLocalFile(driverDir + QStringLiteral("/DriverRegionSelector.qml")).toString());
    const QString commandFile = m_base->filePath(QStringLiteral("driver-commands"));
    QFile(commandFile).open(QIODevice::WriteOnly | QIODevice::Truncate);
    setSetting(QStringLiteral("Test/CommandFile"), commandFile);
    // The driver reads its commands with a local XMLHttpRequest.
    setCompositorEnvironment(QStringLiteral("QML_XHR_ALLOW_FILE_READ"), QStringLiteral("1"));
}

QStringList CompositorFixture::driverCommand(const QString &command, int timeoutMs)
{
    QFile file(m_base->filePath(QStringLiteral("driver-commands")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return {};
    file.write(command.toUtf8() + '\n');
    file.close();
    const QString done = QStringLiteral("DRIVER done %1 ").arg(++m_driverCommands);

    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QStringList lines = stderrLines();
        for (int i = m_driverLinesSeen; i < lines.size(); ++i) {
            if (!lines.at(i).contains(done))
                continue;
            QStringList answer;
            for (int j = m_driverLinesSeen; j < i; ++j) {
                const int at = lines.at(j).indexOf(QLatin1String("DRIVER "));
                if (at >= 0)
                    answer << lines.at(j).mid(at + 7);
            }
            m_driverLinesSeen = i + 1;
            return answer;
        }
        if (!compositorRunning())
            break;
        QTest::qWait(10);
    }
    qWarning() << "driver command not run:" << command;
    return {};
}

QString CompositorFixture::probePath()
{
    return QStringLiteral(VORLANE_PROBE_PATH);
}

QString CompositorFixture::applicationPath()
{
    return QStringLiteral(VORLANE_APPLICATION_PATH);
}

char CompositorFixture::processState(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The command name in parentheses may itself hold blanks and parentheses.
    const int close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return 0;
    return line.at(close + 2);
}

bool CompositorFixture::sendSignal(qint64 pid, int sig)
{
    return pid > 0 && ::kill(pid_t(pid), sig) == 0;
}

void CompositorFixture::killProcess(QProcess *process)
{
    if (process->state() != QProcess::NotRunning) {
        // SIGKILL ends a stopped process as well.
        ::kill(pid_t(process->processId()), SIGKILL);
        process->waitForFinished(10000);
    }
    delete process;
}

void CompositorFixture::cleanup()
{
    for (QProcess *client : std::as_const(m_clients))
        killProcess(client);
    m_clients.clear();
    m_clientOutput.clear();

    if (m_compositor) {
        if (m_compositor->state() != QProcess::NotRunning) {
            ::kill(pid_t(m_compositor->processId()), SIGTERM);
            if (!m_compositor->waitForFinished(10000)) {
                ::kill(pid_t(m_compositor->processId()), SIGKILL);
                m_compositor->waitForFinished(10000);
            }
        }
        pullStderr();
        delete m_compositor;
        m_compositor = nullptr;
    }
    if (m_xvfb) {
        killProcess(m_xvfb);
        m_xvfb = nullptr;
    }
}
