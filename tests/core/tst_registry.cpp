#include "clientprocesses.h"
#include "manager.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QScopedPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Vorlane::Core::Client;
using Vorlane::Core::Details;
using Vorlane::Core::Manager;
using namespace TestSupport;

// One desktop entry: file name and its text.
using Entry = QPair<QString, QByteArray>;
using EntryList = QList<Entry>;

namespace {

QByteArray entryText(const QString &name, const QString &tryExec, const QString &exec,
                     bool executable = false)
{
    QByteArray text = "[Desktop Entry]\nName=" + name.toUtf8() + "\nTryExec=" + tryExec.toUtf8()
        + "\nExec=" + exec.toUtf8() + "\n";
    if (executable)
        text += "[X-KXVorlane Settings]\nX-Executable=true\n";
    return text;
}

Entry entry(const QString &fileName, const QString &name, const QString &tryExec,
            bool executable = false)
{
    return { fileName, entryText(name, tryExec, tryExec + QStringLiteral(" 1000"), executable) };
}

QStringList clientNames(const QList<Client *> &clients)
{
    QStringList names;
    for (const Client *client : clients)
        names << client->name();
    return names;
}

} // namespace

class TstRegistry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void readingOrder();
    void missingDirectory_data();
    void missingDirectory();
    void matching_data();
    void matching();
    void noProgramPerProcess_data();
    void noProgramPerProcess();
    void syntheticReuse();
    void unreadableExecutable();
    void unregisterZero();
    void startedClientFound();
    void quitAndTerminate_data();
    void quitAndTerminate();
    void runSystemCommand_data();
    void runSystemCommand();

private:
    std::unique_ptr<Manager> makeManager(const EntryList &entries);
    std::unique_ptr<Manager> makeManager(const QString &clientsDir);

    Programs m_programs;
    QTemporaryDir m_layoutsDir;
    QScopedPointer<QTemporaryDir> m_clientsDir;
    QByteArray m_path;
    QList<uint> m_detached;
};

void TstRegistry::initTestCase()
{
    QVERIFY(m_programs.isValid());
    QVERIFY(m_layoutsDir.isValid());
    QVERIFY(QFile::copy(QStringLiteral(":/defaults/fallbacklayout.json"),
                        m_layoutsDir.filePath(QStringLiteral("main.json"))));
    m_path = qgetenv("PATH");
    prepareProcessTests();
}

void TstRegistry::cleanup()
{
    qputenv("PATH", m_path);
    for (uint pid : std::as_const(m_detached))
        killChild(pid);
    m_detached.clear();
    m_clientsDir.reset();
}

std::unique_ptr<Manager> TstRegistry::makeManager(const EntryList &entries)
{
    m_clientsDir.reset(new QTemporaryDir);
    for (const Entry &entry : entries) {
        QFile file(m_clientsDir->filePath(entry.first));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write desktop entry");
        file.write(entry.second);
    }
    return makeManager(m_clientsDir->path());
}

std::unique_ptr<Manager> TstRegistry::makeManager(const QString &clientsDir)
{
    return std::make_unique<Manager>(m_layoutsDir.path(), clientsDir, false, nullptr);
}

void TstRegistry::readingOrder()
{
    m_clientsDir.reset(new QTemporaryDir);
    const QDir dir(m_clientsDir->path());
    const auto write = [&dir](const QString &fileName, const QByteArray &text) {
        QFile file(dir.filePath(fileName));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write("a.desktop", entryText("a", "/usr/bin/a", "/usr/bin/a", true));
    write("B.desktop", entryText("B", "/usr/bin/b", "/usr/bin/b", true));
    write("C.DESKTOP", entryText("C", "/usr/bin/c", "/usr/bin/c", true));
    write("bad.desktop", "[Desktop Entry]\nName=bad\n");
    write("d.desktop", entryText("d", "/usr/bin/d", "/usr/bin/d", false));
    write("notes.txt", entryText("notes", "/usr/bin/n", "/usr/bin/n", true));
    write(".hidden.desktop", entryText("hidden", "/usr/bin/h", "/usr/bin/h", true));
    write("z.desktop", entryText("z", "/usr/bin/z", "/usr/bin/z", true));
    QVERIFY(dir.mkdir("sub.desktop"));
    write("sub.desktop/inner.desktop", entryText("inner", "/usr/bin/i", "/usr/bin/i", true));
    QTemporaryDir outside;
    QFile target(outside.filePath("target"));
    QVERIFY(target.open(QIODevice::WriteOnly));
    target.write(entryText("link", "/usr/bin/l", "/usr/bin/l", true));
    target.close();
    QVERIFY(QFile::link(target.fileName(), dir.filePath("link.desktop")));
    QVERIFY(QFile::link(outside.filePath("gone"), dir.filePath("broken.desktop")));

    MessageCatcher messages;
    auto manager = makeManager(dir.path());

    QCOMPARE(messages.warnings(),
             (QStringList { QStringLiteral("Could not parse file in path:  \"%1\"")
                                .arg(dir.path() + "/bad.desktop"),
                            QStringLiteral("Invalid desktop file:  \"bad.desktop\"") }));
    // Upper case sorts first; the executable clients keep the order of their files.
    const QList<Client *> clients = manager->executableClients();
    QCOMPARE(clientNames(clients), (QStringList { "B", "C", "a", "link", "z" }));
    for (const Client *client : clients) {
        QCOMPARE(client->pid(), 0u);
        QCOMPARE(client->executionState(), Client::ES_STOPPED);
    }
    QCOMPARE(manager->property("executableClients").value<QList<Client *>>(), clients);

    Details *found = nullptr;
    QVERIFY(manager->getClientDetails("d", &found));
    QCOMPARE(found->name(true), QStringLiteral("d"));
    QVERIFY(!manager->getClientDetails("n", &found));
    QVERIFY(!manager->getClientDetails("h", &found));
    QVERIFY(!manager->getClientDetails("i", &found));
    QVERIFY(!manager->getClientDetails("bad", &found));
}

void TstRegistry::missingDirectory_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("warning");
    QTest::newRow("missing") << "missing" << true;
    QTest::newRow("empty path") << "empty path" << true;
    QTest::newRow("regular file") << "file" << true;
    QTest::newRow("empty directory") << "empty" << false;
    QTest::newRow("only other files") << "others" << false;
}

