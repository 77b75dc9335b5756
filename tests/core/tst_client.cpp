#include "client.h"
#include "clientprocesses.h"
#include "controller.h"
#include "details.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QScopedPointer>
#include <QSignalSpy>
#include <QtTest>

#include <climits>

#include <fcntl.h>
#include <unistd.h>

using Vorlane::Core::Client;
using Vorlane::Core::Controller;
using Vorlane::Core::Details;
using namespace TestSupport;

using StateList = QList<int>;

namespace {

// Records every state a client passes through, in order.
void recordStates(Client &client, StateList &states)
{
    QObject::connect(&client, &Client::executionStateChanged, &client,
                     [&client, &states] { states.append(client.executionState()); });
}

} // namespace

class TstClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void requests_data();
    void requests();
    void undeliverableSignals_data();
    void undeliverableSignals();
    void invalidRequests_data();
    void invalidRequests();
    void singleProcessOnly();
    void goneBeforeRegistration_data();
    void goneBeforeRegistration();
    void start();
    void failedStart_data();
    void failedStart();
    void endedProgram_data();
    void endedProgram();
    void createdFromQml();

private:
    Programs m_programs;
    QList<uint> m_detached;
};

void TstClient::initTestCase()
{
    QVERIFY(m_programs.isValid());
    prepareProcessTests();
}

void TstClient::cleanup()
{
    Controller::setPidfdEnabled(true);
    for (uint pid : std::as_const(m_detached))
        killChild(pid);
    m_detached.clear();
}

void TstClient::requests_data()
{
    QTest::addColumn<StateList>("requests");
    QTest::addColumn<StateList>("states");
    QTest::addColumn<char>("expectedState");
    QTest::addColumn<int>("endingSignal");

    const int pausing = Client::ES_PAUSING, paused = Client::ES_PAUSED;
    const int resuming = Client::ES_RESUMING, running = Client::ES_RUNNING;
    const int stopping = Client::ES_STOPPING, stopped = Client::ES_STOPPED;

    QTest::newRow("pause") << StateList { Client::ES_PAUSE } << StateList { pausing, paused } << 'T'
                           << 0;
    QTest::newRow("pause twice") << StateList { Client::ES_PAUSE, Client::ES_PAUSE }
                                 << StateList { pausing, paused } << 'T' << 0;
    QTest::newRow("resume while running")
        << StateList { Client::ES_RESUME } << StateList {} << 'S' << 0;
    QTest::newRow("pause and resume")
        << StateList { Client::ES_PAUSE, Client::ES_RESUME }
        << StateList { pausing, paused, resuming, running } << 'S' << 0;
    QTest::newRow("stop") << StateList { Client::ES_STOP } << StateList { stopping, stopped }
                          << char(0) << SIGQUIT;
    // Without SIGCONT first, the stopped process would keep SIGQUIT pending and never end.
    QTest::newRow("stop while paused")
        << StateList { Client::ES_PAUSE, Client::ES_STOP }
        << StateList { pausing, paused, resuming, running, stopping, stopped } << char(0)
        << SIGQUIT;
    QTest::newRow("nothing after stop")
        << StateList { Client::ES_STOP, Client::ES_PAUSE, Client::ES_RESUME, Client::ES_STOP }
        << StateList { stopping, stopped } << char(0) << SIGQUIT;
    // A start acts only on a stopped client; this one has its process.
    QTest::newRow("start while running")
        << StateList { Client::ES_START } << StateList {} << 'S' << 0;
    QTest::newRow("terminate while paused")
        << StateList { Client::ES_PAUSE, -Client::ES_STOP }
        << StateList { pausing, paused, resuming, running, stopping, stopped } << char(0)
        << SIGTERM;
}

