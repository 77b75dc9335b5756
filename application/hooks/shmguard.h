#ifndef VORLANE_SHMGUARD_H
#define VORLANE_SHMGUARD_H

#include <QObject>

class QSocketNotifier;

namespace Vorlane {

// Keeps a client that truncates the file behind its shared-memory buffer from taking the
// compositor down. Qt reads client memory without libwayland's access guard, so the program
// records the memory of every buffer Qt reads (see shmguard.cpp) and handles SIGBUS itself: a
// fault inside a recorded buffer gets zero-filled pages so the frame completes, and the client
// is disconnected with a protocol error from the event loop. Any other SIGBUS keeps its
// previous action. One instance, created on the main thread before the compositor.
class ShmGuard : public QObject
{
    Q_OBJECT

public:
    explicit ShmGuard(QObject *parent = nullptr);
    ~ShmGuard() override;

    // True when every call of Qt to libwayland's buffer accessors reaches the program's own
    // definitions, so that the buffers Qt reads are recorded at all.
    static bool inEffect();

private:
    void disconnectFaultyClients();

    int m_wakeFd = -1;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace Vorlane

#endif // VORLANE_SHMGUARD_H
