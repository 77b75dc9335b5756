#ifndef VORLANE_CORE_DETAILS_H
#define VORLANE_CORE_DETAILS_H

#include "constants.h"
#include "vorlane_core_global.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace Vorlane::Core {

// The parsed desktop entry of one client program; read-only once constructed.
class VORLANE_CORE_EXPORT Details : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ localizedName CONSTANT)
    Q_PROPERTY(QString iconPath READ iconPath CONSTANT)
    Q_PROPERTY(WindowState windowState READ windowState CONSTANT)
    Q_PROPERTY(MinimizedMode minimizedMode READ minimizedMode CONSTANT)
    Q_PROPERTY(QString surfaceContainer READ surfaceContainer CONSTANT)
    Q_PROPERTY(QString quickBarElement READ quickBarElement CONSTANT)
    Q_PROPERTY(bool executable READ executable CONSTANT)
    Q_PROPERTY(QVariantMap defaultRegions READ defaultRegionsVariantMap CONSTANT)

public:
    enum WindowState { WS_MINIMIZED = 0, WS_NORMAL = 1 };
    Q_ENUM(WindowState)
    enum MinimizedMode { MM_TERMINATED = 0, MM_RUNNING = 1, MM_PAUSED = 2 };
    Q_ENUM(MinimizedMode)

    explicit Details(QObject *parent = nullptr);
    explicit Details(const QString &path, QObject *parent = nullptr);
    Details(const QString &name, const QString &tryExec, const QString &exec,
            QObject *parent = nullptr);

    bool valid() const;
    bool value(const QString &group, const QString &key, QVariant &value, bool localized) const;

    QString name(bool localized) const;
    QString iconPath() const;
    QString tryExec() const;
    QString exec() const;
    QString program() const;
    QStringList arguments() const;
    WindowState windowState() const;
    MinimizedMode minimizedMode() const;
    bool executable() const;
    QString surfaceContainer() const;
    QString quickBarElement() const;

    Q_INVOKABLE QStringList defaultRegion(const QString &layoutName = LAYOUT_DEFAULT) const;
    QMap<QString, QStringList> defaultRegions() const;
    QVariantMap defaultRegionsVariantMap() const;

private:
    QString localizedName() const { return name(true); }
    bool parseDesktop(const QString &path);
    bool validate();
    void parseLayoutRegions();
    QString parseExec(int index) const;

    QMap<QString, QMap<QString, QString>> m_groups;
    QMap<QString, QStringList> m_defaultRegions;
    bool m_valid = false;

    static const QMap<QString, WindowState> m_windowStates;
    static const QMap<QString, MinimizedMode> m_minimizedModes;
};

} // namespace Vorlane::Core

#endif // VORLANE_CORE_DETAILS_H
