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
    Q_UNUSED(dir); // TODO layouts
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
    Q_UNUSED(index); // TODO layouts
}

QList<Region *> &Manager::currentRegions()
{
    return m_currentRegions;
}

Region *Manager::getRegion(const QString &regionId, QList<Region *> *subRegions)
{
    Q_UNUSED(regionId);
    Q_UNUSED(subRegions);
    return nullptr; // TODO layouts
}

QRectF Manager::getRegionRect(const QString &regionId, QList<Region *> *subRegions)
{
    Q_UNUSED(regionId);
    Q_UNUSED(subRegions);
    return {}; // TODO layouts
}

bool Manager::setCurrentLayout(const QString &layoutId)
{
    Q_UNUSED(layoutId);
    return false; // TODO layouts
}

int Manager::getRegionZ(const QString &regionId, QList<Region *> *subRegions)
{
    Q_UNUSED(regionId);
    Q_UNUSED(subRegions);
    return 0; // TODO layouts
}

} // namespace Vorlane::Core
