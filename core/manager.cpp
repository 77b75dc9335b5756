#include "manager.h"

#include "unixsignaling.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>

#include <algorithm>

#include <climits>
#include <unistd.h>

namespace Vorlane::Core {

Manager::Manager(const QString &layoutsDir, const QString &clientsDir, bool debug, QObject *parent)
    : QObject(parent)
    , m_debug(debug)
{
    construct(layoutsDir, clientsDir);
}

Manager::Manager(QObject *parent)
    : QObject(parent)
{
    construct(QStringLiteral("/opt/vorlane_application/layouts"),
              QStringLiteral("/opt/vorlane_application/clients"));
}

void Manager::construct(const QString &layoutsDir, const QString &clientsDir)
{
    m_unixSignaling = new UnixSignaling(this);
    m_unixSignaling->setupUnixSignalHandlers();
    connect(m_unixSignaling, &UnixSignaling::unixSignalQuit, this, &Manager::quitVorlane);

    // Descriptions first: nothing in the layouts depends on them, but the order is part of the
    // start-up contract.
    initDetails(clientsDir);
    initLayouts(layoutsDir);
}

Manager::~Manager()
{
    quitAllClients();
    m_clients.clear();
    m_details.clear();
    m_layouts.clear();
    m_currentRegions.clear();
}

// ---- Client registry --------------------------------------------------------------------------

Client *Manager::registerClient(uint pid)
{
    // A process the compositor started itself carries its id in an executable client (key 0).
    Client *found = nullptr;
    for (Client *client : std::as_const(m_clients)) {
        if (client->pid() == pid)
            found = client;
    }
    if (found)
        return found;

    const QString path = getClientPath(pid);
    QString name = QFileInfo(path).fileName();
    Details *details = nullptr;
    if (path.isEmpty()) {
        // The executable cannot be read (the process has gone, or access is refused): matching an
        // empty name would pick an arbitrary description, so the process gets one of its own.
        const QString command = getClientCommand(pid);
        name = QFileInfo(command.section(u' ', 0, 0)).fileName();
        if (name.isEmpty())
            name = QStringLiteral("Unknown name");
        details = addDetail(name, QString(), command);
    } else if (!getClientDetails(name, &details)) {
        details = addDetail(name, path, getClientCommand(pid));
    }

    auto *client = new Client(pid, name, details, this);
    m_clients.insert(pid, client);
    return client;
}

bool Manager::unregisterClient(uint pid)
{
    // Key 0 holds the executable clients, which live as long as the manager.
    if (pid == 0)
        return false;
    const auto it = m_clients.find(pid);
    if (it == m_clients.end())
        return false;
    Client *client = it.value();
    m_clients.erase(it);
    delete client;
    return true;
}

QList<Client *> Manager::executableClients() const
{
    QList<Client *> result;
    for (Client *client : m_clients) {
        if (client->details() && client->details()->executable())
            result.append(client);
    }
    return result;
}

void Manager::initDetails(const QString &dir)
{
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
        m_details.clear();
        qWarning() << "void Vorlane::Core::Manager::initDetails(QString)"
                   << "applications directory missing!";
        return;
    }

    const QDir directory(dir);
    QStringList fileNames = directory.entryList({ QStringLiteral("*.desktop") }, QDir::Files);
    // Plain character order: upper case before lower case.
    std::sort(fileNames.begin(), fileNames.end());

    for (const QString &fileName : std::as_const(fileNames)) {
        auto *details = new Details(directory.path() + u'/' + fileName, this);
        if (!details->valid()) {
            qWarning() << "Invalid desktop file: " << fileName;
            delete details;
            continue;
        }
        m_details.append(details);
        if (details->executable())
            createClient(details);
    }
}

Client *Manager::createClient(Details *details)
{
    if (!details)
        return nullptr;
    auto *client = new Client(0, details->name(true), details, this);
    // QMultiMap::insert() would put it before the clients already under 0; keep creation order.
    m_clients.insert(m_clients.upperBound(0), 0, client);
    return client;
}

bool Manager::getClientDetails(const QString &name, Details **details) const
{
    // The name is compared literally with the whole last path component of "TryExec".
    if (name.isEmpty() || !details)
        return false;
    for (Details *candidate : m_details) {
        const QString tryExec = candidate->tryExec();
        if (tryExec.section(u'/', -1) == name) {
            *details = candidate;
            return true;
        }
    }
    return false;
}

