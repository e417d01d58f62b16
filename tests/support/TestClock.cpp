#include "TestClock.h"

TestClock::TestClock(const QDateTime &start)
    : m_msecs(start.toMSecsSinceEpoch())
{
    setInstance(this);
}

TestClock::~TestClock()
{
    setInstance(nullptr);
}

void TestClock::set(const QDateTime &time)
{
    m_msecs.store(time.toMSecsSinceEpoch());
}

void TestClock::advanceSecs(qint64 secs)
{
    m_msecs.fetch_add(secs * 1000);
}

QDateTime TestClock::now() const
{
    return QDateTime::fromMSecsSinceEpoch(m_msecs.load(), Qt::UTC);
}
