#include <QList>

#include <gtest/gtest.h>

#include "WorkerProgress.h"

namespace
{

TEST(WorkerProgressTest, PercentIsTheIntegerPartOfTheShare)
{
    struct Case
    {
        int n;
        int total;
        int percent;
    };
    const QList<Case> cases = {{1, 3, 33}, {2, 3, 66}, {3, 3, 100}, {1, 6, 16}, {5, 6, 83},
                               {1, 1000, 0}, {999, 1000, 99}, {1, 0, 0}, {100000, 100000, 100}};
    for (const Case &c : cases)
        EXPECT_EQ(WorkerProgress::percent(c.n, c.total), c.percent) << c.n << "/" << c.total;
}

TEST(WorkerProgressTest, PostsFirstLastAndEveryNewPercentage)
{
    struct Case
    {
        int total;
        int intervalMs;
        int posts;
    };
    const QList<Case> cases = {
        {3, 1000000, 3},        // every item changes the percentage
        {150, 1000000, 101},    // the first item, then one per percentage
        {1000, 1000000, 101},
        {1000, 0, 1000},        // an interval that has always passed
    };
    for (const Case &c : cases) {
        WorkerProgress progress(c.total, c.intervalMs);
        int posts = 0;
        bool last = false;
        for (int n = 1; n <= c.total; ++n) {
            last = progress.due(n);
            posts += last ? 1 : 0;
        }
        EXPECT_EQ(posts, c.posts) << c.total;
        EXPECT_TRUE(last) << "the last item is always posted";
    }
}

} // namespace
