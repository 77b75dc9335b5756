#include "manager.h"

#include "unixsignaling.h"

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
    Q_UNUSED(pid);
    return nullptr; // TODO registry
}

bool Manager::unregisterClient(uint pid)
{
    Q_UNUSED(pid);
    return false; // TODO registry
}

QList<Client *> Manager::executableClients() const
{
    return {}; // TODO registry
}

void Manager::initDetails(const QString &dir)
{
    Q_UNUSED(dir); // TODO registry
}

Client *Manager::createClient(Details *details)
{
    Q_UNUSED(details);
    return nullptr; // TODO registry
}

bool Manager::getClientDetails(const QString &name, Details **details) const
{
    Q_UNUSED(name);
    Q_UNUSED(details);
    return false; // TODO registry
}

Details *Manager::addDetail(const QString &name, const QString &tryExec, const QString &exec)
{
    Q_UNUSED(name);
    Q_UNUSED(tryExec);
    Q_UNUSED(exec);
    return nullptr; // TODO registry
}

QString Manager::getClientName(uint pid)
{
    Q_UNUSED(pid);
    return {}; // TODO registry
}

QString Manager::getClientPath(uint pid)
{
    Q_UNUSED(pid);
    return {}; // TODO registry
}

QString Manager::getClientCommand(uint pid)
{
    Q_UNUSED(pid);
    return {}; // TODO registry
}

QString Manager::runSystemCommand(const QString &program, const QStringList &arguments,
                                  QString &errorOutput)
{
    Q_UNUSED(program);
    Q_UNUSED(arguments);
    Q_UNUSED(errorOutput);
    return {}; // TODO registry
}

void Manager::quitAllClients()
{
    // TODO registry
}

void Manager::terminateAllClients()
{
    // TODO registry
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
