#include "layout.h"
#include "layoutmessages.h"
#include "region.h"

#include <QJsonDocument>
#include <QtTest>

using namespace Vorlane::Core;

namespace {

QJsonObject object(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

QByteArray leaf(const char *id, double x, double y, double w, double h, const QByteArray &kids = {})
{
    return QStringLiteral(R"({"id":"%1","name":"%1 name","x":%2,"y":%3,"width":%4,"height":%5,)"
                          R"("regions":[%6]})")
        .arg(QLatin1String(id))
        .arg(x)
        .arg(y)
        .arg(w)
        .arg(h)
        .arg(QString::fromUtf8(kids))
        .toUtf8();
}

// Every region of a layout in pre-order as "id z conflict,conflict,...".
void describe(const QList<Region *> &regions, QStringList &out)
{
    for (Region *region : regions) {
        out << QStringLiteral("%1 %2 %3")
                   .arg(region->id())
                   .arg(region->z())
                   .arg(region->conflictsWith().join(QLatin1Char(',')));
        describe(region->regions(), out);
    }
}

} // namespace

class TestRegion : public QObject
{
    Q_OBJECT

private slots:
    void composedGeometry_data();
    void composedGeometry();
    void numberingAndConflicts_data();
    void numberingAndConflicts();
    void badRegionObjects_data();
    void badRegionObjects();
    void containsRegion_data();
    void containsRegion();
    void deepTree();
};

void TestRegion::composedGeometry_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("depth"); // follow the first child this many times
    QTest::addColumn<QRectF>("composed");

    QTest::newRow("top level unchanged")
        << leaf("t", 0.1, 0.2, 0.3, 0.4) << 0 << QRectF(0.1, 0.2, 0.3, 0.4);
    QTest::newRow("nested") << leaf("o", 0.5, 0, 0.5, 1, leaf("i", 0.5, 0.5, 0.5, 0.5)) << 1
                            << QRectF(0.75, 0.5, 0.25, 0.5);
    QTest::newRow("three levels") << leaf(
        "a", 0.2, 0.1, 0.5, 0.8, leaf("b", 0.5, 0.5, 0.5, 0.5, leaf("c", 0, 0.5, 0.5, 0.5)))
                                  << 2 << QRectF(0.45, 0.7, 0.125, 0.2);
    QTest::newRow("negative and huge kept")
        << leaf("a", -1, 2, 1000, 1e6, leaf("b", 0.5, -0.5, 2, 0)) << 1
        << QRectF(499, -499998, 2000, 0);
}

void TestRegion::composedGeometry()
{
    QFETCH(QByteArray, json);
    QFETCH(int, depth);
    QFETCH(QRectF, composed);

    Layout layout;
    Region *top = new Region(&layout);
    top->readJson(object(json), 11);
    Region *region = top;
    for (int i = 0; i < depth; ++i)
        region = region->regions().first();

    QCOMPARE(region->x(), composed.x());
    QCOMPARE(region->y(), composed.y());
    QCOMPARE(region->width(), composed.width());
    QCOMPARE(region->height(), composed.height());

    // Writing back gives the relative values that were read, not the composed ones.
    QJsonObject written;
    top->writeJson(written);
    QCOMPARE(written, object(json));
}

void TestRegion::numberingAndConflicts_data()
{
    QTest::addColumn<QByteArray>("layoutJson");
    QTest::addColumn<QStringList>("expected");

    const QByteArray a1 = leaf("A1", 0, 0, 1, 0.5, leaf("A1a", 0, 0, 1, 1));
    QTest::newRow("pre-order") << "{\"regions\":["
            + leaf("A", 0, 0, 0.5, 1, a1 + "," + leaf("A2", 0, 0.5, 1, 0.5)) + ","
            + leaf("B", 0.5, 0, 0.5, 1) + "]}"
                               << QStringList { "A 11 A,A1,A1a,A2", "A1 12 A1,A,A1a",
                                                "A1a 13 A1a,A1,A", "A2 14 A2,A", "B 15 B" };
    QTest::newRow("duplicate ids listed twice")
        << "{\"regions\":[" + leaf("X", 0, 0, 1, 1, leaf("X", 0, 0, 1, 1)) + "]}"
        << QStringList { "X 11 X,X", "X 12 X,X" };
}

void TestRegion::numberingAndConflicts()
{
    QFETCH(QByteArray, layoutJson);
    QFETCH(QStringList, expected);

    MessageLog log;
    Layout layout;
    QJsonObject json = object(layoutJson);
    for (const char *key : { "id", "name", "defaultRegion" })
        json[QLatin1String(key)] = QStringLiteral("x");
    layout.readJson(json);

    QStringList actual;
    describe(layout.regions(), actual);
    QCOMPARE(actual, expected);
    QCOMPARE(log.lines(), QStringList());
}

