#ifndef LAYOUTMESSAGES_H
#define LAYOUTMESSAGES_H

#include <QStringList>
#include <QtGlobal>

// Collects every message written while it lives, as "W: text" or "I: text", so a test can
// compare wording, level and order at once.
class MessageLog
{
public:
    MessageLog() { s_previous = qInstallMessageHandler(&MessageLog::handle), s_lines.clear(); }
    ~MessageLog() { qInstallMessageHandler(s_previous); }
    QStringList lines() const { return s_lines; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        const char *level = type == QtInfoMsg ? "I: " : type == QtWarningMsg ? "W: " : "D: ";
        s_lines.append(QLatin1String(level) + text);
    }
    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
};

inline QString stringWarning(const char *key)
{
    return QStringLiteral("W: JSON string value not found:  \"%1\"").arg(QLatin1String(key));
}
inline QString doubleWarning(const char *key)
{
    return QStringLiteral("W: JSON double value not found:  \"%1\"").arg(QLatin1String(key));
}
inline QString arrayWarning()
{
    return QStringLiteral("W: JSON array value not found:  \"regions\"");
}

#endif // LAYOUTMESSAGES_H
