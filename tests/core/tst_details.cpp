#include "clientprocesses.h"
#include "details.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using TestSupport::MessageCatcher;
using Vorlane::Core::Details;

namespace {

const QByteArray MINIMAL = "[Desktop Entry]\nName=Viewer\nTryExec=/usr/bin/viewer\n"
                           "Exec=/usr/bin/viewer\n";
const QString PARSE_FAILED = QStringLiteral("Could not parse file in path:  \"%1\"");
const QString VALIDATE_FAILED = QStringLiteral(
    "bool Vorlane::Core::Details::validate() entry empty or missing group desktop section");

} // namespace

class TstDetails : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void validity_data();
    void validity();
    void values_data();
    void values();
    void settings_data();
    void settings();
    void defaultRegions_data();
    void defaultRegions();
    void localizedName_data();
    void localizedName();
    void synthetic();
    void empty();
    void unusablePaths();

private:
    QString write(const QByteArray &content);

    QTemporaryDir m_dir;
    int m_files = 0;
};

QString TstDetails::write(const QByteArray &content)
{
    const QString path = m_dir.filePath(QStringLiteral("entry%1.desktop").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write test file");
    file.write(content);
    return path;
}

void TstDetails::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Set in main() before the first use of the system locale.
    QCOMPARE(QLocale::system().name(), QStringLiteral("de_DE"));
}

void TstDetails::validity_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("validateWarning");

    QByteArray huge;
    for (int i = 0; i < 200000; ++i)
        huge += "Junk line " + QByteArray::number(i) + " without a key\n";

    QTest::newRow("minimal") << MINIMAL << true << false;
    QTest::newRow("no Name") << QByteArray("[Desktop Entry]\nTryExec=/a\nExec=/a\n") << false
                             << false;
    QTest::newRow("no TryExec") << QByteArray("[Desktop Entry]\nName=A\nExec=/a\n") << false
                                << false;
    QTest::newRow("no Exec") << QByteArray("[Desktop Entry]\nName=A\nTryExec=/a\n") << false
                             << false;
    QTest::newRow("only localised Name")
        << QByteArray("[Desktop Entry]\nName[de]=A\nName[de_DE]=A\nTryExec=/a\nExec=/a\n") << false
        << false;
    QTest::newRow("Exec ends at equals sign")
        << QByteArray("[Desktop Entry]\nName=A\nTryExec=/a\nExec=\n") << false << false;
    QTest::newRow("indented key") << QByteArray("[Desktop Entry]\nName=A\nTryExec=/a\n  Exec=/a\n")
                                  << false << false;
    QTest::newRow("keys before any header")
        << QByteArray("Name=A\nTryExec=/a\nExec=/a\n[Desktop Entry]\n") << false << false;
    QTest::newRow("empty file") << QByteArray() << false << true;
    static const char binary[] = "\x7f"
                                 "ELF\x02\x01\x01\x00\x00\xff\xfe=\x00\n\x01\x02";
    QTest::newRow("binary") << QByteArray(binary, sizeof(binary) - 1) << false << true;
    QTest::newRow("only another group")
        << QByteArray("[Other]\nName=A\nTryExec=/a\nExec=/a\n") << false << true;
    QTest::newRow("group name in other case")
        << QByteArray("[desktop entry]\nName=A\nTryExec=/a\nExec=/a\n") << false << true;
    QTest::newRow("header with trailing blank")
        << QByteArray("[Desktop Entry] \n" + MINIMAL.mid(16)) << false << true;
    QTest::newRow("header with leading blank")
        << QByteArray(" [Desktop Entry]\n" + MINIMAL.mid(16)) << false << true;
    QTest::newRow("keys fall back to previous group")
        << QByteArray("[Other]\n[Desktop Entry] \nName=A\nTryExec=/a\nExec=/a\n") << false << true;
    QTest::newRow("CRLF endings") << QByteArray(MINIMAL).replace("\n", "\r\n") << true << false;
    QTest::newRow("no final line break") << MINIMAL.chopped(1) << true << false;
    QTest::newRow("huge file") << QByteArray(huge + MINIMAL) << true << false;
    QTest::newRow("very long line")
        << QByteArray(MINIMAL + "Comment=" + QByteArray(4 * 1024 * 1024, 'x') + "\n") << true
        << false;
    QTest::newRow("very long header")
        << QByteArray("[" + QByteArray(1024 * 1024, 'y') + "\n" + MINIMAL) << true << false;
}

