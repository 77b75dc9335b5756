#include "messagethrottle.h"

namespace Vorlane {

MessageThrottle::MessageThrottle(int burst, qint64 intervalMs)
    : m_burst(burst)
    , m_intervalMs(intervalMs)
{ }

bool MessageThrottle::allow()
{
    if (!m_window.isValid() || m_window.elapsed() >= m_intervalMs) {
        m_window.start();
        m_passed = 0;
    }
    if (m_passed < m_burst) {
        ++m_passed;
        return true;
    }
    ++m_suppressed;
    return false;
}

int MessageThrottle::takeSuppressed()
{
    const int suppressed = m_suppressed;
    m_suppressed = 0;
    return suppressed;
}

} // namespace Vorlane
