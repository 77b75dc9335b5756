// Checks the shipped example configuration and the README against the code: a mistake in an
// example file or a stale table in the documentation fails here instead of on a device.

#include "configuration.h"
#include "details.h"
#include "layout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace Vorlane;
using namespace Vorlane::Core;

namespace {

const QString examplesDir = QStringLiteral(VORLANE_SOURCE_DIR "/examples");
const QString readmePath = QStringLiteral(VORLANE_SOURCE_DIR "/README.md");
// The example files name their own location by the installed configuration directory.
const QString installedConfigDir = QStringLiteral("/etc/vorlane");

// Every message written while an instance lives, as "<level>: <text>".
class MessageCollector
{
public:
    MessageCollector()
    {
        s_messages.clear();
        m_previous = qInstallMessageHandler(&handle);
    }
    ~MessageCollector() { qInstallMessageHandler(m_previous); }
    QStringList messages() const { return s_messages; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        static const char *const names[] = { "debug", "warning", "critical", "fatal", "info" };
        s_messages.append(QString::fromLatin1(names[type]) + QStringLiteral(": ") + text);
    }
    static inline QStringList s_messages;
    QtMessageHandler m_previous = nullptr;
};

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QStringList desktopEntryFiles()
{
    return QDir(examplesDir + QStringLiteral("/clients"))
        .entryList({ QStringLiteral("*.desktop") }, QDir::Files, QDir::Name);
}

// Maps a path of the installed configuration directory to the example file it comes from.
QString sourcePathOf(const QString &installedPath)
{
    if (installedPath.startsWith(installedConfigDir + QLatin1Char('/')))
        return examplesDir + installedPath.mid(installedConfigDir.size());
    return installedPath;
}

QString typeName(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
        return QStringLiteral("int");
    case QMetaType::Double:
        return QStringLiteral("double");
    case QMetaType::QString:
        return QStringLiteral("string");
    default:
        return QString::fromLatin1(value.typeName());
    }
}

QString defaultText(const QVariant &value)
{
    if (value.typeId() == QMetaType::Double)
        return QLatin1Char('`') + QString::number(value.toDouble(), 'f', 1) + QLatin1Char('`');
    const QString text = value.toString();
    return text.isEmpty() ? QStringLiteral("*(empty)*")
                          : QLatin1Char('`') + text + QLatin1Char('`');
}

} // namespace

class TestExamples : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void layoutsLoadWithoutMessages();
    void desktopEntriesLoadWithoutMessages_data();
    void desktopEntriesLoadWithoutMessages();
    void defaultRegionsExist_data();
    void defaultRegionsExist();
    void programsAndFilesExist_data();
    void programsAndFilesExist();
    void settingsFileNamesOnlyKnownKeys();

    void readmeSettingsTableMatchesDefaults();
    void readmeJsonExamplesAreLayoutFiles();
    void readmeDesktopEntryExamplesAreValid();

private:
    QList<Layout *> m_layouts;
    QObject m_layoutParent;
};

void TestExamples::initTestCase()
{
    QVERIFY2(QFileInfo(examplesDir).isDir(), qPrintable(examplesDir));
    MessageCollector collector;
    Layout::readLayouts(&m_layoutParent, examplesDir + QStringLiteral("/layouts"), m_layouts);
}

void TestExamples::layoutsLoadWithoutMessages()
{
    QList<Layout *> layouts;
    QObject parent;
    MessageCollector collector;
    Layout::readLayouts(&parent, examplesDir + QStringLiteral("/layouts"), layouts);
    QCOMPARE(collector.messages(), QStringList());

    // A full-screen layout, a left/right split and one with nested regions, in file order.
    QStringList ids;
    for (Layout *layout : std::as_const(layouts))
        ids << layout->id();
    QCOMPARE(ids, (QStringList { "fullscreen", "split", "workspace" }));

    QSet<QString> seen;
    for (Layout *layout : std::as_const(layouts)) {
        QVERIFY2(!layout->name().isEmpty(), qPrintable(layout->id()));
        QVERIFY2(layout->regionExists(layout->defaultRegion()),
                 qPrintable(layout->id() + QStringLiteral(" -> ") + layout->defaultRegion()));
        // Desktop entries can name only these characters, so anything else is unreachable.
        static const QRegularExpression nameable(QStringLiteral("^[A-Za-z0-9-]+$"));
        QVERIFY2(nameable.match(layout->id()).hasMatch(), qPrintable(layout->id()));
        QVERIFY2(!seen.contains(layout->id()), qPrintable(layout->id()));
        seen.insert(layout->id());
    }
    Layout *workspace = layouts.at(2);
    QCOMPARE(workspace->regions().size(), 2);
    QCOMPARE(workspace->regions().first()->regions().size(), 2);
}

void TestExamples::desktopEntriesLoadWithoutMessages_data()
{
    QTest::addColumn<QString>("file");
    for (const QString &file : desktopEntryFiles())
        QTest::newRow(qPrintable(file)) << file;
}