void TstRegistry::missingDirectory()
{
    QFETCH(QString, kind);
    QFETCH(bool, warning);

    QTemporaryDir base;
    QString dir = base.filePath("clients");
    if (kind == "empty path") {
        dir.clear();
    } else if (kind == "file") {
        QFile file(dir);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(entryText("x", "/x", "/x", true));
    } else if (kind != "missing") {
        QVERIFY(QDir(base.path()).mkdir("clients"));
        if (kind == "others") {
            for (const char *name : { "a.txt", "b.desktop~", "c.desktop.bak", "desktop" }) {
                QFile file(dir + "/" + name);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(entryText("x", "/x", "/x", true));
            }
        }
    }

    MessageCatcher messages;
    auto manager = makeManager(dir);
    QCOMPARE(messages.warnings(),
             warning ? QStringList { QStringLiteral(
                 "void Vorlane::Core::Manager::initDetails(QString) applications "
                 "directory missing!") }
                     : QStringList());
    QVERIFY(manager->executableClients().isEmpty());
}

void TstRegistry::matching_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<EntryList>("entries");
    QTest::addColumn<QString>("matched");

    QTest::newRow("same path") << "viewer"
                               << EntryList { entry("v.desktop", "Viewer", "/usr/bin/viewer") }
                               << "Viewer";
    QTest::newRow("TryExec without directory")
        << "viewer" << EntryList { entry("v.desktop", "Viewer", "viewer") } << "Viewer";
    QTest::newRow("first file wins") << "viewer"
                                     << EntryList { entry("b.desktop", "Second", "/usr/bin/viewer"),
                                                    entry("a.desktop", "First", "/opt/viewer") }
                                     << "First";
    QTest::newRow("no entry") << "plain"
                              << EntryList { entry("v.desktop", "Viewer", "/usr/bin/viewer") }
                              << "";
    QTest::newRow("name inside a longer name")
        << "edit" << EntryList { entry("t.desktop", "Texedit", "/usr/bin/texedit") } << "";
    QTest::newRow("name as a directory")
        << "tools" << EntryList { entry("t.desktop", "Tool", "/opt/tools/run") } << "";
    QTest::newRow("dot is literal") << "a.b"
                                    << EntryList { entry("1.desktop", "Axb", "/usr/bin/axb"),
                                                   entry("2.desktop", "Adotb", "/usr/bin/a.b") }
                                    << "Adotb";
    QTest::newRow("plus is literal") << "c++"
                                     << EntryList { entry("1.desktop", "Cc", "/usr/bin/cc"),
                                                    entry("2.desktop", "Cpp", "/usr/bin/c++") }
                                     << "Cpp";
    QTest::newRow("parenthesis is literal")
        << "x(y" << EntryList { entry("1.desktop", "Paren", "/opt/x(y") } << "Paren";
    QTest::newRow("hash and percent belong to the name")
        << "we#b%41"
        << EntryList { entry("1.desktop", "Cut", "/opt/we"),
                       entry("2.desktop", "Whole", "/opt/we#b%41") }
        << "Whole";
}

