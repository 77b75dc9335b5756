#include "layoutmessages.h"
#include "manager.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Vorlane::Core;

namespace {

QByteArray region(const char *id, double x, double w, const QByteArray &kids = {})
{
    return QStringLiteral(R"({"id":"%1","name":"%1","x":%2,"y":0,"width":%3,"height":1,)"
                          R"("regions":[%4]})")
        .arg(QLatin1String(id))
        .arg(x)
        .arg(w)
        .arg(QString::fromUtf8(kids))
        .toUtf8();
}

QByteArray layout(const char *id, const QByteArray &regions)
{
    return QByteArray(R"({"id":")") + id + R"(","name":"Name )" + id
        + R"(","defaultRegion":"","regions":[)" + regions + "]}";
}

QStringList regionIds(const QList<Region *> &regions)
{
    QStringList ids;
    for (const Region *r : regions)
        ids << r->id();
    return ids;
}

} // namespace

class TestManagerLayouts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void builtinOnly();
    void selection_data();
    void selection();
    void regionQueries_data();
    void regionQueries();
    void qmlAccess();

private:
    std::unique_ptr<Manager> makeManager();

    QTemporaryDir m_layoutsDir;
    QTemporaryDir m_clientsDir;
};

void TestManagerLayouts::initTestCase()
{
    // Layout "one": A(A1(A1a), A2) and B(A1); "two": C; a second "one": D; then "Case".
    const QByteArray one = layout(
        "one",
        region("A", 0, 0.5,
               region("A1", 0.5, 0.5, region("A1a", 0.5, 0.5)) + "," + region("A2", 0, 0.5))
            + "," + region("B", 0.5, 0.5, region("A1", 0, 1)));
    QFile first(m_layoutsDir.filePath(QStringLiteral("1.json")));
    QVERIFY(first.open(QIODevice::WriteOnly));
    first.write("{\"layouts\":[" + one + "," + layout("two", region("C", 0, 1)) + "]}");
    QFile second(m_layoutsDir.filePath(QStringLiteral("2.json")));
    QVERIFY(second.open(QIODevice::WriteOnly));
    second.write("{\"layouts\":[" + layout("one", region("D", 0, 1)) + ","
                 + layout("Case", region("E", 0, 1)) + "]}");
}

std::unique_ptr<Manager> TestManagerLayouts::makeManager()
{
    return std::make_unique<Manager>(m_layoutsDir.path(), m_clientsDir.path(), false, nullptr);
}

void TestManagerLayouts::builtinOnly()
{
    QStringList layoutMessages;
    std::unique_ptr<Manager> manager;
    {
        MessageLog log;
        manager = std::make_unique<Manager>(m_layoutsDir.filePath(QStringLiteral("missing")),
                                            m_clientsDir.path(), false, nullptr);
        const QStringList lines = log.lines();
        for (const QString &line : lines) {
            if (line.contains(QLatin1String("Layout::")))
                layoutMessages << line;
        }
    }
    QCOMPARE(layoutMessages.size(), 2);
    QVERIFY(layoutMessages.first().endsWith(QLatin1String("Layouts directory missing!")));
    QVERIFY(layoutMessages.last().startsWith(QLatin1String("I: ")));

    QCOMPARE(manager->selectedLayoutIndex(), 0);
    QCOMPARE(manager->layouts().size(), 1);
    QCOMPARE(regionIds(manager->currentRegions()), QStringList { "full" });
    QCOMPARE(manager->getRegionRect(QStringLiteral("full")), QRectF(0, 0, 1, 1));
    QCOMPARE(manager->getRegionZ(QStringLiteral("full")), 11);
    for (const QString &pseudo : { QStringLiteral("QuickBar"), QStringLiteral("DEFAULT") }) {
        QCOMPARE(manager->getRegion(pseudo), nullptr);
        QCOMPARE(manager->getRegionRect(pseudo), QRectF(0, 0, 0, 0));
        QCOMPARE(manager->getRegionZ(pseudo), 0);
    }
}

void TestManagerLayouts::selection_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("layoutId"); // empty: write the index instead
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("events");

    const QStringList none;
    QTest::newRow("same index") << 0 << "" << 0 << false << 0 << none;
    QTest::newRow("negative index") << 0 << "" << -1 << false << 0 << none;
    QTest::newRow("index past end") << 0 << "" << 4 << false << 0 << none;
    QTest::newRow("other index") << 0 << "" << 2 << false << 2
                                 << QStringList { "index 2 regions D", "regions 2 regions D" };
    QTest::newRow("id of selected") << 0 << "one" << 0 << true << 0 << none;
    QTest::newRow("other id") << 0 << "two" << 0 << true << 1
                              << QStringList { "index 1 regions C", "regions 1 regions C" };
    QTest::newRow("duplicate id takes first")
        << 3 << "one" << 0 << true << 0
        << QStringList { "index 0 regions A,B", "regions 0 regions A,B" };
    QTest::newRow("unknown id") << 1 << "three" << 0 << false << 1 << none;
    QTest::newRow("id differs in case") << 1 << "case" << 0 << false << 1 << none;
}

