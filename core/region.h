#ifndef VORLANE_CORE_REGION_H
#define VORLANE_CORE_REGION_H

#include "constants.h"
#include "vorlane_core_global.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>

namespace Vorlane::Core {

// One rectangle of a layout. Geometry is stored relative to the enclosing region and exposed
// composed up the QObject parent chain, as a fraction of the region area.
class VORLANE_CORE_EXPORT Region : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id CONSTANT)
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(double x READ x CONSTANT)
    Q_PROPERTY(double y READ y CONSTANT)
    Q_PROPERTY(double width READ width CONSTANT)
    Q_PROPERTY(double height READ height CONSTANT)
    Q_PROPERTY(QList<Vorlane::Core::Region *> regions READ regions CONSTANT)
    Q_PROPERTY(QStringList conflictsWith READ conflictsWith CONSTANT)

public:
    explicit Region(QObject *parent = nullptr);

    QString id() const;
    void setId(const QString &id);
    QString name() const;
    void setName(const QString &name);

    double x() const;
    double y() const;
    double width() const;
    double height() const;
    void setX(double x);
    void setY(double y);
    void setWidth(double width);
    void setHeight(double height);

    int z() const;

    QList<Region *> &regions();
    QStringList &conflictsWith();

    bool containsRegion(const QString &regionId) const;

    int readJson(QJsonObject json, int z);
    void writeJson(QJsonObject &json) const;

    void initConflictingRegions();
    void addConflictingAncestor(Region *region);
    void addConflictingSuccessor(QList<Region *> &regions);

private:
    Region *enclosingRegion() const;

    QString m_id;
    QString m_name;
    double m_x = 0.0;
    double m_y = 0.0;
    int m_z = 0;
    double m_width = 0.0;
    double m_height = 0.0;
    QList<Region *> m_regions;
    QStringList m_conflictsWith;
};

// Typed accessors for layout files: a missing key or a value of another type (null included)
// gives a warning and an empty or zero result.
VORLANE_CORE_EXPORT QString getJsonString(const QJsonObject &json, const QString &key);
VORLANE_CORE_EXPORT double getJsonDouble(const QJsonObject &json, const QString &key);
VORLANE_CORE_EXPORT QJsonArray getJsonArray(const QJsonObject &json, const QString &key);

} // namespace Vorlane::Core

#endif // VORLANE_CORE_REGION_H