void TestRegion::badRegionObjects_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("id");
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("children");
    QTest::addColumn<int>("lastZ");

    const QStringList allSeven { stringWarning("id"),    stringWarning("name"),
                                 doubleWarning("x"),     doubleWarning("y"),
                                 doubleWarning("width"), doubleWarning("height"),
                                 arrayWarning() };
    QTest::newRow("regions missing")
        << QByteArray(R"({"id":"r","name":"n","x":0.25,"y":0,"width":1,"height":1})")
        << QStringList { arrayWarning() } << "r" << 0.25 << 0 << 20;
    QTest::newRow("x as string") << QByteArray(
        R"({"id":"r","name":"n","x":"0.5","y":0,"width":1,"height":1,)"
        R"("regions":[]})") << QStringList { doubleWarning("x") }
                                 << "r" << 0.0 << 0 << 20;
    QTest::newRow("nulls") << QByteArray(R"({"id":null,"name":"n","x":null,"y":0,"width":1,)"
                                         R"("height":1,"regions":null})")
                           << QStringList { stringWarning("id"), doubleWarning("x"),
                                            arrayWarning() }
                           << "" << 0.0 << 0 << 20;
    QTest::newRow("non-object child") << QByteArray(R"({"id":"r","name":"n","x":0,"y":0,)"
                                                    R"("width":1,"height":1,"regions":[5,"s"]})")
                                      << allSeven + allSeven << "r" << 0.0 << 2 << 22;
    QTest::newRow("empty object") << QByteArray("{}") << allSeven << "" << 0.0 << 0 << 20;
    QTest::newRow("z and unknown keys ignored")
        << QByteArray(R"({"id":"r","name":"n","x":1,"y":0,"width":1,"height":1,)"
                      R"("regions":[],"z":99,"other":true})")
        << QStringList() << "r" << 1.0 << 0 << 20;
}

void TestRegion::badRegionObjects()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, messages);
    QFETCH(QString, id);
    QFETCH(double, x);
    QFETCH(int, children);
    QFETCH(int, lastZ);

    MessageLog log;
    Region region;
    QCOMPARE(region.readJson(object(json), 20), lastZ);
    QCOMPARE(log.lines(), messages);
    QCOMPARE(region.id(), id);
    QCOMPARE(region.x(), x);
    QCOMPARE(region.z(), 20);
    QCOMPARE(region.regions().size(), children);
    for (int i = 0; i < children; ++i) {
        Region *child = region.regions().at(i);
        QCOMPARE(child->z(), 21 + i);
        QCOMPARE(child->parent(), &region);
        QCOMPARE(child->width(), 0.0);
    }
}

void TestRegion::containsRegion_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("regionId");
    QTest::addColumn<bool>("found");

    QTest::newRow("own id") << 0 << "A" << true;
    QTest::newRow("grandchild") << 0 << "A1a" << true;
    QTest::newRow("later child") << 0 << "A2" << true;
    QTest::newRow("sibling not below") << 1 << "A2" << false;
    QTest::newRow("ancestor not below") << 1 << "A" << false;
    QTest::newRow("case-sensitive") << 0 << "a1a" << false;
    QTest::newRow("empty id") << 0 << "" << false;
}

void TestRegion::containsRegion()
{
    QFETCH(int, depth);
    QFETCH(QString, regionId);
    QFETCH(bool, found);

    Region top;
    top.readJson(object(leaf("A", 0, 0, 1, 1,
                             leaf("A1", 0, 0, 1, 1, leaf("A1a", 0, 0, 1, 1)) + ","
                                 + leaf("A2", 0, 0, 1, 1))),
                 11);
    Region *region = depth ? top.regions().first() : &top;
    QCOMPARE(region->containsRegion(regionId), found);
}

void TestRegion::deepTree()
{
    // As deep as a file can nest before the JSON parser refuses it.
    const int depth = 500;
    QByteArray json;
    for (int i = 0; i < depth; ++i)
        json += R"({"id":"d)" + QByteArray::number(i)
            + R"(","name":"","x":0.5,"y":0,"width":0.5,"height":1,"regions":[)";
    json += QByteArray(depth, ']').replace("]", "]}");
    QJsonParseError error;
    const QJsonObject parsed = QJsonDocument::fromJson(json, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);

    Region top;
    QCOMPARE(top.readJson(parsed, 11), 11 + depth - 1);
    Region *deepest = &top;
    while (!deepest->regions().isEmpty())
        deepest = deepest->regions().first();
    QCOMPARE(deepest->id(), QStringLiteral("d499"));
    QCOMPARE(deepest->x(), 1.0 - std::pow(0.5, depth));
    QCOMPARE(deepest->conflictsWith().size(), depth);
    QCOMPARE(deepest->conflictsWith().last(), QStringLiteral("d0"));
    QCOMPARE(top.conflictsWith().size(), depth);
    QVERIFY(top.containsRegion(QStringLiteral("d499")));
}

QTEST_GUILESS_MAIN(TestRegion)
#include "tst_region.moc"
