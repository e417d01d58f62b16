#include <QDateTime>
#include <QThread>

#include <memory>

#include <gtest/gtest.h>

#include "Clock.h"
#include "TestClock.h"

namespace
{

TEST(Clock, FollowsTheSystemUnlessATestClockStandsIn)
{
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const qint64 system = Clock::currentSecsSinceEpoch();
    EXPECT_GE(system, before);
    EXPECT_LE(system, QDateTime::currentSecsSinceEpoch());

    const QDateTime fixed(QDate(2012, 12, 21), QTime(13, 14, 15, 160), Qt::UTC);
    {
        TestClock clock(fixed);
        EXPECT_EQ(Clock::currentDateTimeUtc(), fixed);
        EXPECT_EQ(Clock::currentDateTimeUtc().timeSpec(), Qt::UTC);
        EXPECT_EQ(Clock::currentDateTime(), fixed);
        EXPECT_EQ(Clock::currentDateTime().timeSpec(), Qt::LocalTime);
        EXPECT_EQ(Clock::currentSecsSinceEpoch(), fixed.toSecsSinceEpoch());

        clock.advanceSecs(86401);
        EXPECT_EQ(Clock::currentSecsSinceEpoch(), fixed.toSecsSinceEpoch() + 86401);

        // Other threads see the same clock.
        qint64 seen = 0;
        std::unique_ptr<QThread> t(QThread::create([&seen] { seen = Clock::currentSecsSinceEpoch(); }));
        t->start();
        ASSERT_TRUE(t->wait(10000));
        EXPECT_EQ(seen, fixed.toSecsSinceEpoch() + 86401);
    }
    EXPECT_GE(Clock::currentSecsSinceEpoch(), system);
}

} // namespace
