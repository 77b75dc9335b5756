#ifndef VORLANE_MESSAGETHROTTLE_H
#define VORLANE_MESSAGETHROTTLE_H

#include <QElapsedTimer>

namespace Vorlane {

// Keeps a message that a hostile client can trigger at will from flooding the log: a few per
// interval pass, the rest are counted and the count is told with the next one that passes.
class MessageThrottle
{
public:
    explicit MessageThrottle(int burst = 5, qint64 intervalMs = 10000);

    // True when a message may be written now.
    bool allow();
    // The messages held back since the last one that passed; resets the count.
    int takeSuppressed();

private:
    QElapsedTimer m_window;
    int m_burst;
    qint64 m_intervalMs;
    int m_passed = 0;
    int m_suppressed = 0;
};

} // namespace Vorlane

#endif // VORLANE_MESSAGETHROTTLE_H
