#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <algorithm>
#include <limits>
#include <vector>

#include "MergeEntry.h"

namespace
{

MergeEntry entry(qint64 key, qint64 date, bool existing)
{
    MergeEntry e;
    e.key = key;
    e.date = date;
    e.isExisting = existing;
    return e;
}

constexpr bool Backup = true;
constexpr bool Chosen = false;
constexpr qint64 kMin = std::numeric_limits<qint64>::min();
constexpr qint64 kMax = std::numeric_limits<qint64>::max();

TEST(MergeEntryLess, OrdersByDateWhenFarApartAndByKeyWhenClose)
{
    struct Case
    {
        const char *name;
        MergeEntry a, b;
        bool aFirst, bFirst;
    };
    const Case cases[] = {
        {"10 apart in key, 60 s in date: by key, not by date", entry(11, 1000, Chosen), entry(1, 1060, Backup), false,
         true},
        {"10 apart in key, 200 s in date: by date", entry(1, 1200, Backup), entry(11, 1000, Chosen), false, true},
        {"30 apart in key, 60 s in date: by date", entry(1, 1060, Backup), entry(31, 1000, Chosen), false, true},
        {"20 apart in key and 120 s in date still count as close", entry(21, 1000, Chosen), entry(1, 1120, Backup),
         false, true},
        {"equal key and date: the backup's entry first", entry(5, 1000, Chosen), entry(5, 1000, Backup), false, true},
        {"far in key, equal date: the backup's entry first", entry(500, 1000, Chosen), entry(5, 1000, Backup), false,
         true},
        {"two backup rows that tie come in neither order", entry(5, 1000, Backup), entry(5, 1000, Backup), false,
         false},
        {"two backup rows far apart in key with one date", entry(5, 1000, Backup), entry(500, 1000, Backup), false,
         false},
        {"keys at both ends of the range are far apart", entry(kMin, 2000, Backup), entry(kMax, 1000, Chosen), false,
         true},
        {"dates at both ends of the range are far apart", entry(1, kMax, Backup), entry(2, kMin, Chosen), false,
         true},
        {"recycled keys near -2^31 close to each other", entry(-2047483653, 1000, Chosen),
         entry(-2047483650, 1100, Chosen), true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mergeEntryLess(c.a, c.b), c.aFirst);
        EXPECT_EQ(mergeEntryLess(c.b, c.a), c.bFirst);
    }
}

TEST(MergeEntryLess, NoEntryComesBeforeItself)
{
    const MergeEntry entries[] = {entry(1, 1000, Backup), entry(1, 1000, Chosen), entry(kMin, kMax, Backup),
                                  entry(kMax, kMin, Chosen)};
    for (const MergeEntry &e : entries)
        EXPECT_FALSE(mergeEntryLess(e, e)) << e.key << " " << e.date;
}

// The rule is not transitive (close keys go by key, far ones by date), so a
// sort must survive the cycle: keys 5, 10, 50 with dates 1000, 900, 950.
TEST(MergeEntryLess, SortingShuffledEntriesWithACycleKeepsEveryEntryOnce)
{
    std::vector<MergeEntry> entries;
    for (int i = 0; i < 300; ++i) {
        entries.push_back(entry(5 + i * 1000, 1000 + i * 5000, Backup));
        entries.push_back(entry(10 + i * 1000, 900 + i * 5000, Chosen));
        entries.push_back(entry(50 + i * 1000, 950 + i * 5000, Backup));
        entries.push_back(entry(i % 7, 1000 + i % 3, i % 2 == 0));
    }
    QRandomGenerator rng(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<MergeEntry> shuffled = entries;
        std::shuffle(shuffled.begin(), shuffled.end(), rng);
        std::stable_sort(shuffled.begin(), shuffled.end(), mergeEntryLess);
        ASSERT_EQ(shuffled.size(), entries.size());
        auto key = [](const MergeEntry &e) { return std::make_tuple(e.key, e.date, e.isExisting); };
        std::vector<std::tuple<qint64, qint64, bool>> got, want;
        for (const MergeEntry &e : shuffled)
            got.push_back(key(e));
        for (const MergeEntry &e : entries)
            want.push_back(key(e));
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want);
    }
}

} // namespace
