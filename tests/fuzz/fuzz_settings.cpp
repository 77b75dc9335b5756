#include "configuration.h"
#include "fuzzinputs.h"

#include <QFile>

using Vorlane::Configuration;

namespace VorlaneFuzz {

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

QString checkSettingsFile(const uint8_t *data, size_t size)
{
    const QString path = writeScratchFile(data, size, ".ini");
    const QByteArray before = fileBytes(path);
    QString failure;
    {
        Configuration configuration(path);
        Configuration second(path);
        for (const auto &entry : Configuration::defaultsInOrder()) {
            const QVariant value = configuration.value(entry.first);
            if (!value.isValid()) {
                failure = QStringLiteral("known key without a value: ") + entry.first;
                break;
            }
            if (configuration.value(entry.first, QStringLiteral("caller")) != value) {
                failure = QStringLiteral("caller default overrides a known key: ") + entry.first;
                break;
            }
            if (second.value(entry.first) != value) {
                failure = QStringLiteral("two stores on one file disagree: ") + entry.first;
                break;
            }
        }
        // A key outside the table answers the caller's default unless the file holds it.
        const QString unknown = QStringLiteral("Fuzz/NotInTheTable");
        if (failure.isEmpty() && !configuration.value(unknown).isValid()
            && configuration.value(unknown, 5) != QVariant(5))
            failure = QStringLiteral("caller default lost for an unknown key");
    }
    if (failure.isEmpty() && fileBytes(path) != before)
        failure = QStringLiteral("reading the settings changed the file");
    removeScratchFile(path);
    return failure;
}

} // namespace VorlaneFuzz
