// The compositor starts no process of its own accord: neither for a client that connects nor
// while it looks for the device address on a network without eth0.

#include "compositorfixture.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <unistd.h>

class TestProcesses : public QObject
{
    Q_OBJECT

private slots:
    void startsNoProcess();
};

namespace {

// The only child of a process, or 0.
qint64 onlyChild(qint64 pid)
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (!children.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> ids = children.readAll().trimmed().split(' ');
    return ids.size() == 1 ? ids.first().toLongLong() : 0;
}

// The lines of an strace log after the program's own successful exec that start a process:
// every exec, fork and vfork, and every clone that does not make a thread.
QStringList processStarts(const QString &traceFile, bool *programSeen)
{
    QFile file(traceFile);
    *programSeen = false;
    QStringList starts;
    if (!file.open(QIODevice::ReadOnly))
        return starts;
    const QByteArray program = QFile::encodeName(CompositorFixture::applicationPath());
    const QRegularExpression call(
        QStringLiteral("^\\d+\\s+(execve|execveat|fork|vfork|clone3?)\\("));
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!*programSeen) {
            *programSeen = line.contains("execve(\"" + program + "\"") && line.endsWith("= 0");
            continue;
        }
        const QRegularExpressionMatch match = call.match(QString::fromUtf8(line));
        if (!match.hasMatch())
            continue;
        if (match.captured(1).startsWith(QLatin1String("clone")) && line.contains("CLONE_THREAD"))
            continue;
        starts << QString::fromUtf8(line);
    }
    return starts;
}

} // namespace

void TestProcesses::startsNoProcess()
{
    if (::geteuid() != 0)
        QSKIP("needs root: the compositor runs in a network namespace without eth0 (unshare -n)");
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (strace.isEmpty() || unshare.isEmpty())
        QSKIP("strace or unshare (util-linux) is not installed");

    CompositorFixture f;
    QVERIFY(f.writeClientEntry(QStringLiteral("probe.desktop"), QStringLiteral("Probe"),
                               CompositorFixture::probePath()));
    // A program without a description gets one made from its executable and command line.
    const QString unlisted = f.copyProbe(QStringLiteral("unlisted"));
    QVERIFY(!unlisted.isEmpty());
    const QString trace = f.baseDir() + QStringLiteral("/trace");
    f.setLauncher({ strace, QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-e"),
                    QStringLiteral("trace=execve,execveat,fork,vfork,clone,clone3"),
                    QStringLiteral("-o"), trace, unshare, QStringLiteral("-n") });
    // The sanitizer's leak check at exit suspends threads through a traced helper of its own.
    const QByteArray asan = qgetenv("ASAN_OPTIONS");
    if (!asan.isEmpty())
        f.setCompositorEnvironment(QStringLiteral("ASAN_OPTIONS"),
                                   QString::fromLocal8Bit(asan)
                                       + QStringLiteral(":detect_leaks=0"));

    // Debug mode shows the device address, so the quick bar keeps looking for it.
    QVERIFY(f.start({ QStringLiteral("-d") }));
    QVERIFY2(f.waitForSocket(60000), qPrintable(f.stderrText()));
    f.startClient(CompositorFixture::probePath());
    f.startClient(unlisted);
    QTRY_VERIFY2_WITH_TIMEOUT(f.stderrCount(QStringLiteral("Connected client details:")) == 2,
                              qPrintable(f.stderrText()), 30000);
    // A few lookups of the address, one a second, on a network that has no eth0.
    QTest::qWait(3500);

    const qint64 compositor = onlyChild(f.compositorPid());
    QVERIFY(compositor > 0);
    QVERIFY(CompositorFixture::sendSignal(compositor, SIGTERM));
    QCOMPARE(f.waitForCompositorExit(), 0);

    bool programSeen = false;
    const QStringList starts = processStarts(trace, &programSeen);
    QVERIFY2(programSeen, "the trace does not show the compositor starting");
    QVERIFY2(starts.isEmpty(), qPrintable(starts.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestProcesses)
#include "tst_processes.moc"
