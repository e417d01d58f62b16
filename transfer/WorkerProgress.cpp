#include "WorkerProgress.h"

WorkerProgress::WorkerProgress(int total, int intervalMs)
    : m_total(total)
    , m_intervalMs(intervalMs)
{
}

int WorkerProgress::percent(int n, int total)
{
    if (total <= 0)
        return 0;
    return int(double(n) / double(total) * 100.0);
}

bool WorkerProgress::due(int n)
{
    const int p = percent(n, m_total);
    if (n <= 1 || n >= m_total || p != m_lastPercent || !m_clock.isValid() || m_clock.elapsed() >= m_intervalMs) {
        m_lastPercent = p;
        m_clock.start();
        return true;
    }
    return false;
}
