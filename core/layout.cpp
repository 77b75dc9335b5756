#include "layout.h"

namespace Vorlane::Core {
Layout::Layout(QObject *parent) : QObject(parent) { }
QString Layout::id() const { return m_id; }
QString Layout::name() const { return m_name; }
QString Layout::defaultRegion() const { return m_defaultRegion; }
QString Layout::dropHandler() const { return m_dropHandler; }
QList<Region *> &Layout::regions() { return m_regions; }
void Layout::setId(const QString &id) { m_id = id; }
void Layout::setName(const QString &name) { m_name = name; }
void Layout::setDefaultRegion(const QString &defaultRegion) { m_defaultRegion = defaultRegion; }
void Layout::setDropHandler(const QString &dropHandler) { m_dropHandler = dropHandler; }
bool Layout::regionExists(const QString &) const { return false; }
void Layout::readJson(QJsonObject &) { }
void Layout::writeJson(QJsonObject &) const { }
void Layout::readLayouts(QObject *, const QString &, QList<Layout *> &) { }
void Layout::parseLayoutFile(const QString &, QList<Layout *> &, QObject *) { }
void Layout::writeLayouts(QList<Layout *>) { }
} // namespace Vorlane::Core
