#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

#include "MessageOrder.h"
#include "MsgSetBuilder.h"

namespace
{

constexpr qint64 kMin64 = std::numeric_limits<qint64>::min();
constexpr qint64 kMax64 = std::numeric_limits<qint64>::max();
constexpr int kMinInt = std::numeric_limits<int>::min();
constexpr int kMaxInt = std::numeric_limits<int>::max();

TEST(MessageOrderTest, MsgLessThan)
{
    struct Case
    {
        const char *label;
        qint64 keyA;
        int dateA;
        qint64 keyB;
        int dateB;
        bool aLess;
        bool bLess;
    };
    const Case cases[] = {
        {"close keys, close dates: store order", 5, 1000, 10, 900, true, false},
        {"distant keys: by date", 5, 1000, 50, 900, false, true},
        {"same message", 5, 1000, 5, 1000, false, false},
        {"equal dates, distant keys: neither", 1, 100, 100, 100, false, false},
        {"equal dates, close keys: store order", 1, 100, 2, 100, true, false},
        {"close keys, distant dates: by date", 1, 1000, 2, 500, false, true},
        {"keys 20 apart still count as close", 1, 1000, 21, 900, true, false},
        {"keys 21 apart do not", 1, 1000, 22, 900, false, true},
        {"dates 120 apart still count as close", 1, 1000, 2, 880, true, false},
        {"dates 121 apart do not", 1, 1000, 2, 879, false, true},
        {"negative keys of recycled messages", -5, 1000, 5, 900, true, false},
        {"keys spanning the whole 64-bit range", kMin64, 1000, kMax64, 900, false, true},
        {"keys at the bottom of the range", kMin64, 1000, kMin64 + 3, 900, true, false},
        {"dates spanning the whole int range", 1, kMaxInt, 2, kMinInt, false, true},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        const _MsgMessage *a = b.message(nullptr, c.keyA, c.dateA);
        const _MsgMessage *x = c.keyA == c.keyB ? a : b.message(nullptr, c.keyB, c.dateB);
        EXPECT_EQ(msgLessThan(a, x), c.aLess) << c.label;
        EXPECT_EQ(msgLessThan(x, a), c.bLess) << c.label;
        // Descending swaps the arguments; it is never the negation.
        EXPECT_EQ(msgGreaterThan(a, x), c.bLess) << c.label;
        EXPECT_EQ(msgGreaterThan(x, a), c.aLess) << c.label;
    }
}

// Keys 5, 10 and 50 with dates 1000, 900 and 950 form a cycle:
// 5 < 10 (store order), 10 < 50 (dates), 50 < 5 (dates).
TEST(MessageOrderTest, SortingThousandMessagesWithCyclesStaysInRange)
{
    MsgSetBuilder b;
    QList<_MsgMessage *> cycle = {b.message(nullptr, 5, 1000), b.message(nullptr, 10, 900),
                                  b.message(nullptr, 50, 950)};
    ASSERT_TRUE(msgLessThan(cycle[0], cycle[1]));
    ASSERT_TRUE(msgLessThan(cycle[1], cycle[2]));
    ASSERT_TRUE(msgLessThan(cycle[2], cycle[0]));

    // Further cycles of the same shape, and ordinary messages whose keys lie
    // far apart from everything and whose dates avoid the cycles' dates.
    QList<_MsgMessage *> all = cycle;
    for (qint64 base = 1000; all.size() < 60; base += 1000) {
        all.append(b.message(nullptr, base + 5, 1000));
        all.append(b.message(nullptr, base + 10, 900));
        all.append(b.message(nullptr, base + 50, 950));
    }
    QList<_MsgMessage *> plain;
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> date(0, 800);
    for (qint64 key = 1000000; all.size() < 1000; key += 100) {
        _MsgMessage *m = b.message(nullptr, key, rng() % 2 ? date(rng) : 2000 + date(rng));
        all.append(m);
        plain.append(m);
    }
    for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
        for (int round = 0; round < 20; ++round) {
            QList<_MsgMessage *> list = all;
            std::shuffle(list.begin(), list.end(), rng);
            sortMessages(list, order);

            // Every message exactly once.
            QList<_MsgMessage *> a = list, e = all;
            std::sort(a.begin(), a.end());
            std::sort(e.begin(), e.end());
            ASSERT_EQ(a, e);

            // The consistent part is in order: the plain messages by date, and
            // all cycle members between the plain ones older and newer.
            int lastDate = order == Qt::AscendingOrder ? kMinInt : kMaxInt;
            bool passedCycles = false;
            for (const _MsgMessage *m : list) {
                const bool inCycle = m->_key < 1000000;
                if (inCycle) {
                    EXPECT_FALSE(passedCycles);
                    continue;
                }
                if (order == Qt::AscendingOrder) {
                    EXPECT_LE(lastDate, m->date);
                    passedCycles = passedCycles || m->date >= 2000;
                } else {
                    EXPECT_GE(lastDate, m->date);
                    passedCycles = passedCycles || m->date < 900;
                }
                lastDate = m->date;
            }
        }
    }
}