void TestExamples::desktopEntriesLoadWithoutMessages()
{
    QFETCH(QString, file);
    MessageCollector collector;
    Details details(examplesDir + QStringLiteral("/clients/") + file);
    QCOMPARE(collector.messages(), QStringList());
    QVERIFY(details.valid());

    // Words the parser does not know fall back silently, so check them here.
    QVariant value;
    if (details.value(GROUP_X_KXVORLANE_SETTINGS, ENTRY_X_WINDOWSTATE, value, false))
        QVERIFY2((QStringList { "MINIMIZED", "NORMAL" }).contains(value.toString()),
                 qPrintable(value.toString()));
    if (details.value(GROUP_X_KXVORLANE_SETTINGS, ENTRY_X_MINIMIZEDMODE, value, false))
        QVERIFY2((QStringList { "TERMINATED", "RUNNING", "PAUSED" }).contains(value.toString()),
                 qPrintable(value.toString()));
    if (details.value(GROUP_X_KXVORLANE_SETTINGS, ENTRY_X_DEFAULTREGION, value, false)) {
        static const QRegularExpression pair(
            QStringLiteral("^\\s*[A-Za-z0-9-]+\\s*:\\s*[A-Za-z0-9-]+\\s*$"));
        for (const QString &piece : value.toString().split(QLatin1Char(';')))
            QVERIFY2(pair.match(piece).hasMatch(), qPrintable(piece));
    }
}

void TestExamples::defaultRegionsExist_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("layoutId");
    QTest::addColumn<QString>("regionId");

    for (const QString &file : desktopEntryFiles()) {
        Details details(examplesDir + QStringLiteral("/clients/") + file);
        const QMap<QString, QStringList> regions = details.defaultRegions();
        for (auto it = regions.cbegin(); it != regions.cend(); ++it) {
            if (it.key() != LAYOUT_DEFAULT) {
                QTest::addRow("%s %s", qPrintable(file), qPrintable(it.key()))
                    << file << it.key() << it.value().first();
                continue;
            }
            // The "DEFAULT" pair applies to every layout the entry does not name itself.
            for (Layout *layout : std::as_const(m_layouts)) {
                if (!regions.contains(layout->id()))
                    QTest::addRow("%s DEFAULT in %s", qPrintable(file), qPrintable(layout->id()))
                        << file << layout->id() << it.value().first();
            }
        }
    }
}

void TestExamples::defaultRegionsExist()
{
    QFETCH(QString, layoutId);
    QFETCH(QString, regionId);

    if (regionId == REGION_DEFAULT)
        return;
    const auto found = std::find_if(m_layouts.cbegin(), m_layouts.cend(),
                                    [&](Layout *layout) { return layout->id() == layoutId; });
    QVERIFY2(found != m_layouts.cend(), qPrintable(QStringLiteral("no layout ") + layoutId));
    QVERIFY2((*found)->regionExists(regionId),
             qPrintable(layoutId + QStringLiteral(" has no region ") + regionId));
}

void TestExamples::programsAndFilesExist_data()
{
    QTest::addColumn<QString>("file");
    for (const QString &file : desktopEntryFiles())
        QTest::newRow(qPrintable(file)) << file;
}

void TestExamples::programsAndFilesExist()
{
    QFETCH(QString, file);
    Details details(examplesDir + QStringLiteral("/clients/") + file);

    // The registry recognises a process by its executable, which the kernel reports with every
    // symbolic link resolved; a TryExec through a link would never match.
    const QFileInfo tryExec(details.tryExec());
    QVERIFY2(tryExec.isAbsolute(), qPrintable(details.tryExec()));
    QVERIFY2(tryExec.isExecutable(), qPrintable(details.tryExec()));
    QCOMPARE(tryExec.canonicalFilePath(), tryExec.absoluteFilePath());

    QVERIFY2(!details.program().isEmpty(), qPrintable(details.exec()));
    QVERIFY2(QFileInfo(details.program()).isExecutable(), qPrintable(details.program()));
    for (const QString &argument : details.arguments()) {
        if (argument.startsWith(QLatin1Char('/')))
            QVERIFY2(QFileInfo::exists(sourcePathOf(argument)), qPrintable(argument));
    }

    if (details.iconPath() != QStringLiteral("Default")) {
        const QUrl icon(details.iconPath());
        QCOMPARE(icon.scheme(), QStringLiteral("file"));
        QVERIFY2(QFileInfo::exists(sourcePathOf(icon.toLocalFile())),
                 qPrintable(details.iconPath()));
    }
}

