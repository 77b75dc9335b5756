#include "layout.h"
#include "layoutmessages.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace Vorlane::Core;

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void readLayouts_data();
    void readLayouts();
    void unusableFiles_data();
    void unusableFiles();
    void builtinLayout();
    void layoutObject();
    void largeFile();
    void writeLayouts();
};

namespace {

const QString ReadSig = QStringLiteral("static void Vorlane::Core::Layout::readLayouts(QObject*, "
                                       "QString, QList<Vorlane::Core::Layout*>&) ");
const QString ParseSig = QStringLiteral("static void Vorlane::Core::Layout::parseLayoutFile("
                                        "QString, QList<Vorlane::Core::Layout*>&, QObject*) ");
const QString Fallback = QStringLiteral("I: ") + ReadSig
    + QStringLiteral("No valid layouts read. Falling back on builtin default.");

QString sectionMissing(const QString &file)
{
    return QStringLiteral("W: ") + ParseSig + QStringLiteral("layouts section missing in \"%D/")
        + file + QLatin1Char('"');
}

QByteArray layoutFile(const QStringList &ids)
{
    QByteArray json = "{\"layouts\":[";
    for (const QString &id : ids)
        json += "{\"id\":\"" + id.toUtf8() + R"(","name":"n","defaultRegion":"r","regions":[]},)";
    json.chop(ids.isEmpty() ? 0 : 1);
    return json + "]}";
}

QByteArray deeplyNested(int levels)
{
    QByteArray json = R"({"layouts":[{"id":"deep","name":"","defaultRegion":"","regions":[)";
    for (int i = 0; i < levels; ++i)
        json += R"({"id":"d)" + QByteArray::number(i)
            + R"(","name":"","x":0,"y":0,"width":1,"height":1,"regions":[)";
    return json + QByteArray(levels, ']').replace("]", "]}") + "]}]}";
}

QStringList ids(const QList<Layout *> &layouts)
{
    QStringList result;
    for (const Layout *layout : layouts)
        result << layout->id();
    return result;
}

// Files are "name=content"; a content of "@dir" makes a directory, "@link:target" a symlink.
void populate(const QString &dir, const QStringList &files)
{
    for (const QString &file : files) {
        const QString name = file.section(QLatin1Char('='), 0, 0);
        const QString content = file.section(QLatin1Char('='), 1);
        const QString path = dir + QLatin1Char('/') + name;
        if (content == QLatin1String("@dir")) {
            QVERIFY(QDir().mkpath(path));
        } else if (content.startsWith(QLatin1String("@link:"))) {
            QVERIFY(QFile::link(content.mid(6), path));
        } else {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content.toUtf8());
        }
    }
}

} // namespace

