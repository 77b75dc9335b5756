#include "fuzzinputs.h"
#include "layout.h"
#include "region.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>

#include <cmath>

using Vorlane::Core::Layout;
using Vorlane::Core::Region;

namespace VorlaneFuzz {

namespace {

// Walks a region list in pre-order and checks numbering, parents and conflict lists.
QString checkRegions(Layout *layout, QList<Region *> &regions, QObject *expectedParent,
                     QStringList ancestors, int &z)
{
    for (Region *region : regions) {
        if (!region)
            return QStringLiteral("null region in a list");
        if (region->parent() != expectedParent)
            return QStringLiteral("region with a wrong parent");
        if (region->z() != ++z)
            return QStringLiteral("stacking numbers are not consecutive in pre-order");
        if (!layout->regionExists(region->id()))
            return QStringLiteral("regionExists misses region ") + region->id();
        const QStringList &conflicts = region->conflictsWith();
        if (conflicts.isEmpty() || conflicts.first() != region->id())
            return QStringLiteral("conflict list does not start with the region itself");
        for (int i = 0; i < ancestors.size(); ++i) {
            if (conflicts.value(i + 1) != ancestors.at(i))
                return QStringLiteral("conflict list lacks an ancestor");
        }
        QStringList childAncestors = ancestors;
        childAncestors.prepend(region->id());
        const int before = z;
        const QString failure = checkRegions(layout, region->regions(), region, childAncestors, z);
        if (!failure.isEmpty())
            return failure;
        if (conflicts.size() != 1 + ancestors.size() + (z - before))
            return QStringLiteral("conflict list does not hold exactly ancestors and descendants");
    }
    return {};
}

bool sameNumber(double a, double b)
{
    if (!std::isfinite(a) || !std::isfinite(b))
        return true;
    return a == b;
}

bool sameTree(QList<Region *> &a, QList<Region *> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        Region *x = a.at(i);
        Region *y = b.at(i);
        if (x->id() != y->id() || x->name() != y->name() || x->z() != y->z()
            || !sameNumber(x->x(), y->x()) || !sameNumber(x->y(), y->y())
            || !sameNumber(x->width(), y->width()) || !sameNumber(x->height(), y->height())
            || x->conflictsWith() != y->conflictsWith() || !sameTree(x->regions(), y->regions()))
            return false;
    }
    return true;
}

QString checkLayouts(QList<Layout *> &layouts, QObject *parent)
{
    for (Layout *layout : layouts) {
        if (!layout || layout->parent() != parent)
            return QStringLiteral("layout without the given parent");
        int z = Vorlane::Core::REGION_START_Z;
        const QString failure = checkRegions(layout, layout->regions(), layout, {}, z);
        if (!failure.isEmpty())
            return failure;

        // What the writer emits must read back as the same layout.
        QJsonObject written;
        layout->writeJson(written);
        Layout reread;
        reread.readJson(written);
        if (reread.id() != layout->id() || reread.name() != layout->name()
            || reread.defaultRegion() != layout->defaultRegion()
            || !sameTree(reread.regions(), layout->regions()))
            return QStringLiteral("written layout reads back differently");
    }
    return {};
}

} // namespace

QString checkLayoutFile(const uint8_t *data, size_t size)
{
    const QString path = writeScratchFile(data, size, ".json");
    QString failure;
    {
        QObject parent;
        QList<Layout *> layouts;
        Layout::parseLayoutFile(path, layouts, &parent);
        failure = checkLayouts(layouts, &parent);

        // The directory reader sees the same file and adds the built-in layout only when the
        // file yields none.
        if (failure.isEmpty()) {
            QObject dirParent;
            const QString dir = path + QStringLiteral(".d");
            QDir().mkpath(dir);
            QFile::rename(path, dir + QStringLiteral("/layout.json"));
            QList<Layout *> fromDir;
            Layout::readLayouts(&dirParent, dir, fromDir);
            if (layouts.isEmpty()) {
                if (fromDir.size() != 1 || fromDir.first()->id() != QLatin1String("DEFAULT_LAYOUT"))
                    failure = QStringLiteral("no fallback layout for a file without layouts");
            } else if (fromDir.size() != layouts.size()) {
                failure = QStringLiteral("directory reader and file reader disagree");
            }
            if (failure.isEmpty())
                failure = checkLayouts(fromDir, &dirParent);
            QDir(dir).removeRecursively();
        }
    }
    removeScratchFile(path);
    return failure;
}

} // namespace VorlaneFuzz
