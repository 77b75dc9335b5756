#ifndef VORLANE_CORE_CONSTANTS_H
#define VORLANE_CORE_CONSTANTS_H

#include <QString>

namespace Vorlane::Core {

// Desktop entry groups and keys.
inline const QString GROUP_DESKTOP_ENTRY = QStringLiteral("Desktop Entry");
inline const QString GROUP_X_KXVORLANE_SETTINGS = QStringLiteral("X-KXVorlane Settings");
inline const QString ENTRY_NAME = QStringLiteral("Name");
inline const QString ENTRY_ICONPATH = QStringLiteral("Icon");
inline const QString ENTRY_TRYEXEC = QStringLiteral("TryExec");
inline const QString ENTRY_EXEC = QStringLiteral("Exec");
inline const QString ENTRY_X_DEFAULTREGION = QStringLiteral("X-DefaultRegion");
inline const QString ENTRY_X_WINDOWSTATE = QStringLiteral("X-WindowState");
inline const QString ENTRY_X_MINIMIZEDMODE = QStringLiteral("X-MinimizedMode");
inline const QString ENTRY_X_EXECUTABLE = QStringLiteral("X-Executable");
inline const QString ENTRY_X_SURFACECONTAINER = QStringLiteral("X-SurfaceContainer");
inline const QString ENTRY_X_QUICKBARELEMENT = QStringLiteral("X-QuickBarElement");

// Pseudo layout id whose regions apply to every layout an entry does not name.
inline const QString LAYOUT_DEFAULT = QStringLiteral("DEFAULT");
// Pseudo region id that stands for the quick bar, i.e. a minimised window.
inline const QString REGION_DEFAULT = QStringLiteral("QuickBar");

// Stacking number before the first region of a layout.
constexpr int REGION_START_Z = 10;

} // namespace Vorlane::Core

#endif // VORLANE_CORE_CONSTANTS_H