void TestManagerLayouts::selection()
{
    QFETCH(int, start);
    QFETCH(QString, layoutId);
    QFETCH(int, index);
    QFETCH(bool, result);
    QFETCH(int, selected);
    QFETCH(QStringList, events);

    auto manager = makeManager();
    QCOMPARE(manager->layouts().size(), 4);
    QCOMPARE(manager->selectedLayoutIndex(), 0);
    manager->setSelectedLayoutIndex(start);
    QCOMPARE(manager->selectedLayoutIndex(), start);

    // Record the state that a handler sees when each signal arrives.
    QStringList seen;
    const auto record = [&](const char *what) {
        return [&seen, &manager, what] {
            seen << QStringLiteral("%1 %2 regions %3")
                        .arg(QLatin1String(what))
                        .arg(manager->selectedLayoutIndex())
                        .arg(regionIds(manager->currentRegions()).join(QLatin1Char(',')));
        };
    };
    connect(manager.get(), &Manager::selectedLayoutIndexChanged, this, record("index"));
    connect(manager.get(), &Manager::currentRegionsChanged, this, record("regions"));

    if (layoutId.isEmpty())
        manager->setSelectedLayoutIndex(index);
    else
        QCOMPARE(manager->setCurrentLayout(layoutId), result);
    QCOMPARE(seen, events);
    QCOMPARE(manager->selectedLayoutIndex(), selected);
}

void TestManagerLayouts::regionQueries_data()
{
    QTest::addColumn<int>("layoutIndex");
    QTest::addColumn<QString>("regionId");
    QTest::addColumn<QString>("within"); // search the children of this region instead
    QTest::addColumn<int>("z");
    QTest::addColumn<QRectF>("rect");

    QTest::newRow("three levels deep") << 0 << "A1a"
                                       << "" << 13 << QRectF(0.375, 0, 0.125, 1);
    QTest::newRow("later top level") << 0 << "B"
                                     << "" << 15 << QRectF(0.5, 0, 0.5, 1);
    QTest::newRow("duplicate id: first in pre-order") << 0 << "A1"
                                                      << "" << 12 << QRectF(0.25, 0, 0.25, 1);
    QTest::newRow("only in another layout") << 0 << "C"
                                            << "" << 0 << QRectF(0, 0, 0, 0);
    QTest::newRow("in the selected layout") << 1 << "C"
                                            << "" << 11 << QRectF(0, 0, 1, 1);
    QTest::newRow("below a given list") << 0 << "A1a"
                                        << "A" << 13 << QRectF(0.375, 0, 0.125, 1);
    QTest::newRow("given list excludes its owner") << 0 << "A"
                                                   << "A" << 0 << QRectF(0, 0, 0, 0);
    QTest::newRow("given list excludes siblings") << 0 << "B"
                                                  << "A" << 0 << QRectF(0, 0, 0, 0);
    QTest::newRow("given list of B") << 0 << "A1"
                                     << "B" << 16 << QRectF(0.5, 0, 0.5, 1);
}

void TestManagerLayouts::regionQueries()
{
    QFETCH(int, layoutIndex);
    QFETCH(QString, regionId);
    QFETCH(QString, within);
    QFETCH(int, z);
    QFETCH(QRectF, rect);

    auto manager = makeManager();
    manager->setSelectedLayoutIndex(layoutIndex);
    QList<Region *> *list = nullptr;
    if (!within.isEmpty()) {
        Region *owner = manager->getRegion(within);
        QVERIFY(owner);
        list = &owner->regions();
    }

    Region *found = manager->getRegion(regionId, list);
    QCOMPARE(found ? found->id() : QString(), z ? regionId : QString());
    QCOMPARE(manager->getRegionZ(regionId, list), z);
    QCOMPARE(manager->getRegionRect(regionId, list), rect);
}

void TestManagerLayouts::qmlAccess()
{
    auto manager = makeManager();
    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("coremanager"), manager.get());
    QQmlComponent component(&engine);
    // Region is the one creatable type that needs no further QML module.
    component.setData(R"(import Kestrix.Vorlane.Core
        Region {
            property int count: coremanager.layouts.length
            property string secondName: coremanager.layouts[1].name
            property string firstRegion: coremanager.currentRegions[0].id
            property rect rect: coremanager.getRegionRect("A1a")
            property bool otherLayoutHidden: coremanager.getRegion("C") === null
            function select(index) { coremanager.selectedLayoutIndex = index }
        })",
                      QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(object->property("count").toInt(), 4);
    QCOMPARE(object->property("secondName").toString(), QStringLiteral("Name two"));
    QCOMPARE(object->property("firstRegion").toString(), QStringLiteral("A"));
    QVERIFY(QMetaObject::invokeMethod(object.get(), "select", Q_ARG(QVariant, 1)));
    QCOMPARE(manager->selectedLayoutIndex(), 1);
    // The binding follows the selection that QML itself changed.
    QCOMPARE(object->property("firstRegion").toString(), QStringLiteral("C"));
    QCOMPARE(object->property("rect").toRectF(), QRectF(0.375, 0, 0.125, 1));
    QVERIFY(object->property("otherLayoutHidden").toBool());
}

QTEST_MAIN(TestManagerLayouts)
#include "tst_managerlayouts.moc"