void TestExamples::settingsFileNamesOnlyKnownKeys()
{
    const QString text = readText(examplesDir + QStringLiteral("/config.ini"));
    QVERIFY(!text.isEmpty());

    QSet<QString> known;
    for (const auto &entry : Configuration::defaultsInOrder())
        known.insert(entry.first);
    for (const char *group : { "Background", "QuickBar", "QuickBarElement", "LayoutSelector" })
        known.insert(QString::fromLatin1(group) + QStringLiteral("/Color2"));

    // Commented-out keys document the file too, so they must be real keys as well.
    static const QRegularExpression section(QStringLiteral("^\\[([^\\]]+)\\]$"));
    static const QRegularExpression key(QStringLiteral("^;?([A-Za-z0-9]+)=(.*)$"));
    QString current;
    QMap<QString, bool> commented; // section -> has a comment line
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        // The settings store does not treat "#" as a comment: such a line becomes a key.
        QVERIFY2(!line.trimmed().startsWith(QLatin1Char('#')), qPrintable(line));
        if (const auto match = section.match(line); match.hasMatch()) {
            current = match.captured(1);
            commented.insert(current, false);
        } else if (const auto match = key.match(line); match.hasMatch()) {
            QVERIFY2(!current.isEmpty(), qPrintable(line));
            const QString name = current + QLatin1Char('/') + match.captured(1);
            QVERIFY2(known.contains(name), qPrintable(name));
        } else if (line.startsWith(QLatin1Char(';')) && !current.isEmpty()) {
            commented[current] = true;
        }
    }
    for (auto it = commented.cbegin(); it != commented.cend(); ++it)
        QVERIFY2(it.value(), qPrintable(QStringLiteral("no comment in [") + it.key() + "]"));

    Configuration configuration(examplesDir + QStringLiteral("/config.ini"));
    const QString defaultLayout
        = configuration.value(QStringLiteral("Settings/DefaultLayout")).toString();
    QVERIFY(std::any_of(m_layouts.cbegin(), m_layouts.cend(),
                        [&](Layout *layout) { return layout->id() == defaultLayout; }));
}

void TestExamples::readmeSettingsTableMatchesDefaults()
{
    const QString readme = readText(readmePath);
    QVERIFY2(!readme.isEmpty(), qPrintable(readmePath));

    static const QRegularExpression row(
        QStringLiteral(
            "^\\|\\s*`([A-Za-z]+/[A-Za-z0-9]+)`\\s*\\|\\s*([a-z]+)\\s*\\|\\s*([^|]*?)\\s*\\|"),
        QRegularExpression::MultilineOption);
    QStringList documented;
    for (auto it = row.globalMatch(readme); it.hasNext();) {
        const auto match = it.next();
        documented << match.captured(1) + QLatin1Char(' ') + match.captured(2) + QLatin1Char(' ')
                + match.captured(3);
    }

    QStringList expected;
    QString table;
    for (const auto &[key, value] : Configuration::defaultsInOrder()) {
        expected << key + QLatin1Char(' ') + typeName(value) + QLatin1Char(' ')
                + defaultText(value);
        table
            += QStringLiteral("| `%1` | %2 | %3 |\n").arg(key, typeName(value), defaultText(value));
    }
    if (documented != expected)
        qInfo().noquote() << "The README's settings table should read (key, type, default):\n"
                          << table;
    QCOMPARE(documented, expected);
}

void TestExamples::readmeJsonExamplesAreLayoutFiles()
{
    const QString readme = readText(readmePath);
    static const QRegularExpression block(QStringLiteral("```json\\n(.*?)```"),
                                          QRegularExpression::DotMatchesEverythingOption);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    int blocks = 0;
    for (auto it = block.globalMatch(readme); it.hasNext(); ++blocks) {
        const QByteArray json = it.next().captured(1).toUtf8();
        QJsonParseError error;
        QJsonDocument::fromJson(json, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));

        const QString path = dir.filePath(QStringLiteral("example%1.json").arg(blocks));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();

        QList<Layout *> layouts;
        QObject parent;
        MessageCollector collector;
        Layout::parseLayoutFile(path, layouts, &parent);
        QCOMPARE(collector.messages(), QStringList());
        QVERIFY(!layouts.isEmpty());
    }
    QVERIFY(blocks > 0);
}

void TestExamples::readmeDesktopEntryExamplesAreValid()
{
    const QString readme = readText(readmePath);
    static const QRegularExpression block(QStringLiteral("```ini\\n(\\[Desktop Entry\\].*?)```"),
                                          QRegularExpression::DotMatchesEverythingOption);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    int blocks = 0;
    for (auto it = block.globalMatch(readme); it.hasNext(); ++blocks) {
        const QString path = dir.filePath(QStringLiteral("example%1.desktop").arg(blocks));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(it.next().captured(1).toUtf8());
        file.close();

        MessageCollector collector;
        Details details(path);
        QCOMPARE(collector.messages(), QStringList());
        QVERIFY(details.valid());
    }
    QVERIFY(blocks > 0);
}

QTEST_GUILESS_MAIN(TestExamples)
#include "tst_examples.moc"