Details *Manager::addDetail(const QString &name, const QString &tryExec, const QString &exec)
{
    auto *details = new Details(name, tryExec, exec, this);
    m_details.append(details);
    return details;
}

QString Manager::getClientName(uint pid)
{
    // The last path component as it stands: a "?", "#" or "%" belongs to the file name.
    return QFileInfo(getClientPath(pid)).fileName();
}

QString Manager::getClientPath(uint pid)
{
    // Read the link directly: a child process per new client would stall the display.
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    // The kernel writes at most a page of path into the link.
    char target[PATH_MAX + 1];
    const ssize_t length = ::readlink(link.constData(), target, sizeof(target));
    if (length <= 0 || size_t(length) >= sizeof(target))
        return QString();
    return QString::fromUtf8(target, length).trimmed();
}

QString Manager::getClientCommand(uint pid)
{
    QFile file(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QString();
    QString command = QString::fromUtf8(file.readAll());
    command.replace(QChar(0), u' ');
    return command.trimmed();
}

QString Manager::runSystemCommand(const QString &program, const QStringList &arguments,
                                  QString &errorOutput)
{
    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    process.waitForFinished(30000);
    if (!process.isOpen()) {
        // Not even started (an empty program name): there is nothing to read.
        errorOutput.clear();
        return QString();
    }
    errorOutput = QString::fromUtf8(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput());
}

void Manager::quitAllClients()
{
    // Guarded copies: a state change may reach QML, which could unregister a client meanwhile.
    QList<QPointer<Client>> clients;
    for (Client *client : std::as_const(m_clients))
        clients.append(client);
    for (const QPointer<Client> &client : std::as_const(clients)) {
        if (client)
            client->quitClient();
    }
}

void Manager::terminateAllClients()
{
    QList<QPointer<Client>> clients;
    for (Client *client : std::as_const(m_clients))
        clients.append(client);
    for (const QPointer<Client> &client : std::as_const(clients)) {
        if (client)
            client->terminateClient();
    }
}

// ---- Layouts and regions ----------------------------------------------------------------------

void Manager::initLayouts(const QString &dir)
{
    m_layouts.clear();
    Layout::readLayouts(this, dir, m_layouts);
    setSelectedLayoutIndex(0);
}

QList<Layout *> Manager::layouts() const
{
    return m_layouts;
}

int Manager::selectedLayoutIndex() const
{
    return m_selectedLayoutIndex;
}

void Manager::setSelectedLayoutIndex(int index)
{
    if (index == m_selectedLayoutIndex || index < 0 || index >= m_layouts.size())
        return;
    m_selectedLayoutIndex = index;
    m_currentRegions = m_layouts.at(index)->regions();
    // The scene re-places its surfaces on the index signal and expects the regions to be in place.
    emit selectedLayoutIndexChanged();
    emit currentRegionsChanged();
}

QList<Region *> &Manager::currentRegions()
{
    return m_currentRegions;
}

Region *Manager::getRegion(const QString &regionId, QList<Region *> *subRegions)
{
    const QList<Region *> &roots = subRegions ? *subRegions : m_currentRegions;
    // Depth-first pre-order with an explicit stack, so deep trees cannot exhaust the call stack;
    // children go on in reverse so that the first match in file order wins.
    QList<Region *> pending;
    pending.reserve(roots.size());
    for (auto it = roots.crbegin(); it != roots.crend(); ++it) {
        if (*it)
            pending.append(*it);
    }
    while (!pending.isEmpty()) {
        Region *region = pending.takeLast();
        if (region->id() == regionId)
            return region;
        const QList<Region *> &children = region->regions();
        for (auto it = children.crbegin(); it != children.crend(); ++it) {
            if (*it)
                pending.append(*it);
        }
    }
    return nullptr;
}

QRectF Manager::getRegionRect(const QString &regionId, QList<Region *> *subRegions)
{
    const Region *region = getRegion(regionId, subRegions);
    if (!region)
        return QRectF(0, 0, 0, 0);
    return QRectF(region->x(), region->y(), region->width(), region->height());
}

bool Manager::setCurrentLayout(const QString &layoutId)
{
    for (qsizetype i = 0; i < m_layouts.size(); ++i) {
        if (m_layouts.at(i)->id() == layoutId) {
            setSelectedLayoutIndex(int(i));
            return true;
        }
    }
    return false;
}

int Manager::getRegionZ(const QString &regionId, QList<Region *> *subRegions)
{
    const Region *region = getRegion(regionId, subRegions);
    return region ? region->z() : 0;
}

} // namespace Vorlane::Core
