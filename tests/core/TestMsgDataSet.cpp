#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "MessageLists.h"
#include "MsgDataSet.h"
#include "MsgSetBuilder.h"

namespace
{

// A set whose records point at each other in every way a reader links them.
MsgDataSet linkedSet()
{
    MsgSetBuilder b;
    _MsgChat *one = b.chat(1, QStringLiteral("+100"));
    _MsgChat *group = b.chat(2, QStringLiteral("chat123"));
    _MsgHandle *h1 = b.handle(one, 10, QStringLiteral("+100"));
    b.handle(group, 11, QStringLiteral("+200"));
    group->handles.insert(QStringLiteral("10"), h1); // shared by two conversations
    for (int i = 1; i <= 20; ++i) {
        _MsgMessage *m = b.message(i % 2 ? one : group, i, 1000 + i, QStringLiteral("m%1").arg(i), h1);
        m->other = h1;
        if (i % 3 == 0)
            b.attachment(m, 100 + i, QStringLiteral("a%1.jpg").arg(i), QStringLiteral("image/jpeg"));
    }
    // A message in no conversation, with two attachments.
    _MsgMessage *loose = b.message(nullptr, 50, 0, QString(), h1);
    b.attachment(loose, 500, QStringLiteral("x"));
    b.attachment(loose, 501, QStringLiteral("y"));
    return b.set();
}

TEST(MsgDataSetTest, NullHandle)
{
    const MsgDataSet set;
    EXPECT_TRUE(set.isNull());
    EXPECT_EQ(set.data(), nullptr);
    EXPECT_TRUE(set.chatList().isEmpty());
    EXPECT_TRUE(set.messageList().isEmpty());

    const MsgDataSet fresh = MsgDataSet::create();
    ASSERT_FALSE(fresh.isNull());
    EXPECT_TRUE(fresh.data()->chats.isEmpty());
    EXPECT_TRUE(fresh.data()->handles.isEmpty());
    EXPECT_TRUE(fresh.data()->messages.isEmpty());
    EXPECT_TRUE(fresh.data()->attachments.isEmpty());
}

// Under the sanitizers a record freed twice aborts the test and one never
// freed fails it at exit; the checks here make sure the set is really gone
// or really still there.
TEST(MsgDataSetTest, LastHandleFreesEveryLinkedRecordOnce)
{
    MsgDataSet set = linkedSet();
    MsgDataSet copy = set;
    EXPECT_EQ(copy.data(), set.data());
    set = MsgDataSet();
    // The copy alone keeps every record alive: reading them through their
    // links would be a use after free otherwise.
    ASSERT_EQ(copy.messageList().size(), 21);
    int linkedAttachments = 0;
    for (const _MsgMessage *m : copy.messageList()) {
        ASSERT_NE(m->sender, nullptr);
        EXPECT_EQ(m->sender->id, QStringLiteral("+100"));
        if (m->chat) {
            EXPECT_TRUE(m->chat->messages.contains(QString::number(m->_key)));
        }
        for (const _MsgAttachment *a : m->attachmentIds())
            linkedAttachments += a->filename.isEmpty() ? 0 : 1;
    }
    EXPECT_EQ(linkedAttachments, 8);
    copy = MsgDataSet();
    EXPECT_TRUE(copy.isNull());
}

TEST(MsgDataSetTest, RecordUnderTwoKeysIsFreedOnce)
{
    MsgSetBuilder b;
    _MsgMessage *m = b.message(nullptr, 1, 0);
    b.set().data()->messages.insert(2, m);
    _MsgHandle *h = b.handle(nullptr, 1, QStringLiteral("a"));
    b.set().data()->handles.insert(2, h);
    b.set().data()->chats.insert(3, nullptr);
    EXPECT_EQ(b.set().messageList().size(), 2);
}

TEST(MsgDataSetTest, LastHandleMayGoOnAnotherThread)
{
    MsgDataSet set = linkedSet();
    MsgDataSet forThread = set;
    set = MsgDataSet();
    QThread *t = QThread::create([held = std::move(forThread)]() mutable { held = MsgDataSet(); });
    t->start();
    ASSERT_TRUE(t->wait(10000));
    delete t;
}

TEST(MsgDataSetTest, ListsComeInAscendingKeyOrder)
{
    MsgSetBuilder b;
    std::vector<qint64> keys;
    for (qint64 k = -30; k <= 200; k += 7)
        keys.push_back(k);
    std::mt19937 rng(7);
    std::shuffle(keys.begin(), keys.end(), rng);
    for (qint64 k : keys) {
        b.chat(k);
        b.message(nullptr, k, 0);
    }
    std::sort(keys.begin(), keys.end());
    QList<qint64> chatKeys, messageKeys;
    for (const _MsgChat *c : b.set().chatList())
        chatKeys.append(c->rowid);
    for (const _MsgMessage *m : b.set().messageList())
        messageKeys.append(m->_key);
    const QList<qint64> expected(keys.begin(), keys.end());
    EXPECT_EQ(chatKeys, expected);
    EXPECT_EQ(messageKeys, expected);
}

TEST(MsgDataSetTest, ChatsMessageListsFollowTheGivenConversations)
{
    MsgSetBuilder b;
    _MsgChat *a = b.chat(1);
    _MsgChat *c = b.chat(2);
    _MsgChat *empty = b.chat(3);
    const qint64 aKeys[] = {40, -3, 12, 7, 99, 5};
    for (qint64 k : aKeys)
        b.message(a, k, 0);
    b.message(c, 1000, 0);
    b.message(c, 1, 0);

    struct Case
    {
        QList<_MsgChat *> chats;
        QList<QList<qint64>> expected;
    };
    const QList<Case> cases = {
        {{}, {}},
        {{a}, {{-3, 5, 7, 12, 40, 99}}},
        {{c, a}, {{1, 1000}, {-3, 5, 7, 12, 40, 99}}},
        {{empty, nullptr, c}, {{}, {}, {1, 1000}}},
        {{c, c}, {{1, 1000}, {1, 1000}}},
    };
    for (const Case &k : cases) {
        QList<QList<qint64>> got;
        for (const QList<_MsgMessage *> &list : chatsMessageLists(k.chats)) {
            QList<qint64> keys;
            for (const _MsgMessage *m : list)
                keys.append(m->_key);
            got.append(keys);
        }
        EXPECT_EQ(got, k.expected);
    }
}

} // namespace
