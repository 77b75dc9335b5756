#include "details.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

namespace Vorlane::Core {

const QMap<QString, Details::WindowState> Details::m_windowStates = {
    { QStringLiteral("MINIMIZED"), Details::WS_MINIMIZED },
    { QStringLiteral("NORMAL"), Details::WS_NORMAL },
};

const QMap<QString, Details::MinimizedMode> Details::m_minimizedModes = {
    { QStringLiteral("TERMINATED"), Details::MM_TERMINATED },
    { QStringLiteral("RUNNING"), Details::MM_RUNNING },
    { QStringLiteral("PAUSED"), Details::MM_PAUSED },
};

namespace {
const QString DEFAULT_SENTINEL = QStringLiteral("Default");
} // namespace

Details::Details(QObject *parent)
    : QObject(parent)
{ }

Details::Details(const QString &path, QObject *parent)
    : QObject(parent)
{
    if (parseDesktop(path)) {
        m_valid = true;
        parseLayoutRegions();
    } else {
        qWarning() << "Could not parse file in path: " << path;
    }
}

Details::Details(const QString &name, const QString &tryExec, const QString &exec, QObject *parent)
    : QObject(parent)
{
    QMap<QString, QString> &entry = m_groups[GROUP_DESKTOP_ENTRY];
    entry.insert(ENTRY_NAME, name);
    entry.insert(ENTRY_TRYEXEC, tryExec);
    entry.insert(ENTRY_EXEC, exec);
    m_defaultRegions.insert(LAYOUT_DEFAULT, { REGION_DEFAULT });
    m_valid = true;
}

bool Details::valid() const
{
    return m_valid;
}

bool Details::value(const QString &group, const QString &key, QVariant &value, bool localized) const
{
    const auto groupIt = m_groups.constFind(group);
    if (!m_valid || groupIt == m_groups.constEnd() || !groupIt->contains(key)) {
        value = QVariant(QString());
        return false;
    }

    if (localized) {
        const QLocale locale = QLocale::system();
        const QString language = QLocale::languageToCode(locale.language());
        const QString territory = QLocale::territoryToCode(locale.territory());
        if (!language.isEmpty() && !territory.isEmpty()) {
            const auto it = groupIt->constFind(key + u'[' + language + u'_' + territory + u']');
            if (it != groupIt->constEnd()) {
                value = QVariant(*it);
                return true;
            }
        }
        if (!language.isEmpty()) {
            const auto it = groupIt->constFind(key + u'[' + language + u']');
            if (it != groupIt->constEnd()) {
                value = QVariant(*it);
                return true;
            }
        }
    }

    value = QVariant(groupIt->value(key));
    return true;
}

QString Details::name(bool localized) const
{
    QVariant result;
    if (!value(GROUP_DESKTOP_ENTRY, ENTRY_NAME, result, localized))
        return QStringLiteral("Unknown name");
    return result.toString();
}

QString Details::iconPath() const
{
    QVariant result;
    if (!value(GROUP_DESKTOP_ENTRY, ENTRY_ICONPATH, result, false) || result.toString().isEmpty())
        return DEFAULT_SENTINEL;
    return result.toString();
}

QString Details::tryExec() const
{
    QVariant result;
    value(GROUP_DESKTOP_ENTRY, ENTRY_TRYEXEC, result, false);
    return result.toString();
}

QString Details::exec() const
{
    QVariant result;
    value(GROUP_DESKTOP_ENTRY, ENTRY_EXEC, result, false);
    return result.toString();
}

QString Details::program() const
{
    return parseExec(1);
}

QStringList Details::arguments() const
{
    const QString text = parseExec(2);
    if (text.isEmpty())
        return {};
    return text.split(u' ', Qt::KeepEmptyParts);
}

Details::WindowState Details::windowState() const
{
    QVariant result;
    if (!value(GROUP_X_KXVORLANE_SETTINGS, ENTRY_X_WINDOWSTATE, result, false))
        return WS_NORMAL;
    return m_windowStates.value(result.toString(), WS_NORMAL);
}

Details::MinimizedMode Details::minimizedMode() const
{
    QVariant result;
    if (!value(GROUP_X_KXVORLANE_SETTINGS, ENTRY_X_MINIMIZEDMODE, result, false))
        return MM_RUNNING;
    return m_minimizedModes.value(result.toString(), MM_RUNNING);
}

bool Details::executable() const
{
    QVariant result;
    if (!value(GROUP_X_KXVORLANE_SETTINGS, ENTRY_X_EXECUTABLE, result, false))
        return false;
    // The usual string-to-bool reading: only "", "0" and "false" (any case) are false.
    const QString text = result.toString();
    return !(text.isEmpty() || text == u'0'
             || text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0);
}

QString Details::surfaceContainer() const
{
    QVariant result;
    if (!value(GROUP_X_KXVORLANE_SETTINGS, ENTRY_X_SURFACECONTAINER, result, false)
        || result.toString().isEmpty())
        return DEFAULT_SENTINEL;
    return result.toString();
}

QString Details::quickBarElement() const
{
    QVariant result;
    if (!value(GROUP_X_KXVORLANE_SETTINGS, ENTRY_X_QUICKBARELEMENT, result, false)
        || result.toString().isEmpty())
        return DEFAULT_SENTINEL;
    return result.toString();
}

QStringList Details::defaultRegion(const QString &layoutName) const
{
    const auto it = m_defaultRegions.constFind(layoutName);
    if (it != m_defaultRegions.constEnd())
        return *it;
    return m_defaultRegions.value(LAYOUT_DEFAULT);
}

QMap<QString, QStringList> Details::defaultRegions() const
{
    return m_defaultRegions;
}

QVariantMap Details::defaultRegionsVariantMap() const
{
    QVariantMap map;
    for (auto it = m_defaultRegions.constBegin(); it != m_defaultRegions.constEnd(); ++it)
        map.insert(it.key(), QVariant::fromValue(it.value()));
    return map;
}

bool Details::parseDesktop(const QString &path)
{
    // Only regular files (or links to them): a FIFO or a device would block or never end.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;

    static const QRegularExpression headerExpression(QStringLiteral("^\\[([\\x20-\\x7E]+)\\]$"));
    static const QRegularExpression keyExpression(
        QStringLiteral("(^[A-Za-z0-9-]+(\\[[A-Za-z0-9_\\-.@]+\\])?)\\s*=\\s*(.+)"));

    QString currentGroup;
    bool headerSeen = false;

    while (!file.atEnd()) {
        QByteArray raw = file.readLine();
        while (raw.endsWith('\n') || raw.endsWith('\r'))
            raw.chop(1);
        if (raw.isEmpty() || raw.startsWith('#'))
            continue;
        const QString line = QString::fromUtf8(raw);

        const QRegularExpressionMatch header = headerExpression.match(line);
        if (header.hasMatch()) {
            currentGroup = header.captured(1);
            headerSeen = true;
            if (!m_groups.contains(currentGroup))
                m_groups.insert(currentGroup, {});
            continue;
        }

        if (!headerSeen || currentGroup.isEmpty())
            continue;
        const QRegularExpressionMatch keyLine = keyExpression.match(line);
        if (!keyLine.hasMatch())
            continue;
        QMap<QString, QString> &group = m_groups[currentGroup];
        const QString key = keyLine.captured(1);
        if (!group.contains(key))
            group.insert(key, keyLine.captured(3).trimmed());
    }

    return validate();
}

bool Details::validate()
{
    const auto entry = m_groups.constFind(GROUP_DESKTOP_ENTRY);
    if (m_groups.isEmpty() || entry == m_groups.constEnd()) {
        qWarning() << Q_FUNC_INFO << "entry empty or missing group desktop section";
        return false;
    }
    for (const QString &key : { ENTRY_NAME, ENTRY_TRYEXEC, ENTRY_EXEC }) {
        if (!entry->contains(key))
            return false;
    }
    return true;
}

void Details::parseLayoutRegions()
{
    QVariant regions;
    if (value(GROUP_X_KXVORLANE_SETTINGS, ENTRY_X_DEFAULTREGION, regions, false)) {
        static const QRegularExpression pairExpression(
            QStringLiteral("([A-Za-z0-9-]+)\\s*:\\s*([A-Za-z0-9-]+)"));
        const QStringList pieces = regions.toString().split(u';', Qt::KeepEmptyParts);
        for (const QString &piece : pieces) {
            const QRegularExpressionMatch match = pairExpression.match(piece);
            if (match.hasMatch())
                m_defaultRegions[match.captured(1)].append(match.captured(2));
        }
    }
    if (!m_defaultRegions.contains(LAYOUT_DEFAULT))
        m_defaultRegions.insert(LAYOUT_DEFAULT, { REGION_DEFAULT });
}

QString Details::parseExec(int index) const
{
    QVariant command;
    if (!value(GROUP_DESKTOP_ENTRY, ENTRY_EXEC, command, false))
        return QString();

    // The program must be followed by a blank or the end: a path with a character outside
    // printable ASCII is refused as a whole instead of being cut short into another program.
    static const QRegularExpression execExpression(
        QStringLiteral("^([\\x21-\\x7E]+)(?:[\\x20]+([^\\t+\\n\\r]*))?$"));
    const QRegularExpressionMatch match = execExpression.match(command.toString());
    if (!match.hasMatch())
        return QString();
    return match.captured(index);
}

} // namespace Vorlane::Core
