#include "configuration.h"
#include "manager.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtQuickTest>

namespace {

// Three layouts: a row of three regions, a region with two sub-regions beside a plain one,
// and a single full-screen region.
const char layoutsJson[] = R"({
  "layouts": [
    { "id": "three", "name": "Three", "defaultRegion": "A", "regions": [
      { "id": "A", "name": "Left", "x": 0, "y": 0, "width": 0.33, "height": 1, "regions": [] },
      { "id": "B", "name": "Middle", "x": 0.33, "y": 0, "width": 0.34, "height": 1, "regions": [] },
      { "id": "C", "name": "Right", "x": 0.67, "y": 0, "width": 0.33, "height": 1, "regions": [] } ] },
    { "id": "nested", "name": "Nested", "defaultRegion": "P", "regions": [
      { "id": "P", "name": "Parent", "x": 0, "y": 0, "width": 0.5, "height": 1, "regions": [
        { "id": "P1", "name": "Upper", "x": 0, "y": 0, "width": 1, "height": 0.5, "regions": [] },
        { "id": "P2", "name": "Lower", "x": 0, "y": 0.5, "width": 1, "height": 0.5, "regions": [] } ] },
      { "id": "Q", "name": "Other", "x": 0.5, "y": 0, "width": 0.5, "height": 1, "regions": [] } ] },
    { "id": "single", "name": "Single", "defaultRegion": "full", "regions": [
      { "id": "full", "name": "Fullscreen", "x": 0, "y": 0, "width": 1, "height": 1, "regions": [] } ] }
  ]
})";

} // namespace

// Lets a test switch the debug mode of its engine; the components follow the context property.
class TestSupport : public QObject
{
    Q_OBJECT

public:
    explicit TestSupport(QQmlContext *context, QObject *parent)
        : QObject(parent)
        , m_context(context)
    { }

    Q_INVOKABLE void setDebugMode(bool on)
    {
        if (m_context->contextProperty(QStringLiteral("debugMode")).toBool() == on)
            return;
        m_context->setContextProperty(QStringLiteral("debugMode"), on);
    }

private:
    QQmlContext *m_context;
};

// Every QML test file gets its own engine, a fresh settings file (so a value that one file
// writes never leaks into another) and the one Manager of the run.
class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).mkpath(QStringLiteral("layouts"));
        QDir(m_dir.path()).mkpath(QStringLiteral("clients"));
        QFile file(m_dir.filePath(QStringLiteral("layouts/panels.json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(layoutsJson);
        file.close();
        m_manager
            = new Vorlane::Core::Manager(m_dir.filePath(QStringLiteral("layouts")),
                                         m_dir.filePath(QStringLiteral("clients")), false, this);
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        const QString iniPath
            = m_dir.filePath(QStringLiteral("settings-%1.ini").arg(m_engineCount++));
        auto *configuration = new Vorlane::Configuration(iniPath, engine);
        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("settings"), configuration);
        context->setContextProperty(QStringLiteral("coremanager"), m_manager);
        context->setContextProperty(QStringLiteral("debugMode"), false);
        context->setContextProperty(QStringLiteral("testSupport"),
                                    new TestSupport(context, engine));
    }

private:
    QTemporaryDir m_dir;
    Vorlane::Core::Manager *m_manager = nullptr;
    int m_engineCount = 0;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_panels, Setup)

#include "tst_panels.moc"
