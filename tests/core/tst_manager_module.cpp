#include "client.h"
#include "details.h"
#include "manager.h"

#include <QDir>
#include <QFile>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using Vorlane::Core::Client;
using Vorlane::Core::Details;
using Vorlane::Core::Manager;

class TestManagerModule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void managerNotCreatable_data();
    void managerNotCreatable();
    void creatableTypes_data();
    void creatableTypes();
    void enumsFromQml_data();
    void enumsFromQml();
    void moduleDescription();
    void signalsBecomeQuitVorlane_data();
    void signalsBecomeQuitVorlane();
    void managerInterfaceFromQml();

private:
    // Region serves as root object: QtQml's own QtObject would pull in further modules.
    std::unique_ptr<QObject> create(QQmlEngine &engine, const QByteArray &qml, QString *errors);

    QTemporaryDir m_dir;
    std::unique_ptr<Manager> m_manager;
};

void TestManagerModule::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("layouts")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("clients")));
    // One manager for the whole process: the signal bridge it holds is process-wide.
    m_manager = std::make_unique<Manager>(m_dir.filePath(QStringLiteral("layouts")),
                                          m_dir.filePath(QStringLiteral("clients")), true, nullptr);
    QVERIFY(m_manager->debug());
}

std::unique_ptr<QObject> TestManagerModule::create(QQmlEngine &engine, const QByteArray &qml,
                                                   QString *errors)
{
    QQmlComponent component(&engine);
    component.setData(qml, QUrl(QStringLiteral("file:///test.qml")));
    std::unique_ptr<QObject> object(component.isError() ? nullptr : component.create());
    *errors = component.errorString();
    return object;
}

void TestManagerModule::managerNotCreatable_data()
{
    QTest::addColumn<QByteArray>("qml");

    QTest::newRow("versioned import")
        << QByteArray("import Kestrix.Vorlane.Core 1.0\nManager {}\n");
    QTest::newRow("unversioned import") << QByteArray("import Kestrix.Vorlane.Core\nManager {}\n");
    QTest::newRow("nested") << QByteArray("import Kestrix.Vorlane.Core\n"
                                          "Region { property var m: Manager {} }\n");
}

void TestManagerModule::managerNotCreatable()
{
    QFETCH(QByteArray, qml);

    QQmlEngine engine;
    QString errors;
    const auto object = create(engine, qml, &errors);
    QVERIFY(!object);
    QVERIFY2(errors.contains(QLatin1String("Core Backend class")), qPrintable(errors));
}

void TestManagerModule::creatableTypes_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("className");

    QTest::newRow("Client") << QByteArray("Client") << QByteArray("Vorlane::Core::Client");
    QTest::newRow("Details") << QByteArray("Details") << QByteArray("Vorlane::Core::Details");
    QTest::newRow("Device") << QByteArray("Device") << QByteArray("Vorlane::Core::Device");
    QTest::newRow("Layout") << QByteArray("Layout") << QByteArray("Vorlane::Core::Layout");
    QTest::newRow("Region") << QByteArray("Region") << QByteArray("Vorlane::Core::Region");
    // Internal classes stay out of the module.
    QTest::newRow("Controller") << QByteArray("Controller") << QByteArray();
    QTest::newRow("UnixSignaling") << QByteArray("UnixSignaling") << QByteArray();
}

void TestManagerModule::creatableTypes()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, className);

    QQmlEngine engine;
    QString errors;
    const auto object
        = create(engine, "import Kestrix.Vorlane.Core 1.0\n" + type + " {}\n", &errors);
    if (className.isEmpty()) {
        QVERIFY(!object);
        QVERIFY2(errors.contains(QLatin1String("is not a type")), qPrintable(errors));
        return;
    }
    QVERIFY2(object, qPrintable(errors));
    QCOMPARE(QByteArray(object->metaObject()->className()), className);
}

