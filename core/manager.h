#ifndef VORLANE_CORE_MANAGER_H
#define VORLANE_CORE_MANAGER_H

#include "client.h"
#include "details.h"
#include "layout.h"
#include "region.h"
#include "vorlane_core_global.h"

#include <QList>
#include <QMultiMap>
#include <QObject>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace Vorlane::Core {

class UnixSignaling;

// The one object the interface talks to: client descriptions, connected clients, layouts and
// the selected layout, and the signal bridge.
class VORLANE_CORE_EXPORT Manager : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Core Backend class")
    Q_PROPERTY(QList<Vorlane::Core::Layout *> layouts READ layouts CONSTANT)
    Q_PROPERTY(int selectedLayoutIndex READ selectedLayoutIndex WRITE setSelectedLayoutIndex NOTIFY
                       selectedLayoutIndexChanged)
    Q_PROPERTY(QList<Vorlane::Core::Region *> currentRegions READ currentRegions NOTIFY
                       currentRegionsChanged)
    Q_PROPERTY(QList<Vorlane::Core::Client *> executableClients READ executableClients CONSTANT)

public:
    Manager(const QString &layoutsDir, const QString &clientsDir, bool debug, QObject *parent);
    explicit Manager(QObject *parent = nullptr);
    ~Manager() override;

    // Client registry.
    Q_INVOKABLE Vorlane::Core::Client *registerClient(uint pid);
    Q_INVOKABLE bool unregisterClient(uint pid);
    QList<Client *> executableClients() const;

    void initDetails(const QString &dir);
    Client *createClient(Details *details);
    bool getClientDetails(const QString &name, Details **details) const;
    Details *addDetail(const QString &name, const QString &tryExec, const QString &exec);
    QString getClientName(uint pid);
    QString getClientPath(uint pid);
    QString getClientCommand(uint pid);
    QString runSystemCommand(const QString &program, const QStringList &arguments,
                             QString &errorOutput);
    void quitAllClients();
    void terminateAllClients();

    // Layouts and regions.
    void initLayouts(const QString &dir);
    QList<Layout *> layouts() const;
    int selectedLayoutIndex() const;
    void setSelectedLayoutIndex(int index);
    QList<Region *> &currentRegions();

    Q_INVOKABLE Vorlane::Core::Region *getRegion(const QString &regionId,
                                                 QList<Vorlane::Core::Region *> *subRegions = nullptr);
    Q_INVOKABLE QRectF getRegionRect(const QString &regionId,
                                     QList<Vorlane::Core::Region *> *subRegions = nullptr);
    Q_INVOKABLE bool setCurrentLayout(const QString &layoutId);
    Q_INVOKABLE int getRegionZ(const QString &regionId,
                               QList<Vorlane::Core::Region *> *subRegions = nullptr);

    bool debug() const { return m_debug; }

signals:
    void selectedLayoutIndexChanged();
    void currentRegionsChanged();
    void quitVorlane();

private:
    void construct(const QString &layoutsDir, const QString &clientsDir);

    QList<Details *> m_details;
    // Key 0 holds every executable client (insertion order); every other key holds one client.
    QMultiMap<uint, Client *> m_clients;
    QList<Layout *> m_layouts;
    QList<Region *> m_currentRegions;
    int m_selectedLayoutIndex = -1;
    UnixSignaling *m_unixSignaling = nullptr;
    bool m_debug = false;
};

} // namespace Vorlane::Core

#endif // VORLANE_CORE_MANAGER_H
