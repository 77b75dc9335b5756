#include "configuration.h"

#include <QSettings>

namespace Vorlane {

namespace {

const QString defaultPath = QStringLiteral("/etc/vorlane/config.ini");
const QString componentBase = QStringLiteral("qrc:///Kestrix/Vorlane/Application/");

QMap<QString, QVariant> toMap(const QList<QPair<QString, QVariant>> &list)
{
    QMap<QString, QVariant> map;
    for (const auto &entry : list)
        map.insert(entry.first, entry.second);
    return map;
}

} // namespace

const QList<QPair<QString, QVariant>> &Configuration::defaultsInOrder()
{
    static const QList<QPair<QString, QVariant>> table = {
        { QStringLiteral("Settings/Orientation"), 0 },
        { QStringLiteral("Settings/QuickBarPosition"), QStringLiteral("LEFT") },
        { QStringLiteral("Settings/LayoutsDir"), QStringLiteral("/etc/vorlane/layouts") },
        { QStringLiteral("Settings/ClientsDir"), QStringLiteral("/etc/vorlane/clients") },
        { QStringLiteral("Settings/DefaultMinimizedMode"), QStringLiteral("PAUSED") },
        { QStringLiteral("Settings/DefaultClientIcon"), componentBase + QStringLiteral("defaultClientIcon.gif") },
        { QStringLiteral("Settings/DefaultLayout"), QStringLiteral("DEFAULT_LAYOUT") },
        { QStringLiteral("Settings/DisableLayoutSelector"), 0 },
        { QStringLiteral("Settings/DisableQuickBar"), 0 },
        { QStringLiteral("Settings/DisableRegionSelect"), 0 },
        { QStringLiteral("Background/Color"), QStringLiteral("#444") },
        { QStringLiteral("Background/Image"), QString(QLatin1String("")) },
        { QStringLiteral("Background/ImageMarginTop"), 0 },
        { QStringLiteral("Background/ImageMarginBottom"), 0 },
        { QStringLiteral("Background/ImageMarginLeft"), 0 },
        { QStringLiteral("Background/ImageMarginRight"), 0 },
        { QStringLiteral("Background/FillMode"), QStringLiteral("FIT") },
        { QStringLiteral("QuickBar/DividerColor"), QStringLiteral("#111") },
        { QStringLiteral("QuickBar/Size"), 12 },
        { QStringLiteral("QuickBar/Spacing"), 10 },
        { QStringLiteral("QuickBar/Color"), QStringLiteral("#444") },
        { QStringLiteral("QuickBar/HeaderImage"), QString(QLatin1String("")) },
        { QStringLiteral("QuickBar/HeaderImageMarginTop"), 0 },
        { QStringLiteral("QuickBar/HeaderImageMarginBottom"), 0 },
        { QStringLiteral("QuickBar/HeaderImageMarginLeft"), 0 },
        { QStringLiteral("QuickBar/HeaderImageMarginRight"), 0 },
        { QStringLiteral("QuickBar/Label"), QStringLiteral("APPS") },
        { QStringLiteral("QuickBar/LabelColor"), QStringLiteral("#ccc") },
        { QStringLiteral("QuickBar/LabelSize"), 16 },
        { QStringLiteral("QuickBar/LabelBold"), 1 },
        { QStringLiteral("QuickBar/LabelFont"), QStringLiteral("Verdana") },
        { QStringLiteral("QuickBarElement/Color"), QStringLiteral("#555") },
        { QStringLiteral("QuickBarElement/HighlightColor"), QStringLiteral("#ddd") },
        { QStringLiteral("QuickBarElement/OnScreenColor"), QStringLiteral("#aaa") },
        { QStringLiteral("QuickBarElement/RunningColor"), QStringLiteral("#55a") },
        { QStringLiteral("QuickBarElement/PausedColor"), QStringLiteral("#333") },
        { QStringLiteral("QuickBarElement/StoppedColor"), QStringLiteral("#522") },
        { QStringLiteral("QuickBarElement/Radius"), 10 },
        { QStringLiteral("QuickBarElement/DecorationSizeFactor"), 1.0 },
        { QStringLiteral("QuickBarElement/ShowLabel"), 1 },
        { QStringLiteral("QuickBarElement/LabelColor"), QStringLiteral("#ddd") },
        { QStringLiteral("QuickBarElement/LabelSize"), 10 },
        { QStringLiteral("QuickBarElement/LabelBold"), 1 },
        { QStringLiteral("QuickBarElement/LabelFont"), QStringLiteral("Verdana") },
        { QStringLiteral("LayoutSelector/Radius"), 15 },
        { QStringLiteral("LayoutSelector/Color"), QStringLiteral("#555") },
        { QStringLiteral("LayoutSelector/BorderColor"), QStringLiteral("#111") },
        { QStringLiteral("LayoutSelector/Label"), QStringLiteral("Layout") },
        { QStringLiteral("LayoutSelector/LabelColor"), QStringLiteral("#ddd") },
        { QStringLiteral("LayoutSelector/LabelBold"), 1 },
        { QStringLiteral("LayoutSelector/LabelFont"), QStringLiteral("Verdana") },
        { QStringLiteral("LayoutSelector/LabelSizeFactor"), 1.0 },
        { QStringLiteral("LayoutSelector/ValueColor"), QStringLiteral("#ddd") },
        { QStringLiteral("LayoutSelector/ValueBackgroundColor"), QStringLiteral("#444") },
        { QStringLiteral("LayoutSelector/ListColor1"), QStringLiteral("#ddd") },
        { QStringLiteral("LayoutSelector/ListColor2"), QStringLiteral("#444") },
        { QStringLiteral("SurfaceContainer/FillColor"), QStringLiteral("#000") },
        { QStringLiteral("SurfaceContainer/ScaleToFit"), 1 },
        { QStringLiteral("Keyboard/Enabled"), 1 },
        { QStringLiteral("Keyboard/Languages"), QStringLiteral("en_US") },
        { QStringLiteral("Keyboard/Height"), 50 },
        { QStringLiteral("Components/QuickBar"), componentBase + QStringLiteral("QuickBar.qml") },
        { QStringLiteral("Components/QuickBarElement"), componentBase + QStringLiteral("QuickBarElement.qml") },
        { QStringLiteral("Components/SurfaceContainer"), componentBase + QStringLiteral("SurfaceContainer.qml") },
        { QStringLiteral("Components/RegionSelector"), componentBase + QStringLiteral("RegionSelector.qml") },
        { QStringLiteral("Components/RegionSelectorAreaElement"), componentBase + QStringLiteral("RegionArea.qml") },
        { QStringLiteral("Components/LayoutSelector"), componentBase + QStringLiteral("LayoutSelector.qml") },
    };
    return table;
}

const QMap<QString, QVariant> Configuration::m_defaults = toMap(Configuration::defaultsInOrder());

Configuration::Configuration(QObject *parent)
    : Configuration(QString(), parent)
{
}

Configuration::Configuration(const QString &path, QObject *parent)
    : QObject(parent)
    , m_settings(new QSettings(path.isEmpty() ? defaultPath : path, QSettings::IniFormat, this))
{
}

Configuration::~Configuration() = default;

QVariant Configuration::value(const QString &key) const
{
    return m_settings->value(key, m_defaults.value(key));
}

QVariant Configuration::value(const QString &key, const QVariant &defaultValue) const
{
    const QVariant result = value(key);
    return result.isValid() ? result : defaultValue;
}

void Configuration::setValue(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
}

} // namespace Vorlane
