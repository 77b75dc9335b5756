// `cmake --install` of this build into a staging directory (DESTDIR) must give the layout that
// a device image or a package is made from.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString prefix = QStringLiteral("/usr");
const QString configDir = QStringLiteral(VORLANE_CONFIG_DIR);
const QString examplesDir = QStringLiteral(VORLANE_SOURCE_DIR "/examples");

QString underPrefix(const char *dir)
{
    const QString path = QString::fromUtf8(dir);
    return QDir::isAbsolutePath(path) ? path : prefix + QLatin1Char('/') + path;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void installsFile_data();
    void installsFile();
    void exampleFilesAreCopied_data();
    void exampleFilesAreCopied();
    void settingsPointAtInstalledDirectories();
    void unitStartsInstalledProgram();
    void installedProgramFindsInstalledLibrary();

private:
    QString staged(const QString &path) const { return m_stage.path() + path; }

    QTemporaryDir m_stage;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_stage.isValid());
    QProcess install;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DESTDIR"), m_stage.path());
    install.setProcessEnvironment(environment);
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(VORLANE_CMAKE_COMMAND),
                  { QStringLiteral("--install"), QStringLiteral(VORLANE_BINARY_DIR),
                    QStringLiteral("--prefix"), prefix });
    QVERIFY(install.waitForFinished(300000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
}

void TestInstall::installsFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    const QString bin = underPrefix(VORLANE_INSTALL_BINDIR);
    const QString lib = underPrefix(VORLANE_INSTALL_LIBDIR);
    QTest::newRow("program") << bin + QStringLiteral("/vorlane_application") << true;
    QTest::newRow("library soname") << lib + QStringLiteral("/libvorlane_core.so.1") << false;
    QTest::newRow("library") << lib + QStringLiteral("/libvorlane_core.so") << false;
    QTest::newRow("compositor") << lib + QStringLiteral("/libvorlane_compositor.so") << false;
    QTest::newRow("settings") << configDir + QStringLiteral("/config.ini") << false;
    QTest::newRow("systemd unit") << underPrefix(VORLANE_SYSTEMD_UNIT_DIR)
            + QStringLiteral("/vorlane.service")
                                  << false;
    QTest::newRow("systemd socket")
        << underPrefix(VORLANE_SYSTEMD_UNIT_DIR) + QStringLiteral("/vorlane.socket") << false;
}

void TestInstall::installsFile()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    const QFileInfo info(staged(path));
    QVERIFY2(info.isFile(), qPrintable(path));
    QCOMPARE(info.isExecutable(), executable);
}

void TestInstall::exampleFilesAreCopied_data()
{
    QTest::addColumn<QString>("relativePath");
    // Everything under examples/ except the settings file, which is rewritten on the way.
    QDirIterator it(examplesDir, QDir::Files, QDirIterator::Subdirectories);
    int rows = 0;
    while (it.hasNext()) {
        const QString relative = QDir(examplesDir).relativeFilePath(it.next());
        if (relative == QStringLiteral("config.ini"))
            continue;
        QTest::newRow(qPrintable(relative)) << relative;
        ++rows;
    }
    QVERIFY(rows >= 4);
}

void TestInstall::exampleFilesAreCopied()
{
    QFETCH(QString, relativePath);
    QByteArray expected = readAll(examplesDir + QLatin1Char('/') + relativePath);
    expected.replace("/etc/vorlane", configDir.toUtf8());
    const QString installed = staged(configDir + QLatin1Char('/') + relativePath);
    QVERIFY2(QFileInfo::exists(installed), qPrintable(installed));
    QCOMPARE(readAll(installed), expected);
}

