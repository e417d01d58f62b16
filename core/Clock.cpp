#include "Clock.h"

#include <atomic>

namespace
{

class SystemClock : public Clock
{
};

const Clock &systemClock()
{
    static const SystemClock clock;
    return clock;
}

std::atomic<const Clock *> replacement{nullptr};

const Clock &current()
{
    const Clock *clock = replacement.load();
    return clock ? *clock : systemClock();
}

} // namespace

QDateTime Clock::currentDateTimeUtc()
{
    return current().now().toUTC();
}

QDateTime Clock::currentDateTime()
{
    return current().now().toLocalTime();
}

qint64 Clock::currentSecsSinceEpoch()
{
    return current().now().toSecsSinceEpoch();
}

QDateTime Clock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

void Clock::setInstance(const Clock *clock)
{
    replacement.store(clock);
}
