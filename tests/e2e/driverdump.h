#ifndef VORLANE_TESTS_DRIVERDUMP_H
#define VORLANE_TESTS_DRIVERDUMP_H

#include "compositorfixture.h"

#include <QString>
#include <QStringList>

// Readers of the test driver's "dump" lines, which are words in name/value pairs such as
// "entry 0 pid 12 region left client 12/Probe/2 ...".
namespace DriverDump {

// The word after name in line, empty when there is none.
inline QString field(const QString &line, const QString &name)
{
    const QStringList words = line.split(QLatin1Char(' '));
    const int at = words.indexOf(name);
    return at >= 0 && at + 1 < words.size() ? words.at(at + 1) : QString();
}

// The dump's line for entry (or, with kind "dialog", dialog) index, empty when there is none.
inline QString entryLine(const QStringList &dump, int index,
                         const QString &kind = QStringLiteral("entry"))
{
    const QString prefix = QStringLiteral("%1 %2 ").arg(kind).arg(index);
    for (const QString &line : dump) {
        if (line.startsWith(prefix))
            return line;
    }
    return {};
}

inline QString dialogLine(const QStringList &dump, int index)
{
    return entryLine(dump, index, QStringLiteral("dialog"));
}

// The number of surfaces the compositor lists, -1 when the driver does not answer.
inline int entryCount(CompositorFixture &f)
{
    const QStringList dump = f.driverCommand(QStringLiteral("dump"));
    return dump.isEmpty() ? -1 : field(dump.first(), QStringLiteral("count")).toInt();
}

inline QString regionOf(CompositorFixture &f, int index)
{
    return field(entryLine(f.driverCommand(QStringLiteral("dump")), index),
                 QStringLiteral("region"));
}

} // namespace DriverDump

#endif // VORLANE_TESTS_DRIVERDUMP_H
