#include "onscreenkeyboard.h"

#include "configuration.h"

#include <QDebug>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QString>

namespace Vorlane::OnScreenKeyboard {

namespace {

const QByteArray inputMethodModule = QByteArrayLiteral("qtvirtualkeyboard");

// The input context plugin and the QML modules the panel needs; without the folder list model
// the panel fails to build its keyboard.
bool moduleInstalled()
{
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    const QString qml = QLibraryInfo::path(QLibraryInfo::QmlImportsPath);
    return QFileInfo::exists(
               plugins + QStringLiteral("/platforminputcontexts/libqtvirtualkeyboardplugin.so"))
        && QFileInfo::exists(qml + QStringLiteral("/QtQuick/VirtualKeyboard/qmldir"))
        && QFileInfo::exists(qml + QStringLiteral("/Qt/labs/folderlistmodel/qmldir"));
}

} // namespace

QString configFileArgument(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if ((argument == QLatin1String("-c") || argument == QLatin1String("--configfile"))
            && i + 1 < argc)
            return QString::fromLocal8Bit(argv[i + 1]);
        for (const QLatin1String prefix :
             { QLatin1String("--configfile="), QLatin1String("-c=") }) {
            if (argument.startsWith(prefix))
                return argument.mid(prefix.size());
        }
    }
    return QString();
}

bool prepare(const Configuration &configuration)
{
    // A switch is 1 as a number or as text from the file.
    if (configuration.value(QStringLiteral("Keyboard/Enabled")).toString().trimmed()
        != QLatin1String("1"))
        return false;
    const QByteArray chosen = qgetenv("QT_IM_MODULE");
    if (!chosen.isEmpty() && chosen != inputMethodModule) {
        qInfo() << "The input method" << chosen.constData()
                << "is chosen by QT_IM_MODULE; the on-screen keyboard is off";
        return false;
    }
    if (!moduleInstalled()) {
        qWarning() << "Qt Virtual Keyboard is not installed; the on-screen keyboard is off";
        return false;
    }
    qputenv("QT_IM_MODULE", inputMethodModule);
    // Without this the input context opens a window of its own for the panel.
    qputenv("QT_VIRTUALKEYBOARD_DESKTOP_DISABLE", "1");
    return true;
}

} // namespace Vorlane::OnScreenKeyboard
