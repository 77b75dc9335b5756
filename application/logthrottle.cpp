#include "logthrottle.h"

#include "messagethrottle.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QString>

namespace Vorlane::LogThrottle {
namespace {

constexpr qint64 INTERVAL_MS = 10000;
// Kinds remembered at once; a client that varies its messages cannot grow the table beyond it.
constexpr int MAX_KINDS = 128;
// Long enough to tell kinds apart, short enough that a client's text after it does not.
constexpr int KIND_LENGTH = 96;

struct Kind
{
    MessageThrottle throttle { 5, INTERVAL_MS };
    QElapsedTimer lastSeen;
};

QtMessageHandler previous = nullptr;
QMutex mutex;
QHash<QString, Kind> kinds;
// Shared by the kinds that arrive while the table is full of recently seen ones.
Kind overflow;

QString kindOf(const QMessageLogContext &context, const QString &message)
{
    QString kind = QString::fromLatin1(context.category ? context.category : "") + u':';
    bool inNumber = false;
    for (qsizetype i = 0; i < message.size() && kind.size() < KIND_LENGTH; ++i) {
        // Numbers, hexadecimal ones included, are object ids, sizes and addresses.
        const QChar c = message.at(i);
        const bool digit = c.isDigit() || (inNumber && (c.isLetter() && c.toLower() <= u'x'));
        if (!digit)
            kind += c;
        else if (!inNumber)
            kind += u'#';
        inNumber = digit;
    }
    return kind;
}

Kind &kindFor(const QString &key)
{
    auto it = kinds.find(key);
    if (it != kinds.end())
        return it.value();
    if (kinds.size() >= MAX_KINDS) {
        for (auto old = kinds.begin(); old != kinds.end();) {
            if (old.value().lastSeen.elapsed() >= INTERVAL_MS)
                old = kinds.erase(old);
            else
                ++old;
        }
        if (kinds.size() >= MAX_KINDS)
            return overflow;
    }
    return kinds[key];
}

void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtWarningMsg && type != QtCriticalMsg) {
        previous(type, context, message);
        return;
    }
    int suppressed = 0;
    {
        QMutexLocker locker(&mutex);
        Kind &kind = kindFor(kindOf(context, message));
        kind.lastSeen.start();
        if (!kind.throttle.allow())
            return;
        suppressed = kind.throttle.takeSuppressed();
    }
    if (suppressed == 0)
        previous(type, context, message);
    else
        previous(type, context,
                 message + QStringLiteral(" (%1 similar messages suppressed)").arg(suppressed));
}

} // namespace

void install()
{
    previous = qInstallMessageHandler(handle);
}

} // namespace Vorlane::LogThrottle