void TestLayout::readLayouts_data()
{
    QTest::addColumn<QString>("where"); // "temp", "missing" or "cwd"
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("expectedIds");
    QTest::addColumn<QStringList>("messages");

    const auto file = [](const char *name, const QStringList &ids) {
        return QString::fromLatin1(name) + QLatin1Char('=') + QString::fromUtf8(layoutFile(ids));
    };
    const QStringList builtin { "DEFAULT_LAYOUT" };

    QTest::newRow("plain character order")
        << "temp"
        << QStringList { file("b.json", { "b" }),        file("a.json", { "a1", "a2" }),
                         file("C.JSON", { "C" }),        file(".hidden.json", { "hidden" }),
                         file("notes.txt", { "txt" }),   "sub.json=@dir",
                         file("target.txt", { "link" }), "link.json=@link:target.txt" }
        << QStringList { "C", "a1", "a2", "b", "link" } << QStringList();
    QTest::newRow("missing directory")
        << "missing" << QStringList() << builtin
        << QStringList { "W: " + ReadSig + "Layouts directory missing!", Fallback };
    QTest::newRow("empty directory")
        << "temp" << QStringList() << builtin << QStringList { Fallback };
    QTest::newRow("only directories and other files")
        << "temp" << QStringList { "x.json=@dir", file("x.txt", { "t" }) } << builtin
        << QStringList { Fallback };
    QTest::newRow("all files without layouts")
        << "temp" << QStringList { file("a.json", {}), file("b.json", {}) } << builtin
        << QStringList { Fallback };
    QTest::newRow("one layout suppresses fallback")
        << "temp" << QStringList { file("a.json", {}), file("b.json", { "b" }) }
        << QStringList { "b" } << QStringList();
    QTest::newRow("broken files skipped")
        << "temp"
        << QStringList { "1.json={\"layouts\":[",
                         "2.json=[1,2]",
                         "3.json={\"x\":[]}",
                         "4.json={\"layouts\":{}}",
                         "5.json={\"layouts\":null}",
                         "6.json={\"layouts\":[{\"id\":1e400}]}",
                         "7.json=",
                         "8.json=" + QString::fromUtf8(deeplyNested(600)),
                         file("9.json", { "ok" }) }
        << QStringList { "ok" }
        << QStringList { sectionMissing("1.json"), sectionMissing("2.json"),
                         sectionMissing("3.json"), sectionMissing("4.json"),
                         sectionMissing("5.json"), sectionMissing("6.json"),
                         sectionMissing("7.json"), sectionMissing("8.json") };
    QTest::newRow("only broken files") << "temp" << QStringList { "a.json=not json" } << builtin
                                       << QStringList { sectionMissing("a.json"), Fallback };
    QTest::newRow("non-object layout element")
        << "temp" << QStringList { "a.json={\"layouts\":[5]}" } << QStringList { "" }
        << QStringList { stringWarning("id"), stringWarning("name"), stringWarning("defaultRegion"),
                         arrayWarning() };
    QTest::newRow("same id in two files")
        << "temp" << QStringList { file("b.json", { "same" }), file("a.json", { "same" }) }
        << QStringList { "same", "same" } << QStringList();
    QTest::newRow("empty path is working directory")
        << "cwd" << QStringList { file("w.json", { "w" }) } << QStringList { "w" } << QStringList();
}

void TestLayout::readLayouts()
{
    QFETCH(QString, where);
    QFETCH(QStringList, files);
    QFETCH(QStringList, expectedIds);
    QFETCH(QStringList, messages);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    populate(temp.path(), files);
    QString dir = temp.path();
    const QString previousCwd = QDir::currentPath();
    if (where == QLatin1String("missing"))
        dir += QStringLiteral("/nowhere");
    if (where == QLatin1String("cwd")) {
        QVERIFY(QDir::setCurrent(temp.path()));
        dir.clear();
    }

    QObject parent;
    QList<Layout *> layouts;
    {
        MessageLog log;
        Layout::readLayouts(&parent, dir, layouts);
        QDir::setCurrent(previousCwd);
        QCOMPARE(log.lines(), messages.replaceInStrings(QStringLiteral("%D"), dir));
    }
    QCOMPARE(ids(layouts), expectedIds);
    for (const Layout *layout : std::as_const(layouts))
        QCOMPARE(layout->parent(), &parent);
}

void TestLayout::unusableFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing") << "missing"
                             << "layout file [ \"%P\" ] not found.";
    QTest::newRow("directory") << "directory"
                               << "Could not open layouts config file for reading:  \"%P\"";
    QTest::newRow("unreadable") << "unreadable"
                                << "Could not open layouts config file for reading:  \"%P\"";
    QTest::newRow("too large") << "large"
                               << "Layout file too large, skipped:  \"%P\"";
}

void TestLayout::unusableFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);

    QTemporaryDir temp;
    const QString path = temp.filePath(QStringLiteral("x.json"));
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind != QLatin1String("missing")) {
        if (kind == QLatin1String("unreadable") && geteuid() == 0)
            QSKIP("root can read any file");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(layoutFile({ "big" }));
        if (kind == QLatin1String("large"))
            QVERIFY(file.resize(65 * 1024 * 1024)); // sparse, cheap to make
        else
            file.setPermissions({});
    }

    QList<Layout *> layouts;
    MessageLog log;
    Layout::parseLayoutFile(path, layouts, nullptr);
    QCOMPARE(log.lines(), QStringList { "W: " + ParseSig + message.replace("%P", path) });
    QVERIFY(layouts.isEmpty());
}

