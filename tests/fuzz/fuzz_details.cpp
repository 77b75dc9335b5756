#include "details.h"
#include "fuzzinputs.h"

#include <QRegularExpression>

using Vorlane::Core::Details;

namespace VorlaneFuzz {

namespace {

const QRegularExpression &idPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9-]+$"));
    return pattern;
}

QString checkInvalid(const Details &details)
{
    if (details.name(true) != QLatin1String("Unknown name"))
        return QStringLiteral("invalid entry has a name");
    if (details.iconPath() != QLatin1String("Default") || !details.tryExec().isEmpty()
        || !details.exec().isEmpty() || !details.program().isEmpty()
        || !details.arguments().isEmpty() || details.executable())
        return QStringLiteral("invalid entry answers a value other than the default");
    if (details.windowState() != Details::WS_NORMAL
        || details.minimizedMode() != Details::MM_RUNNING)
        return QStringLiteral("invalid entry has a non-default state");
    if (!details.defaultRegions().isEmpty())
        return QStringLiteral("invalid entry has default regions");
    return {};
}

QString checkValid(const Details &details)
{
    const QMap<QString, QStringList> regions = details.defaultRegions();
    if (!regions.contains(QStringLiteral("DEFAULT")))
        return QStringLiteral("valid entry lacks the DEFAULT layout");
    for (auto it = regions.cbegin(); it != regions.cend(); ++it) {
        if (it.value().isEmpty())
            return QStringLiteral("layout with an empty region list: ") + it.key();
        if (!idPattern().match(it.key()).hasMatch())
            return QStringLiteral("malformed layout id: ") + it.key();
        for (const QString &region : it.value()) {
            if (!idPattern().match(region).hasMatch())
                return QStringLiteral("malformed region id: ") + region;
        }
    }
    if (details.defaultRegion(QStringLiteral("no layout has this id"))
        != regions.value(QStringLiteral("DEFAULT")))
        return QStringLiteral("unknown layout does not fall back to DEFAULT");
    const QVariantMap variantMap = details.defaultRegionsVariantMap();
    if (variantMap.keys() != regions.keys())
        return QStringLiteral("variant map keys differ from the region map");

    const QString program = details.program();
    const QStringList arguments = details.arguments();
    for (const QChar c : program) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return QStringLiteral("program holds a blank or non-ASCII character");
    }
    if (program.isEmpty() && !arguments.isEmpty())
        return QStringLiteral("arguments without a program");
    if (!program.isEmpty()) {
        const QString exec = details.exec();
        if (!exec.startsWith(program))
            return QStringLiteral("program is not the start of Exec");
        if (!arguments.isEmpty() && !exec.endsWith(arguments.join(QLatin1Char(' '))))
            return QStringLiteral("arguments are not the end of Exec");
    }
    if (details.iconPath().isEmpty() || details.surfaceContainer().isEmpty()
        || details.quickBarElement().isEmpty())
        return QStringLiteral("an empty value where the sentinel Default is due");
    if (details.windowState() != Details::WS_NORMAL
        && details.windowState() != Details::WS_MINIMIZED)
        return QStringLiteral("window state out of range");
    if (details.minimizedMode() != Details::MM_RUNNING
        && details.minimizedMode() != Details::MM_PAUSED
        && details.minimizedMode() != Details::MM_TERMINATED)
        return QStringLiteral("minimised mode out of range");
    return {};
}

bool sameAnswers(const Details &a, const Details &b)
{
    return a.valid() == b.valid() && a.name(true) == b.name(true) && a.name(false) == b.name(false)
        && a.iconPath() == b.iconPath() && a.tryExec() == b.tryExec() && a.exec() == b.exec()
        && a.arguments() == b.arguments() && a.windowState() == b.windowState()
        && a.minimizedMode() == b.minimizedMode() && a.executable() == b.executable()
        && a.defaultRegions() == b.defaultRegions();
}

// The three strings of a synthetic description, taken from the input split at NUL bytes.
QString checkSynthetic(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size))
              .split('\0');
    const QString name = QString::fromUtf8(parts.value(0));
    const QString tryExec = QString::fromUtf8(parts.value(1));
    // The registry hands over a trimmed command line.
    const QString exec = QString::fromUtf8(parts.value(2)).trimmed();
    Details synthetic(name, tryExec, exec);
    if (!synthetic.valid())
        return QStringLiteral("synthetic description is invalid");
    if (synthetic.name(false) != name || synthetic.tryExec() != tryExec || synthetic.exec() != exec)
        return QStringLiteral("synthetic description does not keep its strings");
    QMap<QString, QStringList> expected;
    expected.insert(QStringLiteral("DEFAULT"), { QStringLiteral("QuickBar") });
    if (synthetic.defaultRegions() != expected)
        return QStringLiteral("synthetic description has other default regions");
    if (synthetic.executable())
        return QStringLiteral("synthetic description is executable");
    return checkValid(synthetic);
}

} // namespace

QString checkDesktopEntry(const uint8_t *data, size_t size)
{
    const QString path = writeScratchFile(data, size, ".desktop");
    QString failure;
    {
        Details details(path);
        failure = details.valid() ? checkValid(details) : checkInvalid(details);
        if (failure.isEmpty()) {
            Details again(path);
            if (!sameAnswers(details, again))
                failure = QStringLiteral("two parses of one file differ");
        }
    }
    removeScratchFile(path);
    if (failure.isEmpty())
        failure = checkSynthetic(data, size);
    return failure;
}

} // namespace VorlaneFuzz
