#include "shmguard.h"

#include <QTemporaryFile>
#include <QTest>

#include <csignal>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// The guard only rescues reads of client buffers; every other SIGBUS must still end the process
// (under AddressSanitizer, whose handler comes before the guard's, with its report).
class tst_ShmGuard : public QObject
{
    Q_OBJECT

private slots:
    void otherBusErrorsStayFatal_data();
    void otherBusErrorsStayFatal();
};

void tst_ShmGuard::otherBusErrorsStayFatal_data()
{
    QTest::addColumn<bool>("sent");
    QTest::newRow("read past the end of a truncated mapping") << false;
    QTest::newRow("signal sent by a process") << true;
}

void tst_ShmGuard::otherBusErrorsStayFatal()
{
    QFETCH(bool, sent);

    QTemporaryFile file;
    QVERIFY(file.open());
    const long pageSize = sysconf(_SC_PAGESIZE);
    QVERIFY(file.resize(2 * pageSize));
    auto *pages = static_cast<volatile char *>(
        mmap(nullptr, size_t(2 * pageSize), PROT_READ, MAP_SHARED, file.handle(), 0));
    QVERIFY(pages != MAP_FAILED);
    QVERIFY(file.resize(0));

    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const rlimit noCore = { 0, 0 };
        setrlimit(RLIMIT_CORE, &noCore);
        alarm(60); // a guard that swallowed the fault would retry the read for ever
        Vorlane::ShmGuard guard;
        if (sent)
            kill(getpid(), SIGBUS);
        else
            (void)pages[pageSize];
        _exit(0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
#ifdef __SANITIZE_ADDRESS__
    QVERIFY2(WIFSIGNALED(status) || WEXITSTATUS(status) != 0, "the child survived SIGBUS");
#else
    QVERIFY2(WIFSIGNALED(status), "the child survived SIGBUS");
    QCOMPARE(WTERMSIG(status), SIGBUS);
#endif
    munmap(const_cast<char *>(pages), size_t(2 * pageSize));
}

QTEST_GUILESS_MAIN(tst_ShmGuard)
#include "tst_shmguard.moc"