void TstRegistry::matching()
{
    QFETCH(QString, program);
    QFETCH(EntryList, entries);
    QFETCH(QString, matched);

    auto manager = makeManager(entries);
    Sleeper sleeper(m_programs.program(program));
    QVERIFY(sleeper.pid() > 0);
    const QString path = sleeper.process().program();

    MessageCatcher messages;
    Client *client = manager->registerClient(sleeper.pid());
    QVERIFY(client);
    QCOMPARE(messages.warnings(), QStringList());
    QCOMPARE(client->parent(), manager.get());
    QCOMPARE(client->pid(), sleeper.pid());
    QCOMPARE(client->name(), program);
    QCOMPARE(client->executionState(), Client::ES_RUNNING);
    Details *details = client->details();
    QVERIFY(details);
    if (matched.isEmpty()) {
        QCOMPARE(details->name(true), program);
        QCOMPARE(details->tryExec(), path);
        QCOMPARE(details->exec(), path + QStringLiteral(" 1000"));
        QCOMPARE(details->defaultRegion(), QStringList { "QuickBar" });
        QCOMPARE(details->parent(), manager.get());
    } else {
        QCOMPARE(details->name(true), matched);
    }
    manager.reset();
}

void TstRegistry::noProgramPerProcess_data()
{
    QTest::addColumn<bool>("withEntry");
    QTest::newRow("with entry") << true;
    QTest::newRow("without entry") << false;
}

void TstRegistry::noProgramPerProcess()
{
    QFETCH(bool, withEntry);

    // Programs that would be found first on the search path log every run.
    const QString log = m_programs.dirPath() + QStringLiteral("/commands.log");
    QFile::remove(log);
    QTemporaryDir bin;
    for (const char *command : { "readlink", "cat" }) {
        QFile script(bin.filePath(command));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QByteArray("#!/bin/sh\necho ") + command + " >> '" + QFile::encodeName(log)
                     + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    auto manager = makeManager(withEntry ? EntryList { entry("1.desktop", "Counted", "/counted") }
                                         : EntryList {});
    Sleeper sleeper(m_programs.program(QStringLiteral("counted")));
    qputenv("PATH", QFile::encodeName(bin.path()) + ":" + m_path);

    Client *first = manager->registerClient(sleeper.pid());
    QCOMPARE(first->details()->name(true),
             withEntry ? QStringLiteral("Counted") : QStringLiteral("counted"));
    QCOMPARE(manager->registerClient(sleeper.pid()), first);
    QVERIFY(!QFile::exists(log));
    manager.reset();
}

void TstRegistry::syntheticReuse()
{
    auto manager = makeManager(EntryList { entry("v.desktop", "Viewer", "/usr/bin/viewer") });
    const QString path = m_programs.program(QStringLiteral("reused"));

    Details *synthetic = nullptr;
    {
        Sleeper sleeper(path);
        Client *client = manager->registerClient(sleeper.pid());
        synthetic = client->details();
        QCOMPARE(synthetic->tryExec(), path);
        QPointer<Client> guard(client);
        QVERIFY(manager->unregisterClient(sleeper.pid()));
        QVERIFY(!guard);
        QVERIFY(!manager->unregisterClient(sleeper.pid()));
    }

    Sleeper other(path);
    Client *client = manager->registerClient(other.pid());
    QCOMPARE(client->details(), synthetic);
    Details *found = nullptr;
    QVERIFY(manager->getClientDetails(QStringLiteral("reused"), &found));
    QCOMPARE(found, synthetic);
    QVERIFY(manager->unregisterClient(other.pid()));
    QVERIFY(!manager->unregisterClient(other.pid()));
    QVERIFY(!manager->unregisterClient(NO_SUCH_PID));
}

void TstRegistry::unreadableExecutable()
{
    auto manager = makeManager(EntryList { entry("1.desktop", "First", "/usr/bin/first", true),
                                           entry("2.desktop", "Second", "/usr/bin/second") });
    Client *executable = manager->executableClients().value(0);
    QVERIFY(executable);

    // Process ids whose executable cannot be read: none of them may be handed an entry.
    QList<Details *> seen { executable->details() };
    for (uint pid : { NO_SUCH_PID, NO_SUCH_PID + 1, uint(-1) }) {
        MessageCatcher messages;
        Client *client = manager->registerClient(pid);
        QVERIFY(client);
        QCOMPARE(client->pid(), pid);
        QCOMPARE(client->executionState(), Client::ES_RUNNING);
        QVERIFY(client->details());
        QVERIFY(!seen.contains(client->details()));
        QVERIFY(client->details()->valid());
        QCOMPARE(client->details()->tryExec(), QString());
        QVERIFY(!client->details()->executable());
        seen.append(client->details());
        QCOMPARE(manager->registerClient(pid), client);

        // Nothing of it can be signalled, least of all everyone through the id -1.
        QVERIFY(client->requestExecutionState(Client::ES_PAUSE));
        QCOMPARE(client->executionState(), Client::ES_RUNNING);
        QCOMPARE(messages.warnings(),
                 QStringList { QStringLiteral("Pause client failed, result =  -1") });
        QVERIFY(manager->unregisterClient(pid));
    }
    QCOMPARE(manager->executableClients(), QList<Client *> { executable });
}

void TstRegistry::unregisterZero()
{
    auto manager = makeManager(EntryList { entry("1.desktop", "One", "/usr/bin/one", true),
                                           entry("2.desktop", "Two", "/usr/bin/two", true),
                                           entry("3.desktop", "Three", "/usr/bin/three", true) });
    const QList<Client *> before = manager->executableClients();
    QCOMPARE(clientNames(before), (QStringList { "One", "Two", "Three" }));
    QList<QPointer<Client>> guards;
    for (Client *client : before)
        guards << client;

    QVERIFY(!manager->unregisterClient(0));
    QVERIFY(!manager->unregisterClient(0));
    QCOMPARE(manager->executableClients(), before);
    for (const QPointer<Client> &guard : guards)
        QVERIFY(guard);
}

void TstRegistry::startedClientFound()
{
    const QString path = m_programs.program(QStringLiteral("startable"));
    auto manager = makeManager(EntryList { entry("s.desktop", "Startable", path, true) });
    Client *executable = manager->executableClients().value(0);
    QVERIFY(executable);

    QVERIFY(executable->requestExecutionState(Client::ES_START));
    const uint pid = executable->pid();
    QVERIFY(pid > 0);
    m_detached.append(pid);

    QCOMPARE(manager->registerClient(pid), executable);
    QCOMPARE(executable->executionState(), Client::ES_STARTING);
    QVERIFY(!manager->unregisterClient(pid));
    QCOMPARE(manager->executableClients(), QList<Client *> { executable });

    // The same program started outside the compositor gets a client of its own, which shares the
    // description and is listed as executable too.
    Sleeper outside(path);
    Client *other = manager->registerClient(outside.pid());
    QVERIFY(other != executable);
    QCOMPARE(other->details(), executable->details());
    QCOMPARE(manager->executableClients().size(), 2);
    manager.reset();
}

void TstRegistry::quitAndTerminate_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("endingSignal");
    QTest::newRow("quit all") << "quit" << SIGQUIT;
    QTest::newRow("terminate all") << "terminate" << SIGTERM;
    QTest::newRow("manager deleted") << "delete" << SIGQUIT;
}