void TestInstall::settingsPointAtInstalledDirectories()
{
    QSettings installed(staged(configDir + QStringLiteral("/config.ini")), QSettings::IniFormat);
    QSettings example(examplesDir + QStringLiteral("/config.ini"), QSettings::IniFormat);
    QCOMPARE(installed.value(QStringLiteral("Settings/LayoutsDir")).toString(),
             configDir + QStringLiteral("/layouts"));
    QCOMPARE(installed.value(QStringLiteral("Settings/ClientsDir")).toString(),
             configDir + QStringLiteral("/clients"));

    // Only the two directories differ from the example.
    QStringList keys = example.allKeys();
    keys.removeAll(QStringLiteral("Settings/LayoutsDir"));
    keys.removeAll(QStringLiteral("Settings/ClientsDir"));
    QVERIFY(!keys.isEmpty());
    for (const QString &key : std::as_const(keys))
        QCOMPARE(installed.value(key), example.value(key));
    QCOMPARE(installed.allKeys().size(), example.allKeys().size());
}

void TestInstall::unitStartsInstalledProgram()
{
    const QString unit = QString::fromUtf8(readAll(
        staged(underPrefix(VORLANE_SYSTEMD_UNIT_DIR) + QStringLiteral("/vorlane.service"))));
    QVERIFY(!unit.isEmpty());
    static const QRegularExpression placeholder(QStringLiteral("@[A-Z_]+@"));
    QVERIFY2(!unit.contains(placeholder), "placeholder left in the unit");
    const QString execStart
        = QStringLiteral("\nExecStart=%1/vorlane_application --configfile %2/config.ini\n")
              .arg(underPrefix(VORLANE_INSTALL_BINDIR), configDir);
    QVERIFY2(unit.contains(execStart), qPrintable(unit));
    QVERIFY(unit.contains(QStringLiteral("\nWantedBy=")));
    QVERIFY(unit.contains(QStringLiteral("\nType=notify\n")));

    // The socket systemd opens is the one the service's clients look for.
    static const QRegularExpression runtimeDir(
        QStringLiteral("\nEnvironment=XDG_RUNTIME_DIR=(\\S+)\n"));
    const QRegularExpressionMatch runtime = runtimeDir.match(unit);
    QVERIFY(runtime.hasMatch());
    const QString socket = QString::fromUtf8(
        readAll(staged(underPrefix(VORLANE_SYSTEMD_UNIT_DIR) + QStringLiteral("/vorlane.socket"))));
    QVERIFY2(
        socket.contains(QStringLiteral("\nListenStream=%1/wayland-0\n").arg(runtime.captured(1))),
        qPrintable(socket));
}

void TestInstall::installedProgramFindsInstalledLibrary()
{
    const QString program
        = staged(underPrefix(VORLANE_INSTALL_BINDIR) + QStringLiteral("/vorlane_application"));

    // The loader must take the staged library, not one of the build tree or of the system. The
    // program loads the compositor library, which needs the core library.
    const QString compositor
        = staged(underPrefix(VORLANE_INSTALL_LIBDIR)) + QStringLiteral("/libvorlane_compositor.so");
    QProcess ldd;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LD_LIBRARY_PATH"));
    ldd.setProcessEnvironment(environment);
    ldd.start(QStringLiteral("ldd"), { compositor });
    QVERIFY(ldd.waitForFinished(60000));
    const QString libraries = QString::fromUtf8(ldd.readAllStandardOutput());
    static const QRegularExpression line(QStringLiteral("libvorlane_core\\.so\\.1 => (\\S+)"));
    const QRegularExpressionMatch match = line.match(libraries);
    QVERIFY2(match.hasMatch(), qPrintable(libraries));
    const QString expected
        = QFileInfo(staged(underPrefix(VORLANE_INSTALL_LIBDIR))).canonicalFilePath()
        + QStringLiteral("/libvorlane_core.so.1");
    QCOMPARE(QFileInfo(match.captured(1)).absoluteDir().canonicalPath()
                 + QStringLiteral("/libvorlane_core.so.1"),
             expected);

    QProcess help;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    help.setProcessEnvironment(environment);
    help.start(program, { QStringLiteral("--help") });
    QVERIFY(help.waitForFinished(60000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("Vorlane Compositor"));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
