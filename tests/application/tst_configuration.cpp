#include "configuration.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using Vorlane::Configuration;

namespace {

struct Default
{
    const char *key;
    QVariant value;
};

const QString base = QStringLiteral("qrc:///Kestrix/Vorlane/Application/");

// The documented table, written out independently of the program's own copy.
QList<Default> documentedDefaults()
{
    return {
        { "Settings/Orientation", 0 },
        { "Settings/QuickBarPosition", QStringLiteral("LEFT") },
        { "Settings/LayoutsDir", QStringLiteral("/etc/vorlane/layouts") },
        { "Settings/ClientsDir", QStringLiteral("/etc/vorlane/clients") },
        { "Settings/DefaultMinimizedMode", QStringLiteral("PAUSED") },
        { "Settings/DefaultClientIcon", base + QStringLiteral("defaultClientIcon.gif") },
        { "Settings/DefaultLayout", QStringLiteral("DEFAULT_LAYOUT") },
        { "Settings/DisableLayoutSelector", 0 },
        { "Settings/DisableQuickBar", 0 },
        { "Settings/DisableRegionSelect", 0 },
        { "Background/Color", QStringLiteral("#444") },
        { "Background/Image", QStringLiteral("") },
        { "Background/ImageMarginTop", 0 },
        { "Background/ImageMarginBottom", 0 },
        { "Background/ImageMarginLeft", 0 },
        { "Background/ImageMarginRight", 0 },
        { "Background/FillMode", QStringLiteral("FIT") },
        { "QuickBar/DividerColor", QStringLiteral("#111") },
        { "QuickBar/Size", 12 },
        { "QuickBar/Spacing", 10 },
        { "QuickBar/Color", QStringLiteral("#444") },
        { "QuickBar/HeaderImage", QStringLiteral("") },
        { "QuickBar/HeaderImageMarginTop", 0 },
        { "QuickBar/HeaderImageMarginBottom", 0 },
        { "QuickBar/HeaderImageMarginLeft", 0 },
        { "QuickBar/HeaderImageMarginRight", 0 },
        { "QuickBar/Label", QStringLiteral("APPS") },
        { "QuickBar/LabelColor", QStringLiteral("#ccc") },
        { "QuickBar/LabelSize", 16 },
        { "QuickBar/LabelBold", 1 },
        { "QuickBar/LabelFont", QStringLiteral("Verdana") },
        { "QuickBarElement/Color", QStringLiteral("#555") },
        { "QuickBarElement/HighlightColor", QStringLiteral("#ddd") },
        { "QuickBarElement/OnScreenColor", QStringLiteral("#aaa") },
        { "QuickBarElement/RunningColor", QStringLiteral("#55a") },
        { "QuickBarElement/PausedColor", QStringLiteral("#333") },
        { "QuickBarElement/StoppedColor", QStringLiteral("#522") },
        { "QuickBarElement/Radius", 10 },
        { "QuickBarElement/DecorationSizeFactor", 1.0 },
        { "QuickBarElement/ShowLabel", 1 },
        { "QuickBarElement/LabelColor", QStringLiteral("#ddd") },
        { "QuickBarElement/LabelSize", 10 },
        { "QuickBarElement/LabelBold", 1 },
        { "QuickBarElement/LabelFont", QStringLiteral("Verdana") },
        { "LayoutSelector/Radius", 15 },
        { "LayoutSelector/Color", QStringLiteral("#555") },
        { "LayoutSelector/BorderColor", QStringLiteral("#111") },
        { "LayoutSelector/Label", QStringLiteral("Layout") },
        { "LayoutSelector/LabelColor", QStringLiteral("#ddd") },
        { "LayoutSelector/LabelBold", 1 },
        { "LayoutSelector/LabelFont", QStringLiteral("Verdana") },
        { "LayoutSelector/LabelSizeFactor", 1.0 },
        { "LayoutSelector/ValueColor", QStringLiteral("#ddd") },
        { "LayoutSelector/ValueBackgroundColor", QStringLiteral("#444") },
        { "LayoutSelector/ListColor1", QStringLiteral("#ddd") },
        { "LayoutSelector/ListColor2", QStringLiteral("#444") },
        { "SurfaceContainer/FillColor", QStringLiteral("#000") },
        { "SurfaceContainer/ScaleToFit", 1 },
        { "Keyboard/Enabled", 1 },
        { "Keyboard/Languages", QStringLiteral("en_US") },
        { "Keyboard/Height", 50 },
        { "Components/QuickBar", base + QStringLiteral("QuickBar.qml") },
        { "Components/QuickBarElement", base + QStringLiteral("QuickBarElement.qml") },
        { "Components/SurfaceContainer", base + QStringLiteral("SurfaceContainer.qml") },
        { "Components/RegionSelector", base + QStringLiteral("RegionSelector.qml") },
        { "Components/RegionSelectorAreaElement", base + QStringLiteral("RegionArea.qml") },
        { "Components/LayoutSelector", base + QStringLiteral("LayoutSelector.qml") },
    };
}

// Same type and same value; QVariant's own == converts between types.
bool sameVariant(const QVariant &a, const QVariant &b)
{
    return a.metaType() == b.metaType() && a == b;
}

} // namespace

class TestConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void defaultsTableInOrder();
    void defaultsWithoutFile_data();
    void defaultsWithoutFile();
    void fileValues_data();
    void fileValues();
    void callerDefault_data();
    void callerDefault();
    void readingLeavesFileAlone_data();
    void readingLeavesFileAlone();
    void setValueReachesFile();

private:
    // Writes text to a fresh settings file in m_dir and returns its path.
    QString writeSettings(const QByteArray &text);

    QTemporaryDir m_dir;
    int m_files = 0;
};

QString TestConfiguration::writeSettings(const QByteArray &text)
{
    const QString path = m_dir.filePath(QStringLiteral("config%1.ini").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    return path;
}

void TestConfiguration::defaultsTableInOrder()
{
    const auto expected = documentedDefaults();
    const auto &table = Configuration::defaultsInOrder();
    QCOMPARE(table.size(), 67);
    QCOMPARE(table.size(), expected.size());
    for (int i = 0; i < table.size(); ++i) {
        const QString where = QStringLiteral("row %1 (%2)").arg(i + 1).arg(table.at(i).first);
        QVERIFY2(table.at(i).first == QLatin1String(expected.at(i).key), qPrintable(where));
        QVERIFY2(sameVariant(table.at(i).second, expected.at(i).value), qPrintable(where));
    }
}

void TestConfiguration::defaultsWithoutFile_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");

    for (const Default &entry : documentedDefaults())
        QTest::newRow(entry.key) << QString::fromLatin1(entry.key) << entry.value;
    // Keys that the components read but that have no default.
    for (const char *key : { "Background/Color2", "QuickBar/Color2", "QuickBarElement/Color2",
                             "LayoutSelector/Color2", "Nothing/Here", "quickbar/size", "" })
        QTest::newRow(key) << QString::fromLatin1(key) << QVariant();
}

void TestConfiguration::defaultsWithoutFile()
{
    QFETCH(QString, key);
    QFETCH(QVariant, expected);

    const Configuration configuration(m_dir.filePath(QStringLiteral("missing.ini")));
    if (key.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, "QSettings::value: Empty key passed");
    const QVariant actual = configuration.value(key);
    QVERIFY2(sameVariant(actual, expected), qPrintable(actual.toString()));
}

void TestConfiguration::fileValues_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("number comes back as text")
        << QByteArray("[QuickBar]\nSize=20\n") << "QuickBar/Size" << QVariant(QStringLiteral("20"));
    QTest::newRow("empty value from the file")
        << QByteArray("[Background]\nImage=\n") << "Background/Image"
        << QVariant(QStringLiteral(""));
    QTest::newRow("colour with hash") << QByteArray("[Background]\nColor=#123456\n")
                                      << "Background/Color" << QVariant(QStringLiteral("#123456"));
    QTest::newRow("quoted colour") << QByteArray("[QuickBar]\nColor=\"#abc\"\n") << "QuickBar/Color"
                                   << QVariant(QStringLiteral("#abc"));
    QTest::newRow("key without default") << QByteArray("[Background]\nColor2=#000\n")
                                         << "Background/Color2" << QVariant(QStringLiteral("#000"));
    QTest::newRow("word where a number belongs")
        << QByteArray("[QuickBar]\nSize=big\n") << "QuickBar/Size"
        << QVariant(QStringLiteral("big"));
    QTest::newRow("unquoted comma makes a list")
        << QByteArray("[QuickBar]\nLabel=a,b\n") << "QuickBar/Label"
        << QVariant(QStringList { QStringLiteral("a"), QStringLiteral("b") });
    QTest::newRow("other keys keep their defaults")
        << QByteArray("[QuickBar]\nSize=20\n") << "QuickBar/Spacing" << QVariant(10);
    QTest::newRow("keys are case-sensitive")
        << QByteArray("[quickbar]\nsize=20\n") << "QuickBar/Size" << QVariant(12);
    QTest::newRow("switch as text") << QByteArray("[Settings]\nDisableQuickBar=1\n")
                                    << "Settings/DisableQuickBar" << QVariant(QStringLiteral("1"));
    QTest::newRow("empty file") << QByteArray() << "Settings/QuickBarPosition"
                                << QVariant(QStringLiteral("LEFT"));
    QTest::newRow("unterminated section")
        << QByteArray("[QuickBar\nSize=20\n") << "QuickBar/Spacing" << QVariant(10);
    QTest::newRow("binary garbage")
        << QByteArray("\x00\xff\xfe[\x01=\x02\n\x80\x81=\xc3\x28\n;;==\n", 20) << "QuickBar/Size"
        << QVariant(12);
    QTest::newRow("binary garbage, key without default")
        << QByteArray("\x00\xff\xfe[\x01=\x02\n\x80\x81=\xc3\x28\n;;==\n", 20)
        << "Background/Color2" << QVariant();
}