void TstRegistry::quitAndTerminate()
{
    QFETCH(QString, how);
    QFETCH(int, endingSignal);

    auto manager = makeManager(EntryList { entry("e.desktop", "Idle", "/usr/bin/idle", true) });
    std::vector<std::unique_ptr<Sleeper>> sleepers;
    QList<Client *> clients;
    for (int i = 0; i < 3; ++i) {
        sleepers.push_back(std::make_unique<Sleeper>(m_programs.program("quitting")));
        clients << manager->registerClient(sleepers.back()->pid());
    }
    // One of them paused: it must be continued to act on the signal.
    QVERIFY(clients.at(1)->requestExecutionState(Client::ES_PAUSE));
    QTRY_COMPARE(processState(sleepers.at(1)->pid()), 'T');

    MessageCatcher messages;
    if (how == "quit") {
        manager->quitAllClients();
    } else if (how == "terminate") {
        manager->terminateAllClients();
    } else {
        manager.reset();
    }

    for (auto &sleeper : sleepers)
        QCOMPARE(sleeper->endingSignal(), endingSignal);
    if (manager) {
        for (Client *client : std::as_const(clients)) {
            QCOMPARE(client->executionState(), Client::ES_STOPPED);
            QCOMPARE(client->pid(), 0u);
        }
        QCOMPARE(manager->executableClients().value(0)->executionState(), Client::ES_STOPPED);
    }
    QCOMPARE(messages.warnings(), QStringList());
}

void TstRegistry::runSystemCommand_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errorOutput");

    QTest::newRow("output") << "echo" << QStringList { "a  b" } << "a  b\n"
                            << "";
    QTest::newRow("both streams and failure")
        << "sh" << QStringList { "-c", "printf 'out\\303\\244'; echo err >&2; exit 3" }
        << QStringLiteral("out\u00e4") << "err\n";
    QTest::newRow("missing program") << "vorlane-no-such-program" << QStringList() << ""
                                     << "";
    QTest::newRow("empty program") << "" << QStringList() << ""
                                   << "";
}

void TstRegistry::runSystemCommand()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    QFETCH(QString, errorOutput);

    auto manager = makeManager(EntryList {});
    QString error = QStringLiteral("stale");
    QCOMPARE(manager->runSystemCommand(program, arguments, error), output);
    QCOMPARE(error, errorOutput);
}

QTEST_GUILESS_MAIN(TstRegistry)
#include "tst_registry.moc"