void TstClient::requests()
{
    QFETCH(StateList, requests);
    QFETCH(StateList, states);
    QFETCH(char, expectedState);
    QFETCH(int, endingSignal);

    Sleeper sleeper(m_programs.program(QStringLiteral("vorlane-sleeper")));
    QVERIFY(sleeper.pid() > 0);
    QTRY_COMPARE(processState(sleeper.pid()), 'S');

    Details details(QStringLiteral("vorlane-sleeper"), sleeper.process().program(),
                    sleeper.process().program());
    Client client(sleeper.pid(), QStringLiteral("vorlane-sleeper"), &details);
    QCOMPARE(client.executionState(), Client::ES_RUNNING);
    StateList seen;
    recordStates(client, seen);

    MessageCatcher messages;
    for (int request : std::as_const(requests)) {
        // A negative entry stands for terminateClient(), which has no request value.
        if (request < 0)
            client.terminateClient();
        else
            QVERIFY(client.requestExecutionState(Client::ExecutionState(request)));
    }

    QCOMPARE(seen, states);
    QCOMPARE(messages.warnings(), QStringList());
    if (endingSignal) {
        QCOMPARE(sleeper.endingSignal(), endingSignal);
        QCOMPARE(client.pid(), 0u);
    } else {
        QTRY_COMPARE(processState(sleeper.pid()), expectedState);
        QCOMPARE(client.pid(), sleeper.pid());
    }
}

void TstClient::undeliverableSignals_data()
{
    QTest::addColumn<bool>("pausedFirst");
    QTest::addColumn<int>("request");
    QTest::addColumn<StateList>("states");
    QTest::addColumn<QStringList>("warnings");

    const int pausing = Client::ES_PAUSING, paused = Client::ES_PAUSED;
    const int resuming = Client::ES_RESUMING, running = Client::ES_RUNNING;
    const int stopping = Client::ES_STOPPING;
    const QString pauseFailed = QStringLiteral("Pause client failed, result =  -1");
    const QString resumeFailed = QStringLiteral("Resume client failed, result =  -1");
    const QString quitFailed = QStringLiteral("Quiting application failed, result =  -1");
    const QString terminateFailed = QStringLiteral("Terminate application failed, result =  -1");

    QTest::newRow("pause") << false << int(Client::ES_PAUSE) << StateList { pausing, running }
                           << QStringList { pauseFailed };
    QTest::newRow("quit") << false << int(Client::ES_STOP) << StateList { stopping, running }
                          << QStringList { quitFailed };
    QTest::newRow("terminate") << false << -1 << StateList { stopping, running }
                               << QStringList { terminateFailed };
    QTest::newRow("resume after the process went")
        << true << int(Client::ES_RESUME) << StateList { resuming, paused }
        << QStringList { resumeFailed };
    QTest::newRow("quit after the process went")
        << true << int(Client::ES_STOP) << StateList { resuming, paused, stopping, paused }
        << QStringList { resumeFailed, quitFailed };
}

void TstClient::undeliverableSignals()
{
    QFETCH(bool, pausedFirst);
    QFETCH(int, request);
    QFETCH(StateList, states);
    QFETCH(QStringList, warnings);

    // Either a process id that cannot exist, or a process that is paused and then killed and
    // reaped: its id may be given to another process, which must not be signalled.
    QScopedPointer<Sleeper> sleeper;
    uint pid = NO_SUCH_PID;
    if (pausedFirst) {
        sleeper.reset(new Sleeper(m_programs.program(QStringLiteral("vorlane-sleeper"))));
        pid = sleeper->pid();
    }
    Client client(pid, QStringLiteral("vorlane-sleeper"), nullptr);
    if (pausedFirst) {
        QVERIFY(client.requestExecutionState(Client::ES_PAUSE));
        QCOMPARE(client.executionState(), Client::ES_PAUSED);
        ::kill(pid_t(pid), SIGKILL);
        QCOMPARE(sleeper->endingSignal(), SIGKILL);
    }

    StateList seen;
    recordStates(client, seen);
    MessageCatcher messages;
    if (request < 0)
        client.terminateClient();
    else
        QVERIFY(client.requestExecutionState(Client::ExecutionState(request)));

    QCOMPARE(seen, states);
    QCOMPARE(messages.warnings(), warnings);
    // The client does not conclude that its process has ended.
    QCOMPARE(client.pid(), pid);
}