void TestLayout::builtinLayout()
{
    QObject parent;
    QList<Layout *> layouts;
    Layout::parseLayoutFile(QStringLiteral(":/defaults/fallbacklayout.json"), layouts, &parent);
    QCOMPARE(layouts.size(), 1);
    Layout *layout = layouts.first();
    QCOMPARE(layout->id(), QStringLiteral("DEFAULT_LAYOUT"));
    QCOMPARE(layout->name(), QStringLiteral("BUILTIN DEFAULT"));
    QCOMPARE(layout->defaultRegion(), QStringLiteral("full"));
    QCOMPARE(layout->dropHandler(), QString());
    QCOMPARE(layout->regions().size(), 1);
    Region *full = layout->regions().first();
    QCOMPARE(full->id(), QStringLiteral("full"));
    QCOMPARE(full->name(), QStringLiteral("Fullscreen"));
    QCOMPARE(QRectF(full->x(), full->y(), full->width(), full->height()), QRectF(0, 0, 1, 1));
    QCOMPARE(full->z(), 11);
    QVERIFY(full->regions().isEmpty());
    QVERIFY(layout->regionExists(QStringLiteral("full")));
    QVERIFY(!layout->regionExists(QStringLiteral("Full")));
}

void TestLayout::layoutObject()
{
    QJsonObject json = QJsonDocument::fromJson(R"({"id":"L","name":"Layout","defaultRegion":"A",
        "dropHandler":"drop.qml","regions":[
        {"id":"A","name":"","x":0,"y":0,"width":1,"height":1,"regions":[
            {"id":"A1","name":"","x":0,"y":0,"width":1,"height":1,"regions":[
                {"id":"A1a","name":"","x":0,"y":0,"width":1,"height":1,"regions":[]}]}]},
        {"id":"B","name":"","x":0,"y":0,"width":1,"height":1,"regions":[]}]})")
                           .object();
    Layout layout;
    layout.readJson(json);
    QCOMPARE(layout.dropHandler(), QString());
    QVERIFY(layout.regionExists(QStringLiteral("A1a")));
    QVERIFY(layout.regionExists(QStringLiteral("B")));
    QVERIFY(!layout.regionExists(QStringLiteral("a1a")));
    QVERIFY(!layout.regionExists(QString()));

    // Writing fills every key, overwriting what the object held; the drop handler is written
    // although it is never read.
    layout.setDropHandler(QStringLiteral("other.qml"));
    QJsonObject written { { "id", 5 }, { "extra", true } };
    layout.writeJson(written);
    json[QStringLiteral("dropHandler")] = QStringLiteral("other.qml");
    json[QStringLiteral("extra")] = true;
    QCOMPARE(written, json);
}

void TestLayout::largeFile()
{
    // Thousands of layouts with nested regions, plus one region chain as deep as JSON allows.
    QByteArray json = "{\"layouts\":[";
    for (int l = 0; l < 2000; ++l) {
        json += R"({"id":"L)" + QByteArray::number(l) + R"(","name":"","defaultRegion":"",)"
            + R"("regions":[)";
        for (int r = 0; r < 10; ++r)
            json += R"({"id":"r","name":"","x":0,"y":0,"width":1,"height":1,"regions":[)"
                    R"({"id":"s","name":"","x":0,"y":0,"width":1,"height":1,"regions":[]}]},)";
        json.chop(1);
        json += "]},";
    }
    json.chop(1);
    json += "]}";

    QTemporaryDir temp;
    populate(
        temp.path(),
        { "a.json=" + QString::fromUtf8(json), "b.json=" + QString::fromUtf8(deeplyNested(500)) });
    QObject parent;
    QList<Layout *> layouts;
    Layout::readLayouts(&parent, temp.path(), layouts);
    QCOMPARE(layouts.size(), 2001);
    QCOMPARE(layouts.at(1999)->regions().last()->regions().first()->z(), 30);
    QVERIFY(layouts.last()->regionExists(QStringLiteral("d499")));
}

void TestLayout::writeLayouts()
{
    if (QFileInfo::exists(QStringLiteral("/home/kxuser")))
        QSKIP("would write into a real home directory");
    MessageLog log;
    Layout::writeLayouts({});
    QCOMPARE(log.lines(),
             QStringList { "W: Could not open layouts config file for writing:  "
                           "\"/home/kxuser/output.json\"" });
}

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