TEST(MessageOrderTest, SortMessagesKeepsTiesInPlace)
{
    MsgSetBuilder b;
    // Equal dates and distant keys compare as neither less.
    QList<_MsgMessage *> list = {b.message(nullptr, 300, 5), b.message(nullptr, 100, 5), b.message(nullptr, 200, 1)};
    QList<_MsgMessage *> asc = list;
    sortMessages(asc, Qt::AscendingOrder);
    EXPECT_EQ(asc, (QList<_MsgMessage *>{list[2], list[0], list[1]}));
    QList<_MsgMessage *> desc = list;
    sortMessages(desc, Qt::DescendingOrder);
    EXPECT_EQ(desc, (QList<_MsgMessage *>{list[0], list[1], list[2]}));
    QList<_MsgMessage *> empty;
    sortMessages(empty, Qt::DescendingOrder);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(MessageOrderTest, Qint64LessThan)
{
    const struct
    {
        qint64 a, b;
        bool less;
    } cases[] = {
        {1, 2, true}, {2, 1, false}, {3, 3, false}, {-1, 0, true}, {kMin64, kMax64, true}, {kMax64, kMin64, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(qint64LessThan(c.a, c.b), c.less) << c.a << " " << c.b;
        _MsgAttachment x, y;
        x.rowid = c.a;
        y.rowid = c.b;
        EXPECT_EQ(qint64LessThan(&x, &y), c.less);
    }
    QList<qint64> ids = {5, -3, kMax64, 0, kMin64};
    std::stable_sort(ids.begin(), ids.end(), [](qint64 a, qint64 b) { return qint64LessThan(a, b); });
    EXPECT_EQ(ids, (QList<qint64>{kMin64, -3, 0, 5, kMax64}));
}

TEST(MessageOrderTest, GroupChatsByIdentifier)
{
    struct Chat
    {
        qint64 rowid;
        const char *identifier;
        int last;
    };
    struct Group
    {
        QList<qint64> rowids;
        int last;
    };
    struct Case
    {
        const char *label;
        QList<Chat> chats;
        QList<Group> expected;
    };
    const QList<Case> cases = {
        {"empty set", {}, {}},
        {"one group takes the newest last", {{1, "+100", 10}, {2, "+100", 30}}, {{{1, 2}, 30}}},
        {"an older chat does not lower it", {{1, "+100", 30}, {2, "+100", 10}}, {{{1, 2}, 30}}},
        {"identifiers are exact text", {{1, "a@x.org", 1}, {2, "A@x.org", 2}}, {{{1}, 1}, {{2}, 2}}},
        {"groups and their chats in chat id order",
         {{9, "b", 5}, {3, "a", 7}, {4, "b", 1}, {1, "", 0}, {2, "", 4}},
         {{{1, 2}, 4}, {{3}, 7}, {{4, 9}, 5}}},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        for (const Chat &ch : c.chats)
            b.chat(ch.rowid, QString::fromUtf8(ch.identifier), ch.last);
        const QList<_MsgChatGroup> groups = groupChatsByIdentifier(b.set());
        ASSERT_EQ(groups.size(), c.expected.size()) << c.label;
        for (int i = 0; i < groups.size(); ++i) {
            QList<qint64> rowids;
            for (const _MsgChat *ch : groups[i].chats)
                rowids.append(ch->rowid);
            EXPECT_EQ(rowids, c.expected[i].rowids) << c.label;
            EXPECT_EQ(groups[i].last, c.expected[i].last) << c.label;
        }
    }
    EXPECT_TRUE(groupChatsByIdentifier(MsgDataSet()).isEmpty());
}

TEST(MessageOrderTest, ChatGroupsSortNewestFirstWithTiesInPlace)
{
    const _MsgChatGroup a{{}, 10}, b{{}, 30}, c{{}, 10};
    EXPECT_TRUE(chatGroupLessThan(b, a));
    EXPECT_FALSE(chatGroupLessThan(a, b));
    // A strict order: equal groups are not less than each other.
    EXPECT_FALSE(chatGroupLessThan(a, c));
    EXPECT_FALSE(chatGroupLessThan(c, a));
    EXPECT_FALSE(chatGroupLessThan(a, a));

    // Groups of equal last date keep the order they came in.
    MsgSetBuilder builder;
    QList<_MsgChatGroup> groups;
    for (int i = 0; i < 40; ++i)
        groups.append(_MsgChatGroup{{builder.chat(i)}, (i * 7) % 5});
    QList<_MsgChatGroup> sorted = groups;
    sortChatGroups(sorted);
    QList<QPair<int, qint64>> got, expected;
    for (const _MsgChatGroup &g : sorted)
        got.append({g.last, g.chats.first()->rowid});
    for (int last = 4; last >= 0; --last) {
        for (int i = 0; i < 40; ++i) {
            if ((i * 7) % 5 == last)
                expected.append({last, i});
        }
    }
    EXPECT_EQ(got, expected);
}

} // namespace
