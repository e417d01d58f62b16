#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "ParallelSlices.h"

namespace
{

// Every item is worked on exactly once, in contiguous slices, whatever the
// count and the smallest slice.
TEST(ParallelSlices, EveryItemOnceInContiguousSlices)
{
    struct Case
    {
        qsizetype count;
        qsizetype minSlice;
    };
    const Case cases[] = {{0, 1}, {1, 1}, {7, 1}, {8, 1}, {9, 1}, {1000, 1}, {1000, 300}, {1000, 2000},
                          {100003, 1024}, {5, 0}, {5, -3}};
    for (const Case &c : cases) {
        std::vector<std::atomic<int>> seen(size_t(c.count));
        std::mutex lock;
        std::vector<std::pair<qsizetype, qsizetype>> slices;
        runSlices(c.count, c.minSlice, [&](qsizetype begin, qsizetype end) {
            ASSERT_LT(begin, end);
            for (qsizetype i = begin; i < end; ++i)
                ++seen[size_t(i)];
            const std::lock_guard<std::mutex> hold(lock);
            slices.emplace_back(begin, end);
        });
        for (qsizetype i = 0; i < c.count; ++i)
            ASSERT_EQ(seen[size_t(i)].load(), 1) << c.count << " " << c.minSlice << " item " << i;
        EXPECT_LE(slices.size(), 8u) << c.count;
        if (c.minSlice > 0 && c.count > 0)
            EXPECT_LE(qsizetype(slices.size()), std::max<qsizetype>(1, c.count / c.minSlice)) << c.count;
    }
}

// A failing slice stops nothing else: every slice ends, then the failure of
// the first failing slice (in slice order) is thrown, even when a later slice
// failed sooner.
TEST(ParallelSlices, TheFirstFailureInSliceOrderIsThrownAfterAllEnded)
{
    std::atomic<int> started{0};
    std::atomic<int> ended{0};
    try {
        runSlices(8000, 1000, [&](qsizetype begin, qsizetype end) {
            ++started;
            struct Ends
            {
                std::atomic<int> &count;
                ~Ends() { ++count; }
            } ends{ended};
            for (qsizetype i = begin; i < end; ++i) {
                if (i == 7500)
                    throw std::runtime_error("late");
                if (i == 2500) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    throw std::runtime_error("early");
                }
            }
        });
        FAIL() << "no failure thrown";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "early");
    }
    EXPECT_GE(started.load(), 1);
    EXPECT_EQ(ended.load(), started.load());
}

} // namespace
