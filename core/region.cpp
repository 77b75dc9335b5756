#include "region.h"

namespace Vorlane::Core {
Region::Region(QObject *parent) : QObject(parent) { }
QString Region::id() const { return m_id; }
void Region::setId(const QString &id) { m_id = id; }
QString Region::name() const { return m_name; }
void Region::setName(const QString &name) { m_name = name; }
double Region::x() const { return m_x; }
double Region::y() const { return m_y; }
double Region::width() const { return m_width; }
double Region::height() const { return m_height; }
void Region::setX(double x) { m_x = x; }
void Region::setY(double y) { m_y = y; }
void Region::setWidth(double width) { m_width = width; }
void Region::setHeight(double height) { m_height = height; }
int Region::z() const { return m_z; }
QList<Region *> &Region::regions() { return m_regions; }
QStringList &Region::conflictsWith() { return m_conflictsWith; }
bool Region::containsRegion(const QString &) const { return false; }
int Region::readJson(QJsonObject, int z) { return z; }
void Region::writeJson(QJsonObject &) const { }
void Region::initConflictingRegions() { }
void Region::addConflictingAncestor(Region *) { }
void Region::addConflictingSuccessor(QList<Region *> &) { }
Region *Region::enclosingRegion() const { return qobject_cast<Region *>(parent()); }
QString getJsonString(const QJsonObject &, const QString &) { return {}; }
double getJsonDouble(const QJsonObject &, const QString &) { return 0; }
QJsonArray getJsonArray(const QJsonObject &, const QString &) { return {}; }
} // namespace Vorlane::Core