void TestConfiguration::fileValues()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, key);
    QFETCH(QVariant, expected);

    const QString path = writeSettings(text);
    QVERIFY(!path.isEmpty());
    const Configuration configuration(path);
    const QVariant actual = configuration.value(key);
    QVERIFY2(sameVariant(actual, expected),
             qPrintable(QStringLiteral("%1 (%2)").arg(actual.toString(), actual.typeName())));
}

void TestConfiguration::callerDefault_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("callerDefault");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("table beats caller")
        << QByteArray() << "QuickBar/Label" << QVariant(QStringLiteral(""))
        << QVariant(QStringLiteral("APPS"));
    QTest::newRow("unknown key takes caller's")
        << QByteArray() << "No/Such" << QVariant(5) << QVariant(5);
    QTest::newRow("second colour falls back")
        << QByteArray() << "QuickBarElement/Color2" << QVariant(QStringLiteral("#555"))
        << QVariant(QStringLiteral("#555"));
    QTest::newRow("second colour from the file")
        << QByteArray("[QuickBarElement]\nColor2=#123\n") << "QuickBarElement/Color2"
        << QVariant(QStringLiteral("#555")) << QVariant(QStringLiteral("#123"));
    QTest::newRow("empty file value beats caller")
        << QByteArray("[LayoutSelector]\nColor2=\n") << "LayoutSelector/Color2"
        << QVariant(QStringLiteral("#555")) << QVariant(QStringLiteral(""));
    QTest::newRow("invalid caller default")
        << QByteArray() << "No/Such" << QVariant() << QVariant();
}

void TestConfiguration::callerDefault()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, key);
    QFETCH(QVariant, callerDefault);
    QFETCH(QVariant, expected);

    const QString path = writeSettings(text);
    QVERIFY(!path.isEmpty());
    const Configuration configuration(path);
    const QVariant actual = configuration.value(key, callerDefault);
    QVERIFY2(sameVariant(actual, expected), qPrintable(actual.toString()));
}

void TestConfiguration::readingLeavesFileAlone_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("missing file") << false << QByteArray();
    QTest::newRow("empty file") << true << QByteArray();
    QTest::newRow("partial file") << true << QByteArray("[QuickBar]\nSize=20\n# note\n");
    QTest::newRow("unusual layout")
        << true << QByteArray("  [QuickBar]  \r\nSize = 20 ;comment\r\n\r\n[Empty]\n");
}

void TestConfiguration::readingLeavesFileAlone()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, text);

    QString path;
    if (exists) {
        path = writeSettings(text);
        QVERIFY(!path.isEmpty());
    } else {
        path = m_dir.filePath(QStringLiteral("sub/never%1.ini").arg(++m_files));
    }
    const QDateTime modified = QFileInfo(path).lastModified();

    {
        Configuration configuration(path);
        for (const Default &entry : documentedDefaults()) {
            configuration.value(QString::fromLatin1(entry.key));
            configuration.value(QString::fromLatin1(entry.key), 1);
        }
        configuration.value(QStringLiteral("Background/Color2"));
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();

    QCOMPARE(QFileInfo::exists(path), exists);
    if (!exists) {
        QVERIFY(!QFileInfo::exists(QFileInfo(path).path()));
        return;
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), text);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
}

void TestConfiguration::setValueReachesFile()
{
    const QString path = m_dir.filePath(QStringLiteral("written.ini"));
    {
        Configuration configuration(path);
        configuration.setValue(QStringLiteral("QuickBar/Size"), 30);
        QCOMPARE(configuration.value(QStringLiteral("QuickBar/Size")).toInt(), 30);
    }
    const Configuration reopened(path);
    QCOMPARE(reopened.value(QStringLiteral("QuickBar/Size")), QVariant(QStringLiteral("30")));
    QCOMPARE(reopened.value(QStringLiteral("QuickBar/Spacing")), QVariant(10));
}

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
