#ifndef VORLANE_CORE_LAYOUT_H
#define VORLANE_CORE_LAYOUT_H

#include "region.h"
#include "vorlane_core_global.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

namespace Vorlane::Core {

// A named tree of regions, read once from a layout file and constant afterwards.
class VORLANE_CORE_EXPORT Layout : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id CONSTANT)
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(QList<Vorlane::Core::Region *> regions READ regions CONSTANT)
    Q_PROPERTY(QString defaultRegion READ defaultRegion CONSTANT)
    Q_PROPERTY(QString dropHandler READ dropHandler CONSTANT)

public:
    explicit Layout(QObject *parent = nullptr);

    QString id() const;
    QString name() const;
    QString defaultRegion() const;
    QString dropHandler() const;
    QList<Region *> &regions();

    void setId(const QString &id);
    void setName(const QString &name);
    void setDefaultRegion(const QString &defaultRegion);
    void setDropHandler(const QString &dropHandler);

    Q_INVOKABLE bool regionExists(const QString &regionId) const;

    void readJson(QJsonObject &json);
    void writeJson(QJsonObject &json) const;

    static void readLayouts(QObject *parent, const QString &dir, QList<Layout *> &layouts);
    static void parseLayoutFile(const QString &path, QList<Layout *> &layouts, QObject *parent);
    static void writeLayouts(QList<Layout *> layouts);

private:
    QString m_id;
    QString m_name;
    QString m_defaultRegion;
    QString m_dropHandler;
    QList<Region *> m_regions;
};

} // namespace Vorlane::Core

#endif // VORLANE_CORE_LAYOUT_H
