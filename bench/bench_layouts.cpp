// Reads a directory of 1,000 layout files with 50 nested regions each through the Manager, then
// answers 100,000 region rectangle queries, and prints both times.
#include "manager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

using namespace Vorlane::Core;

namespace {

constexpr int LayoutCount = 1000;
constexpr int QueryCount = 100000;

QJsonObject regionJson(const QString &id, double x, double width, const QJsonArray &children)
{
    return { { "id", id },           { "name", id },     { "x", x },
             { "y", 0.0 },           { "width", width }, { "height", 1.0 },
             { "regions", children } };
}

// Five top-level regions, each with three children, holding two, two and two grandchildren:
// 5 * (1 + 3 + 6) = 50 regions, three levels deep.
QJsonObject layoutJson(int index)
{
    QJsonArray top;
    for (int t = 0; t < 5; ++t) {
        QJsonArray children;
        for (int c = 0; c < 3; ++c) {
            QJsonArray grandchildren;
            for (int g = 0; g < 2; ++g)
                grandchildren.append(
                    regionJson(QStringLiteral("r%1_%2_%3").arg(t).arg(c).arg(g), g * 0.5, 0.5, {}));
            children.append(regionJson(QStringLiteral("r%1_%2").arg(t).arg(c), c / 3.0, 1 / 3.0,
                                       grandchildren));
        }
        top.append(regionJson(QStringLiteral("r%1").arg(t), t * 0.2, 0.2, children));
    }
    return { { "id", QStringLiteral("layout%1").arg(index) },
             { "name", QStringLiteral("Layout %1").arg(index) },
             { "defaultRegion", "r0" },
             { "regions", top } };
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir layoutsDir;
    QTemporaryDir clientsDir;
    if (!layoutsDir.isValid() || !clientsDir.isValid())
        return 1;

    for (int i = 0; i < LayoutCount; ++i) {
        QFile file(
            layoutsDir.filePath(QStringLiteral("layout%1.json").arg(i, 4, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const QJsonObject top { { "layouts", QJsonArray { layoutJson(i) } } };
        file.write(QJsonDocument(top).toJson(QJsonDocument::Compact));
    }

    QElapsedTimer timer;
    timer.start();
    {
        QObject owner;
        QList<Layout *> layouts;
        Layout::readLayouts(&owner, layoutsDir.path(), layouts);
    }
    const qint64 readOnlyNs = timer.nsecsElapsed();

    timer.restart();
    Manager manager(layoutsDir.path(), clientsDir.path(), false, nullptr);
    const qint64 readNs = timer.nsecsElapsed();

    QStringList ids;
    for (int t = 0; t < 5; ++t) {
        for (int c = 0; c < 3; ++c) {
            ids << QStringLiteral("r%1_%2_%3").arg(t).arg(c).arg(1);
        }
    }
    ids << QStringLiteral("missing");
    manager.setSelectedLayoutIndex(LayoutCount - 1);

    double checksum = 0;
    timer.restart();
    for (int i = 0; i < QueryCount; ++i)
        checksum += manager.getRegionRect(ids.at(i % ids.size())).width();
    const qint64 queryNs = timer.nsecsElapsed();

    QTextStream out(stdout);
    out << "layouts read: " << manager.layouts().size() << " with 50 regions each in "
        << readNs / 1e6 << " ms by the Manager, " << readOnlyNs / 1e6
        << " ms by Layout::readLayouts alone\n";
    out << QueryCount << " getRegionRect queries (grandchildren and one unknown id) in "
        << queryNs / 1e6 << " ms, " << queryNs / double(QueryCount) << " ns per query"
        << " (checksum " << checksum << ")\n";
    return 0;
}
