// A client that opens and closes popups by the thousand, as a menu used all day would: the
// compositor's private memory returns to where it was, and nothing is logged per popup.

#include "compositorfixture.h"
#include "halveslayout.h"

#include <QFile>
#include <QTest>

namespace {

// Anonymous memory of a process in kB (heap, stacks, copies of library data), -1 if unknown.
qint64 anonymousKb(qint64 pid)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : rollup.readAll().split('\n')) {
        if (line.startsWith("Anonymous:"))
            return line.mid(10).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// The compositor trims its memory after two still seconds: the value once it has not changed
// for three.
qint64 settledKb(qint64 pid)
{
    qint64 last = anonymousKb(pid);
    for (int still = 0, rounds = 0; still < 6 && rounds < 120; ++rounds) {
        QTest::qWait(500);
        const qint64 now = anonymousKb(pid);
        still = now == last ? still + 1 : 0;
        last = now;
    }
    return last;
}

} // namespace

class tst_PopupFlood : public QObject
{
    Q_OBJECT

private slots:
    void popupsLeaveNothing();
};

void tst_PopupFlood::popupsLeaveNothing()
{
    CompositorFixture f;
    QVERIFY(HalvesLayout::prepare(f));
    QVERIFY(f.startAndWait());
    QProcess *probe = f.startClient(CompositorFixture::probePath());
    QTRY_VERIFY_WITH_TIMEOUT(f.lastProbeConfigure(probe).startsWith(HalvesLayout::leftSize),
                             30000);

    // Whatever the first popups allocate for good (caches, pools) is paid before the baseline.
    probe->write("popups 1000\n");
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(probe).contains(QStringLiteral("popups-done 1000")),
                             120000);
    const qint64 before = settledKb(f.compositorPid());
    const int linesBefore = f.stderrLines().size();

    probe->write("popups 20000\n");
    QTRY_VERIFY_WITH_TIMEOUT(f.clientLines(probe).contains(QStringLiteral("popups-done 20000")),
                             600000);
    const qint64 after = settledKb(f.compositorPid());
    qInfo("private memory %lld kB before, %lld kB after 20000 popups", before, after);
    QVERIFY(before > 0);
#ifndef VORLANE_SANITIZED
    // AddressSanitizer's quarantine keeps freed memory: there only its reports count.
    QVERIFY2(after - before < 1024, qPrintable(QStringLiteral("%1 kB more").arg(after - before)));
#endif
    QVERIFY2(f.stderrLines().size() - linesBefore < 10, qPrintable(f.stderrText().right(2000)));
    QVERIFY(f.compositorRunning());
}

QTEST_GUILESS_MAIN(tst_PopupFlood)
#include "tst_popupflood.moc"