void TstDetails::validity()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, valid);
    QFETCH(bool, validateWarning);

    const QString path = write(content);
    MessageCatcher messages;
    Details details(path);

    QCOMPARE(details.valid(), valid);
    QStringList expected;
    if (validateWarning)
        expected << VALIDATE_FAILED;
    if (!valid)
        expected << PARSE_FAILED.arg(path);
    QCOMPARE(messages.warnings(), expected);
    if (!valid) {
        // An invalid entry answers every lookup with its default and names no region.
        QCOMPARE(details.name(true), QStringLiteral("Unknown name"));
        QCOMPARE(details.tryExec(), QString());
        QVERIFY(details.defaultRegions().isEmpty());
    }
}

void TstDetails::values_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("iconPath");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");

    const QByteArray keys = "Name=Viewer\nTryExec=/usr/bin/viewer\n";
    const QString viewer = QStringLiteral("/usr/bin/viewer");

    QTest::newRow("plain") << QByteArray(keys + "Icon=/icons/v.png\nExec=/usr/bin/viewer -f\n")
                           << "Viewer"
                           << "/icons/v.png" << viewer << QStringList { "-f" };
    QTest::newRow("first key wins")
        << QByteArray("Name=First\nName=Second\nTryExec=/a\nExec=/a\nExec=/b\n") << "First"
        << "Default"
        << "/a" << QStringList();
    QTest::newRow("blanks around equals")
        << QByteArray("Name \t=  Spaced Out  \nTryExec=/a\nExec  =  /a  x  \n") << "Spaced Out"
        << "Default"
        << "/a" << QStringList { "x" };
    QTest::newRow("comments") << QByteArray("# Name=Hidden\n#Icon=/hidden\n" + keys
                                            + "Exec=/usr/bin/viewer\n")
                              << "Viewer"
                              << "Default" << viewer << QStringList();
    QTest::newRow("icon ends at equals sign")
        << QByteArray(keys + "Icon=\nExec=/usr/bin/viewer\n") << "Viewer"
        << "Default" << viewer << QStringList();
    QTest::newRow("icon only blanks")
        << QByteArray(keys + "Icon=   \nExec=/usr/bin/viewer\n") << "Viewer"
        << "Default" << viewer << QStringList();
    QTest::newRow("icon never localised")
        << QByteArray(keys + "Icon[de]=/de.png\nIcon=/plain.png\nExec=/usr/bin/viewer\n")
        << "Viewer"
        << "/plain.png" << viewer << QStringList();
    QTest::newRow("merged groups")
        << QByteArray("Name=A\n[Other]\nName=B\n[Desktop Entry]\nName=C\nTryExec=/a\n"
                      "Exec=/a\nIcon=/i\n")
        << "A"
        << "/i"
        << "/a" << QStringList();
    QTest::newRow("two blanks give an empty argument")
        << QByteArray(keys + "Exec=/usr/bin/viewer a  b\n") << "Viewer"
        << "Default" << viewer << QStringList { "a", "", "b" };
    QTest::newRow("quotes stay in arguments")
        << QByteArray(keys + "Exec=/usr/bin/viewer \"a b\" 'c'\n") << "Viewer"
        << "Default" << viewer << QStringList { "\"a", "b\"", "'c'" };
    QTest::newRow("field codes are ordinary text")
        << QByteArray(keys + "Exec=/usr/bin/viewer %U --x=%f\n") << "Viewer"
        << "Default" << viewer << QStringList { "%U", "--x=%f" };
    QTest::newRow("plus in arguments")
        << QByteArray(keys + "Exec=/usr/bin/viewer a+b\n") << "Viewer"
        << "Default" << QString() << QStringList();
    QTest::newRow("plus in program") << QByteArray(keys + "Exec=/usr/bin/c++ -v\n") << "Viewer"
                                     << "Default"
                                     << "/usr/bin/c++" << QStringList { "-v" };
    QTest::newRow("tab in arguments")
        << QByteArray(keys + "Exec=/usr/bin/viewer a\tb\n") << "Viewer"
        << "Default" << QString() << QStringList();
    QTest::newRow("tab after program") << QByteArray(keys + "Exec=/usr/bin/viewer\ta\n") << "Viewer"
                                       << "Default" << QString() << QStringList();
    QTest::newRow("non-ASCII program") << QByteArray(keys + "Exec=/opt/pr\xc3\xb6g a\n") << "Viewer"
                                       << "Default" << QString() << QStringList();
    QTest::newRow("non-ASCII argument") << QByteArray(keys + "Exec=/a \xc3\xa4\n") << "Viewer"
                                        << "Default"
                                        << "/a" << QStringList { QStringLiteral("\u00e4") };
    QTest::newRow("localised key is its own key")
        << QByteArray("Name[fr@euro]=Visionneuse\nName=Viewer\nTryExec=/a\nExec=/a\n") << "Viewer"
        << "Default"
        << "/a" << QStringList();
}

