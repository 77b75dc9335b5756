#include "details.h"

namespace Vorlane::Core {
const QMap<QString, Details::WindowState> Details::m_windowStates;
const QMap<QString, Details::MinimizedMode> Details::m_minimizedModes;
Details::Details(QObject *parent) : QObject(parent) { }
Details::Details(const QString &, QObject *parent) : QObject(parent) { }
Details::Details(const QString &, const QString &, const QString &, QObject *parent) : QObject(parent) { }
bool Details::valid() const { return m_valid; }
bool Details::value(const QString &, const QString &, QVariant &, bool) const { return false; }
QString Details::name(bool) const { return {}; }
QString Details::iconPath() const { return {}; }
QString Details::tryExec() const { return {}; }
QString Details::exec() const { return {}; }
QString Details::program() const { return {}; }
QStringList Details::arguments() const { return {}; }
Details::WindowState Details::windowState() const { return WS_NORMAL; }
Details::MinimizedMode Details::minimizedMode() const { return MM_RUNNING; }
bool Details::executable() const { return false; }
QString Details::surfaceContainer() const { return {}; }
QString Details::quickBarElement() const { return {}; }
QStringList Details::defaultRegion(const QString &) const { return {}; }
QMap<QString, QStringList> Details::defaultRegions() const { return m_defaultRegions; }
QVariantMap Details::defaultRegionsVariantMap() const { return {}; }
bool Details::parseDesktop(const QString &) { return false; }
bool Details::validate() { return false; }
void Details::parseLayoutRegions() { }
QString Details::parseExec(int) const { return {}; }
} // namespace Vorlane::Core