void TstClient::invalidRequests_data()
{
    QTest::addColumn<int>("value");
    QTest::newRow("running") << int(Client::ES_RUNNING);
    QTest::newRow("stopped") << int(Client::ES_STOPPED);
    QTest::newRow("pausing") << int(Client::ES_PAUSING);
    QTest::newRow("out of range") << 42;
    QTest::newRow("negative") << -1;
}

void TstClient::invalidRequests()
{
    QFETCH(int, value);
    Sleeper sleeper(m_programs.program(QStringLiteral("vorlane-sleeper")));
    Client client(sleeper.pid(), QStringLiteral("vorlane-sleeper"), nullptr);
    QSignalSpy spy(&client, &Client::executionStateChanged);

    MessageCatcher messages;
    QVERIFY(!client.requestExecutionState(Client::ExecutionState(value)));
    QCOMPARE(messages.warnings(),
             QStringList { QStringLiteral("\"Invalid execute state was attempted to be set for "
                                          "binary: vorlane-sleeper\"") });
    QCOMPARE(spy.count(), 0);
    QCOMPARE(client.executionState(), Client::ES_RUNNING);
    QTRY_COMPARE(processState(sleeper.pid()), 'S');
}

void TstClient::goneBeforeRegistration_data()
{
    QTest::addColumn<bool>("pidfd");
    QTest::newRow("pidfd") << true;
    QTest::newRow("proc") << false;
}

void TstClient::goneBeforeRegistration()
{
    QFETCH(bool, pidfd);
    Controller::setPidfdEnabled(pidfd);

    // A process that ends before it is registered; its id then goes to a bystander.
    uint pid = 0;
    {
        Sleeper gone(m_programs.program(QStringLiteral("vorlane-sleeper")));
        pid = gone.pid();
    }
    Client client(pid, QStringLiteral("vorlane-sleeper"), nullptr);

    const int lastPid = ::open("/proc/sys/kernel/ns_last_pid", O_WRONLY | O_CLOEXEC);
    if (lastPid < 0)
        QSKIP("process ids cannot be handed out on purpose here");
    const QByteArray previous = QByteArray::number(qint64(pid) - 1);
    const bool written = ::pwrite(lastPid, previous.constData(), size_t(previous.size()), 0) > 0;
    ::close(lastPid);
    Sleeper bystander(m_programs.program(QStringLiteral("vorlane-sleeper")));
    if (!written || bystander.pid() != pid)
        QSKIP("the process id went elsewhere");

    MessageCatcher messages;
    QVERIFY(client.requestExecutionState(Client::ES_PAUSE));
    QVERIFY(client.requestExecutionState(Client::ES_STOP));
    QTest::qWait(100);
    const char state = processState(pid);
    QVERIFY2(state != 0 && state != 'T' && state != 'Z', QByteArray(1, state).constData());
    QCOMPARE(bystander.endingSignal(0), -1);
}

