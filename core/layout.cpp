#include "layout.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>

namespace Vorlane::Core {

namespace {

const char *const ReadLayoutsSignature = "static void Vorlane::Core::Layout::readLayouts(QObject*, "
                                         "QString, QList<Vorlane::Core::Layout*>&)";
const char *const ParseLayoutFileSignature = "static void "
                                             "Vorlane::Core::Layout::parseLayoutFile(QString, "
                                             "QList<Vorlane::Core::Layout*>&, QObject*)";

const QString FallbackLayoutPath = QStringLiteral(":/defaults/fallbacklayout.json");
const QString SampleOutputPath = QStringLiteral("/home/kxuser/output.json");

// Layout files are a few kilobytes; anything this large is not a layout file and reading it
// whole could exhaust the device's memory.
constexpr qint64 MaxLayoutFileSize = 64 * 1024 * 1024;

Region *addSampleRegion(QObject *parent, QList<Region *> &list, const QString &id,
                        const QString &name, double x, double y, double width, double height)
{
    auto *region = new Region(parent);
    region->setId(id);
    region->setName(name);
    region->setX(x);
    region->setY(y);
    region->setWidth(width);
    region->setHeight(height);
    list.append(region);
    return region;
}

} // namespace

Layout::Layout(QObject *parent)
    : QObject(parent)
{ }

QString Layout::id() const
{
    return m_id;
}

QString Layout::name() const
{
    return m_name;
}

QString Layout::defaultRegion() const
{
    return m_defaultRegion;
}

QString Layout::dropHandler() const
{
    return m_dropHandler;
}

QList<Region *> &Layout::regions()
{
    return m_regions;
}

void Layout::setId(const QString &id)
{
    m_id = id;
}

void Layout::setName(const QString &name)
{
    m_name = name;
}

void Layout::setDefaultRegion(const QString &defaultRegion)
{
    m_defaultRegion = defaultRegion;
}

void Layout::setDropHandler(const QString &dropHandler)
{
    m_dropHandler = dropHandler;
}

bool Layout::regionExists(const QString &regionId) const
{
    return std::any_of(m_regions.cbegin(), m_regions.cend(), [&regionId](const Region *region) {
        return region && region->containsRegion(regionId);
    });
}

void Layout::readJson(QJsonObject &json)
{
    m_id = getJsonString(json, QStringLiteral("id"));
    m_name = getJsonString(json, QStringLiteral("name"));
    m_defaultRegion = getJsonString(json, QStringLiteral("defaultRegion"));
    const QJsonArray regions = getJsonArray(json, QStringLiteral("regions"));

    m_regions.clear();
    // Stacking numbers run on through the whole layout in pre-order.
    int counter = REGION_START_Z;
    for (const QJsonValue &value : regions) {
        auto *region = new Region(this);
        ++counter;
        counter = region->readJson(value.toObject(), counter);
        m_regions.append(region);
    }
    // "dropHandler" is deliberately not taken over: nothing uses it.
}

void Layout::writeJson(QJsonObject &json) const
{
    json[QStringLiteral("id")] = m_id;
    json[QStringLiteral("name")] = m_name;
    json[QStringLiteral("defaultRegion")] = m_defaultRegion;
    json[QStringLiteral("dropHandler")] = m_dropHandler;
    QJsonArray regions;
    for (const Region *region : m_regions) {
        if (!region)
            continue;
        QJsonObject regionJson;
        region->writeJson(regionJson);
        regions.append(regionJson);
    }
    json[QStringLiteral("regions")] = regions;
}

void Layout::readLayouts(QObject *parent, const QString &dir, QList<Layout *> &layouts)
{
    // An empty path means the working directory; "." keeps the file paths relative to it
    // instead of turning them into paths below the root.
    const QString base = dir.isEmpty() ? QStringLiteral(".") : dir;
    const QDir directory(base);
    if (!directory.exists()) {
        qWarning() << ReadLayoutsSignature << "Layouts directory missing!";
    } else {
        // Without QDir::CaseSensitive the name filter ignores case; hidden files and
        // directories are left out, symbolic links to files are kept.
        QStringList names
            = directory.entryList({ QStringLiteral("*.json") }, QDir::Files, QDir::Unsorted);
        // Plain UTF-16 order: upper-case initials before lower-case ones, no locale collation.
        std::sort(names.begin(), names.end());
        for (const QString &name : std::as_const(names))
            parseLayoutFile(base + QLatin1Char('/') + name, layouts, parent);
    }

    if (layouts.isEmpty()) {
        qInfo() << ReadLayoutsSignature
                << "No valid layouts read. Falling back on builtin default.";
        parseLayoutFile(FallbackLayoutPath, layouts, parent);
    }
}

void Layout::parseLayoutFile(const QString &path, QList<Layout *> &layouts, QObject *parent)
{
    if (!QFile::exists(path)) {
        qWarning() << ParseLayoutFileSignature << "layout file [" << path << "] not found.";
        return;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << ParseLayoutFileSignature
                   << "Could not open layouts config file for reading: " << path;
        return;
    }
    if (file.size() > MaxLayoutFileSize) {
        qWarning() << ParseLayoutFileSignature << "Layout file too large, skipped: " << path;
        return;
    }

    // Parse errors (including nesting beyond the parser's depth limit) leave an empty object,
    // which is reported below like any file without layouts.
    const QJsonObject top = QJsonDocument::fromJson(file.readAll()).object();
    const auto it = top.constFind(QStringLiteral("layouts"));
    if (it == top.constEnd() || !it->isArray()) {
        qWarning() << ParseLayoutFileSignature << "layouts section missing in" << path;
        return;
    }

    const QJsonArray array = it->toArray();
    for (const QJsonValue &value : array) {
        QJsonObject object = value.toObject();
        auto *layout = new Layout(parent);
        layout->readJson(object);
        layouts.append(layout);
    }
}

void Layout::writeLayouts(QList<Layout *> layouts)
{
    // The samples live only for this call; the owner deletes them on the way out.
    QObject owner;

    auto *layout1 = new Layout(&owner);
    layout1->setId(QStringLiteral("testLayout1"));
    layout1->setName(QStringLiteral("Test-Layout 1"));
    layout1->setDefaultRegion(QStringLiteral("left"));
    layout1->setDropHandler(QStringLiteral("dropHandler1.qml"));
    Region *reg1 = addSampleRegion(layout1, layout1->regions(), QStringLiteral("reg1"),
                                   QStringLiteral("Region 1"), 10, 20, 100, 200);
    Region *subReg1 = addSampleRegion(reg1, reg1->regions(), QStringLiteral("subReg1"),
                                      QStringLiteral("Sub-Region 1"), 15, 25, 105, 205);
    addSampleRegion(subReg1, subReg1->regions(), QStringLiteral("subReg1.1"),
                    QStringLiteral("Sub-Region 1.1"), 16, 26, 106, 206);
    Region *reg2 = addSampleRegion(layout1, layout1->regions(), QStringLiteral("reg2"),
                                   QStringLiteral("Region 2"), 11, 21, 110, 210);
    addSampleRegion(reg2, reg2->regions(), QStringLiteral("subReg2"),
                    QStringLiteral("Sub-Region 2"), 17, 27, 107, 207);
    layouts.append(layout1);

    auto *layout2 = new Layout(&owner);
    layout2->setId(QStringLiteral("testLayout2"));
    layout2->setName(QStringLiteral("Test-Layout 2"));
    layout2->setDefaultRegion(QStringLiteral("right"));
    layout2->setDropHandler(QStringLiteral("dropHandler2.qml"));
    addSampleRegion(layout2, layout2->regions(), QStringLiteral("reg3"), QStringLiteral("Region 3"),
                    12, 22, 120, 220);
    addSampleRegion(layout2, layout2->regions(), QStringLiteral("reg4"), QStringLiteral("Region 4"),
                    13, 23, 130, 230);
    layouts.append(layout2);

    QJsonArray array;
    for (const Layout *layout : std::as_const(layouts)) {
        if (!layout)
            continue;
        QJsonObject object;
        layout->writeJson(object);
        array.append(object);
    }
    QJsonObject top;
    top[QStringLiteral("layouts")] = array;

    QFile file(SampleOutputPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)) {
        qWarning() << "Could not open layouts config file for writing: " << SampleOutputPath;
        return;
    }
    file.write(QJsonDocument(top).toJson(QJsonDocument::Indented));
}

} // namespace Vorlane::Core
