#pragma once

#include <QDateTime>

#include <atomic>

#include "Clock.h"

// Stands in for the system clock while it lives; time moves only when the
// test moves it. May be read from any thread.
class TestClock : public Clock
{
public:
    explicit TestClock(const QDateTime &start);
    ~TestClock() override;

    void set(const QDateTime &time);
    void advanceSecs(qint64 secs);

protected:
    QDateTime now() const override;

private:
    std::atomic<qint64> m_msecs;
};