void TstClient::singleProcessOnly()
{
    // A process id above INT_MAX reads as a negative number, which kill() would take for a
    // process group. Put a sleeper alone in its own group and aim at that group.
    Sleeper sleeper(m_programs.program(QStringLiteral("vorlane-grouped")), true);
    QTRY_COMPARE(processState(sleeper.pid()), 'S');
    QCOMPARE(::getpgid(pid_t(sleeper.pid())), pid_t(sleeper.pid()));
    const uint groupAsPid = uint(-qint64(sleeper.pid()));

    MessageCatcher messages;
    Client client(groupAsPid, QStringLiteral("group"), nullptr);
    QVERIFY(client.requestExecutionState(Client::ES_PAUSE));
    QCOMPARE(client.executionState(), Client::ES_RUNNING);
    QVERIFY(client.requestExecutionState(Client::ES_STOP));
    QCOMPARE(client.executionState(), Client::ES_RUNNING);
    QCOMPARE(messages.warnings(),
             (QStringList { QStringLiteral("Pause client failed, result =  -1"),
                            QStringLiteral("Quiting application failed, result =  -1") }));
    QTRY_COMPARE(processState(sleeper.pid()), 'S');

    // Process id 0 means "own process group" to kill(); SIGCONT there would be harmless but
    // must still be refused.
    Controller none(0, QString());
    QCOMPARE(none.resumeClient(), -1);
    Controller everyone(uint(-1), QString());
    QCOMPARE(everyone.resumeClient(), -1);
}

void TstClient::start()
{
    const QString path = m_programs.program(QStringLiteral("vorlane-started"));
    Details details(QStringLiteral("vorlane-started"), path, path + QStringLiteral(" 1000"));
    Client client(0, QStringLiteral("Started"), &details);
    QCOMPARE(client.executionState(), Client::ES_STOPPED);
    StateList seen;
    recordStates(client, seen);

    // Nothing to pause, resume or quit yet.
    MessageCatcher messages;
    for (auto request : { Client::ES_PAUSE, Client::ES_RESUME, Client::ES_STOP })
        QVERIFY(client.requestExecutionState(request));
    client.terminateClient();
    QCOMPARE(seen, StateList());

    QVERIFY(client.requestExecutionState(Client::ES_START));
    QCOMPARE(seen, StateList { Client::ES_STARTING });
    const uint pid = client.pid();
    QVERIFY(pid > 0);
    m_detached.append(pid);
    // The start returns once exec has begun; the kernel fills in the new image a moment later.
    QTRY_COMPARE(processExecutable(pid), path);
    QTRY_COMPARE(processCommandLine(pid), expectedCommandLine(path, { QStringLiteral("1000") }));

    // A started client stays in ES_STARTING, where pausing does not act.
    QVERIFY(client.requestExecutionState(Client::ES_PAUSE));
    QCOMPARE(client.executionState(), Client::ES_STARTING);
    QTRY_COMPARE(processState(pid), 'S');

    QVERIFY(client.requestExecutionState(Client::ES_STOP));
    QCOMPARE(seen, (StateList { Client::ES_STARTING, Client::ES_STOPPING, Client::ES_STOPPED }));
    QCOMPARE(client.pid(), 0u);
    QCOMPARE(reapChild(pid), SIGQUIT);
    m_detached.removeAll(pid);
    QCOMPARE(messages.warnings(), QStringList());
}

void TstClient::failedStart_data()
{
    QTest::addColumn<QString>("exec");

    const QString text = m_programs.script(QStringLiteral("not-executable"), "#!/bin/sh\n");
    QFile::setPermissions(text, QFile::ReadOwner | QFile::WriteOwner);

    QTest::newRow("missing program") << QStringLiteral("/nonexistent/vorlane-program 1");
    QTest::newRow("not executable") << text;
    QTest::newRow("directory") << m_programs.dirPath();
    QTest::newRow("empty Exec") << QString();
    QTest::newRow("plus in arguments") << QStringLiteral("/bin/sleep 1+1");
    QTest::newRow("relative name not on the path") << QStringLiteral("vorlane-no-such-program");
}

void TstClient::failedStart()
{
    QFETCH(QString, exec);

    Details details(QStringLiteral("broken"), QStringLiteral("/nonexistent"), exec);
    Client client(0, QStringLiteral("Broken"), &details);
    StateList seen;
    recordStates(client, seen);

    MessageCatcher messages;
    QVERIFY(client.requestExecutionState(Client::ES_START));
    QCOMPARE(seen, (StateList { Client::ES_STARTING, Client::ES_STOPPED }));
    QCOMPARE(client.pid(), 0u);
    QVERIFY(
        messages.warnings().contains(QStringLiteral("Client start failed - client not running")));
}

