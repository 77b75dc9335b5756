#ifndef VORLANE_CONFIGURATION_H
#define VORLANE_CONFIGURATION_H

#include <QMap>
#include <QObject>
#include <QString>
#include <QVariant>

class QSettings;

namespace Vorlane {

// Read access to the INI settings file, with a built-in default for every known key.
class Configuration : public QObject
{
    Q_OBJECT

public:
    explicit Configuration(QObject *parent = nullptr);
    explicit Configuration(const QString &path, QObject *parent = nullptr);
    ~Configuration() override;

    Q_INVOKABLE QVariant value(const QString &key) const;
    Q_INVOKABLE QVariant value(const QString &key, const QVariant &defaultValue) const;
    Q_INVOKABLE void setValue(const QString &key, const QVariant &value);

    // The built-in table, in its documented order.
    static const QList<QPair<QString, QVariant>> &defaultsInOrder();

private:
    QSettings *m_settings = nullptr;
    static const QMap<QString, QVariant> m_defaults;
};

} // namespace Vorlane

#endif // VORLANE_CONFIGURATION_H