void TstDetails::values()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, name);
    QFETCH(QString, iconPath);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);

    Details details(write("[Desktop Entry]\n" + lines));
    QVERIFY(details.valid());
    QCOMPARE(details.name(true), name);
    QCOMPARE(details.name(false), name);
    QCOMPARE(details.iconPath(), iconPath);
    QCOMPARE(details.program(), program);
    QCOMPARE(details.arguments(), arguments);
    QCOMPARE(details.property("name").toString(), name);
}

void TstDetails::settings_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<Details::WindowState>("windowState");
    QTest::addColumn<Details::MinimizedMode>("minimizedMode");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("surfaceContainer");
    QTest::addColumn<QString>("quickBarElement");

    const auto newRow = [](const char *name, const QByteArray &lines, Details::WindowState ws,
                           Details::MinimizedMode mm, bool executable,
                           const QString &container = QStringLiteral("Default"),
                           const QString &element = QStringLiteral("Default")) {
        QTest::newRow(name) << lines << ws << mm << executable << container << element;
    };
    const QByteArray group = "[X-KXVorlane Settings]\n";

    newRow("absent", QByteArray(), Details::WS_NORMAL, Details::MM_RUNNING, false);
    newRow("all set",
           group
               + "X-WindowState=MINIMIZED\nX-MinimizedMode=PAUSED\nX-Executable=true\n"
                 "X-SurfaceContainer=file:///c.qml\nX-QuickBarElement=qrc:/e.qml\n",
           Details::WS_MINIMIZED, Details::MM_PAUSED, true, "file:///c.qml", "qrc:/e.qml");
    newRow("words in lower case", group + "X-WindowState=minimized\nX-MinimizedMode=paused\n",
           Details::WS_NORMAL, Details::MM_RUNNING, false);
    newRow("terminated", group + "X-MinimizedMode=TERMINATED\nX-WindowState=NORMAL\n",
           Details::WS_NORMAL, Details::MM_TERMINATED, false);
    newRow("unknown words", group + "X-WindowState=HIDDEN\nX-MinimizedMode=\n", Details::WS_NORMAL,
           Details::MM_RUNNING, false);
    newRow("executable yes", group + "X-Executable=yes\n", Details::WS_NORMAL, Details::MM_RUNNING,
           true);
    newRow("executable 1", group + "X-Executable=1\n", Details::WS_NORMAL, Details::MM_RUNNING,
           true);
    newRow("executable False", group + "X-Executable=False\n", Details::WS_NORMAL,
           Details::MM_RUNNING, false);
    newRow("executable 0", group + "X-Executable=0\n", Details::WS_NORMAL, Details::MM_RUNNING,
           false);
    newRow("executable blank", group + "X-Executable= \n", Details::WS_NORMAL, Details::MM_RUNNING,
           false);
    newRow("components blank", group + "X-SurfaceContainer=  \nX-QuickBarElement=  \n",
           Details::WS_NORMAL, Details::MM_RUNNING, false);
    newRow("keys in the wrong group", "X-WindowState=MINIMIZED\nX-Executable=true\n",
           Details::WS_NORMAL, Details::MM_RUNNING, false);
    newRow("group repeated, first key wins",
           group + "X-MinimizedMode=PAUSED\n[Desktop Entry]\n" + group
               + "X-MinimizedMode=TERMINATED\nX-Executable=1\n",
           Details::WS_NORMAL, Details::MM_PAUSED, true);
}

