#include "fuzzinputs.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

namespace VorlaneFuzz {

namespace {

QTemporaryDir &scratchDir()
{
    static QTemporaryDir dir;
    return dir;
}

void dropMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Fatal messages still end the process, so a qFatal in a parser stays a finding.
    if (type == QtFatalMsg) {
        fprintf(stderr, "fatal: %s\n", qPrintable(message));
        abort();
    }
}

} // namespace

QString writeScratchFile(const uint8_t *data, size_t size, const char *suffix)
{
    static quint64 counter = 0;
    const QString path = scratchDir().filePath(QString::number(++counter) + QLatin1String(suffix));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the scratch file %s", qPrintable(path));
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    return path;
}

void removeScratchFile(const QString &path)
{
    QFile::remove(path);
}

void silenceMessages()
{
    qInstallMessageHandler(dropMessage);
}

} // namespace VorlaneFuzz