void TstClient::endedProgram_data()
{
    QTest::addColumn<bool>("pidfd");
    QTest::addColumn<bool>("endsByItself");
    QTest::newRow("killed, pidfd") << true << false;
    QTest::newRow("killed, /proc") << false << false;
    QTest::newRow("exits, pidfd") << true << true;
    QTest::newRow("exits, /proc") << false << true;
}

void TstClient::endedProgram()
{
    QFETCH(bool, pidfd);
    QFETCH(bool, endsByItself);
    Controller::setPidfdEnabled(pidfd);

    const QString path = m_programs.program(QStringLiteral("vorlane-ending"));
    Details details(QStringLiteral("vorlane-ending"), path,
                    path + (endsByItself ? QStringLiteral(" 0") : QStringLiteral(" 1000")));
    Client client(0, QStringLiteral("Ending"), &details);

    QVERIFY(client.requestExecutionState(Client::ES_START));
    const uint pid = client.pid();
    QVERIFY(pid > 0);
    m_detached.append(pid);
    if (!endsByItself)
        ::kill(pid_t(pid), SIGKILL);

    // The process stays a zombie of this test until it is reaped; it has ended all the same.
    QTRY_COMPARE(client.executionState(), Client::ES_STOPPED);
    QCOMPARE(client.pid(), 0u);

    // Nothing is aimed at the old process id any more, and the program can be started again.
    MessageCatcher messages;
    QVERIFY(client.requestExecutionState(Client::ES_STOP));
    QCOMPARE(client.executionState(), Client::ES_STOPPED);
    QCOMPARE(reapChild(pid), endsByItself ? 0 : SIGKILL);
    m_detached.removeAll(pid);

    QVERIFY(client.requestExecutionState(Client::ES_START));
    QCOMPARE(client.executionState(), Client::ES_STARTING);
    const uint second = client.pid();
    QVERIFY(second > 0);
    QVERIFY(second != pid);
    m_detached.append(second);
    QTRY_COMPARE(client.executionState(), endsByItself ? Client::ES_STOPPED : Client::ES_STARTING);
    QCOMPARE(messages.warnings(), QStringList());
}

void TstClient::createdFromQml()
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import Kestrix.Vorlane.Core 1.0\n"
                      "Client {\n"
                      "    property var results: [requestExecutionState(Client.ES_START),\n"
                      "                           requestExecutionState(Client.ES_PAUSE),\n"
                      "                           requestExecutionState(Client.ES_RESUME),\n"
                      "                           requestExecutionState(Client.ES_STOP),\n"
                      "                           requestExecutionState(Client.ES_RUNNING)]\n"
                      "    property Details description: Details {}\n"
                      "}\n",
                      QUrl());
    MessageCatcher messages;
    QScopedPointer<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    auto *client = qobject_cast<Client *>(object.data());
    QVERIFY(client);

    QCOMPARE(object->property("results").toList(),
             (QVariantList { true, true, true, true, false }));
    QCOMPARE(client->executionState(), Client::ES_STOPPED);
    QCOMPARE(client->pid(), 0u);
    QCOMPARE(client->details(), nullptr);
    QCOMPARE(
        messages.warnings(),
        (QStringList {
            QStringLiteral("Client start failed - client not running"),
            QStringLiteral("\"Invalid execute state was attempted to be set for binary: \"") }));
    client->quitClient();
    client->terminateClient();
    QCOMPARE(client->executionState(), Client::ES_STOPPED);

    auto *details = object->property("description").value<Details *>();
    QVERIFY(details);
    QCOMPARE(details->property("name").toString(), QStringLiteral("Unknown name"));
    QCOMPARE(details->defaultRegion(), QStringList());
}

QTEST_GUILESS_MAIN(TstClient)
#include "tst_client.moc"