void TstDetails::settings()
{
    QFETCH(QByteArray, lines);
    QFETCH(Details::WindowState, windowState);
    QFETCH(Details::MinimizedMode, minimizedMode);
    QFETCH(bool, executable);
    QFETCH(QString, surfaceContainer);
    QFETCH(QString, quickBarElement);

    Details details(write(MINIMAL + lines));
    QVERIFY(details.valid());
    QCOMPARE(details.windowState(), windowState);
    QCOMPARE(details.minimizedMode(), minimizedMode);
    QCOMPARE(details.executable(), executable);
    QCOMPARE(details.surfaceContainer(), surfaceContainer);
    QCOMPARE(details.quickBarElement(), quickBarElement);
    QCOMPARE(details.property("windowState").toInt(), int(windowState));
    QCOMPARE(details.property("executable").toBool(), executable);
}

void TstDetails::defaultRegions_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QVariantMap>("regions");
    QTest::addColumn<QStringList>("otherLayout");

    const QStringList quickBar { QStringLiteral("QuickBar") };
    QTest::newRow("absent") << QByteArray() << QVariantMap { { "DEFAULT", quickBar } } << quickBar;
    QTest::newRow("pairs with default") << QByteArray("main:left; DEFAULT : right;main:top")
                                        << QVariantMap { { "DEFAULT", QStringList { "right" } },
                                                         { "main", QStringList { "left", "top" } } }
                                        << QStringList { "right" };
    QTest::newRow("no default pair")
        << QByteArray("main:left")
        << QVariantMap { { "DEFAULT", quickBar }, { "main", QStringList { "left" } } } << quickBar;
    QTest::newRow("pieces without pairs")
        << QByteArray(";;nothing here; :x;y: ;side-2 : r-1 trailing")
        << QVariantMap { { "DEFAULT", quickBar }, { "side-2", QStringList { "r-1" } } } << quickBar;
    QTest::newRow("only garbage") << QByteArray("\xff\xfe;;::")
                                  << QVariantMap { { "DEFAULT", quickBar } } << quickBar;
}

void TstDetails::defaultRegions()
{
    QFETCH(QByteArray, value);
    QFETCH(QVariantMap, regions);
    QFETCH(QStringList, otherLayout);

    QByteArray content = MINIMAL;
    if (!value.isEmpty())
        content += "[X-KXVorlane Settings]\nX-DefaultRegion=" + value + "\n";
    Details details(write(content));
    QVERIFY(details.valid());

    QCOMPARE(details.defaultRegionsVariantMap(), regions);
    QCOMPARE(details.property("defaultRegions").toMap(), regions);
    QCOMPARE(details.defaultRegions().keys(), regions.keys());
    for (auto it = regions.constBegin(); it != regions.constEnd(); ++it)
        QCOMPARE(details.defaultRegion(it.key()), it.value().toStringList());
    QCOMPARE(details.defaultRegion(QStringLiteral("no-such-layout")), otherLayout);
    QCOMPARE(details.defaultRegion(), otherLayout);
}

void TstDetails::localizedName_data()
{
    QTest::addColumn<QByteArray>("names");
    QTest::addColumn<QString>("localized");

    QTest::newRow("language and territory first")
        << QByteArray("Name[de]=Betrachter\nName=Viewer\nName[de_DE]=Bildbetrachter\n")
        << "Bildbetrachter";
    QTest::newRow("language alone")
        << QByteArray("Name=Viewer\nName[de]=Betrachter\n") << "Betrachter";
    QTest::newRow("other territory")
        << QByteArray("Name=Viewer\nName[de_AT]=Schauer\n") << "Viewer";
    QTest::newRow("other language")
        << QByteArray("Name=Viewer\nName[fr]=Visionneuse\n") << "Viewer";
    QTest::newRow("first localised value wins")
        << QByteArray("Name=Viewer\nName[de]=Eins\nName[de]=Zwei\n") << "Eins";
    QTest::newRow("empty localised value") << QByteArray("Name=Viewer\nName[de]= \n") << "";
}