void TestManagerModule::enumsFromQml_data()
{
    QTest::addColumn<QByteArray>("expression");
    QTest::addColumn<int>("expected");

    QTest::newRow("ES_START") << QByteArray("Client.ES_START") << int(Client::ES_START);
    QTest::newRow("ES_RUNNING") << QByteArray("Client.ES_RUNNING") << int(Client::ES_RUNNING);
    QTest::newRow("ES_RESUME") << QByteArray("Client.ES_RESUME") << int(Client::ES_RESUME);
    QTest::newRow("ES_STOPPED") << QByteArray("Client.ES_STOPPED") << int(Client::ES_STOPPED);
    QTest::newRow("WS_MINIMIZED") << QByteArray("Details.WS_MINIMIZED")
                                  << int(Details::WS_MINIMIZED);
    QTest::newRow("WS_NORMAL") << QByteArray("Details.WS_NORMAL") << int(Details::WS_NORMAL);
    QTest::newRow("MM_TERMINATED")
        << QByteArray("Details.MM_TERMINATED") << int(Details::MM_TERMINATED);
    QTest::newRow("MM_RUNNING") << QByteArray("Details.MM_RUNNING") << int(Details::MM_RUNNING);
    QTest::newRow("MM_PAUSED") << QByteArray("Details.MM_PAUSED") << int(Details::MM_PAUSED);
}

void TestManagerModule::enumsFromQml()
{
    QFETCH(QByteArray, expression);
    QFETCH(int, expected);

    QQmlEngine engine;
    QString errors;
    const auto object = create(engine,
                               "import Kestrix.Vorlane.Core 1.0\n"
                               "Region { property var value: "
                                   + expression + " }\n",
                               &errors);
    QVERIFY2(object, qPrintable(errors));
    const QVariant value = object->property("value");
    QVERIFY2(value.isValid() && value.canConvert<int>(), qPrintable(expression));
    QCOMPARE(value.toInt(), expected);
}

void TestManagerModule::moduleDescription()
{
    QFile file(QStringLiteral(":/Kestrix/Vorlane/Core/qmldir"));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines
        = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines,
             QStringList({ QStringLiteral("module Kestrix.Vorlane.Core"),
                           QStringLiteral("typeinfo vorlane_core.qmltypes"),
                           QStringLiteral("prefer :/Kestrix/Vorlane/Core/") }));
}

void TestManagerModule::signalsBecomeQuitVorlane_data()
{
    QTest::addColumn<QList<int>>("signalNumbers");

    QTest::newRow("SIGHUP") << QList<int> { SIGHUP };
    QTest::newRow("SIGTERM") << QList<int> { SIGTERM };
    QTest::newRow("SIGINT") << QList<int> { SIGINT };
    QTest::newRow("SIGQUIT") << QList<int> { SIGQUIT };
    QTest::newRow("one of each") << QList<int> { SIGQUIT, SIGINT, SIGTERM, SIGHUP };
}

void TestManagerModule::signalsBecomeQuitVorlane()
{
    QFETCH(QList<int>, signalNumbers);

    QSignalSpy spy(m_manager.get(), &Manager::quitVorlane);
    for (int signalNumber : signalNumbers)
        QCOMPARE(::raise(signalNumber), 0);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), signalNumbers.size(), 30000);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(spy.count(), signalNumbers.size());
}

void TestManagerModule::managerInterfaceFromQml()
{
    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("coremanager"), m_manager.get());
    QString errors;
    // QML leaves out the list argument of the region queries; quitVorlane is callable.
    const auto object = create(engine, R"(import Kestrix.Vorlane.Core
        Region {
            property bool layoutsIsList: coremanager.layouts.length >= 0
            property bool regionsIsList: coremanager.currentRegions.length >= 0
            property bool clientsIsList: coremanager.executableClients.length >= 0
            property var unknownRegion: coremanager.getRegion("no such region")
            property int unknownZ: coremanager.getRegionZ("no such region")
            property rect unknownRect: coremanager.getRegionRect("no such region")
            property bool unknownLayout: coremanager.setCurrentLayout("no such layout")
            function quit() { coremanager.quitVorlane() }
        })",
                               &errors);
    QVERIFY2(object, qPrintable(errors));
    QVERIFY(object->property("layoutsIsList").toBool());
    QVERIFY(object->property("regionsIsList").toBool());
    QVERIFY(object->property("clientsIsList").toBool());
    QVERIFY(object->property("unknownRegion").value<QObject *>() == nullptr);
    QCOMPARE(object->property("unknownZ").toInt(), 0);
    QCOMPARE(object->property("unknownRect").toRectF(), QRectF());
    QCOMPARE(object->property("unknownLayout").toBool(), false);

    QSignalSpy spy(m_manager.get(), &Manager::quitVorlane);
    QVERIFY(QMetaObject::invokeMethod(object.get(), "quit"));
    QCOMPARE(spy.count(), 1);
}

QTEST_MAIN(TestManagerModule)
#include "tst_manager_module.moc"