void TstDetails::localizedName()
{
    QFETCH(QByteArray, names);
    QFETCH(QString, localized);

    Details details(write("[Desktop Entry]\nTryExec=/a\nExec=/a\n" + names));
    QVERIFY(details.valid());
    QCOMPARE(details.name(true), localized);
    QCOMPARE(details.property("name").toString(), localized);
    QCOMPARE(details.name(false), QStringLiteral("Viewer"));

    QVariant value;
    QVERIFY(details.value(QStringLiteral("Desktop Entry"), QStringLiteral("Name"), value, true));
    QCOMPARE(value.toString(), localized);
    // The plain key must exist for a localised lookup.
    QVERIFY(
        !details.value(QStringLiteral("Desktop Entry"), QStringLiteral("Comment"), value, true));
    QCOMPARE(value, QVariant(QString()));
}

void TstDetails::synthetic()
{
    Details details(QStringLiteral("viewer"), QStringLiteral("/usr/bin/viewer"),
                    QStringLiteral("/usr/bin/viewer --a  b"));
    QVERIFY(details.valid());
    QCOMPARE(details.name(true), QStringLiteral("viewer"));
    QCOMPARE(details.iconPath(), QStringLiteral("Default"));
    QCOMPARE(details.tryExec(), QStringLiteral("/usr/bin/viewer"));
    QCOMPARE(details.exec(), QStringLiteral("/usr/bin/viewer --a  b"));
    QCOMPARE(details.program(), QStringLiteral("/usr/bin/viewer"));
    QCOMPARE(details.arguments(), (QStringList { "--a", "", "b" }));
    QCOMPARE(details.defaultRegionsVariantMap(),
             (QVariantMap { { "DEFAULT", QStringList { "QuickBar" } } }));
    QCOMPARE(details.windowState(), Details::WS_NORMAL);
    QCOMPARE(details.minimizedMode(), Details::MM_RUNNING);
    QVERIFY(!details.executable());
    QCOMPARE(details.surfaceContainer(), QStringLiteral("Default"));
    QCOMPARE(details.quickBarElement(), QStringLiteral("Default"));
}

void TstDetails::empty()
{
    Details details;
    QVERIFY(!details.valid());
    QCOMPARE(details.name(true), QStringLiteral("Unknown name"));
    QCOMPARE(details.iconPath(), QStringLiteral("Default"));
    QCOMPARE(details.exec(), QString());
    QCOMPARE(details.program(), QString());
    QCOMPARE(details.arguments(), QStringList());
    QCOMPARE(details.windowState(), Details::WS_NORMAL);
    QCOMPARE(details.minimizedMode(), Details::MM_RUNNING);
    QVERIFY(!details.executable());
    QCOMPARE(details.defaultRegion(), QStringList());
    QVERIFY(details.defaultRegionsVariantMap().isEmpty());
}

void TstDetails::unusablePaths()
{
    const QString fifo = m_dir.filePath(QStringLiteral("fifo.desktop"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString unreadable = write(MINIMAL);
    QFile::setPermissions(unreadable, {});

    // A FIFO would block the reader forever; a directory, a missing file and (for anyone but
    // root) an unreadable file cannot be opened.
    const QStringList paths { fifo, m_dir.path(), m_dir.filePath(QStringLiteral("missing")),
                              QString(), unreadable };
    for (const QString &path : paths) {
        MessageCatcher messages;
        Details details(path);
        if (path == unreadable && ::geteuid() == 0) {
            QVERIFY(details.valid());
            continue;
        }
        QVERIFY2(!details.valid(), qPrintable(path));
        QCOMPARE(messages.warnings(), QStringList { PARSE_FAILED.arg(path) });
    }
}

int main(int argc, char *argv[])
{
    // The system locale is read once per process: make it German before anything asks for it.
    qputenv("LC_ALL", "de_DE.UTF-8");
    qputenv("LANG", "de_DE.UTF-8");
    QCoreApplication app(argc, argv);
    TstDetails test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_details.moc"
