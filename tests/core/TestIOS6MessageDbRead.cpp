#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "AddressBookFixture.h"
#include "CountryLibDb.h"
#include "IOS6MessageDb.h"
#include "IOS11SmsDbFixture.h"
#include "IOS6SmsDbFixture.h"
#include "MessageRecycleDb.h"
#include "MessageText.h"
#include "PhoneNumber.h"
#include "SqlitePageDamage.h"

namespace
{

class IOS6MessageDbReadTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QDir root() const { return QDir(dir.path()); }
    QString smsDb() const { return IOS6SmsDbFixture::smsDbPath(root()); }

    // Reads into set a file that is damaged: the read fails with SQLite's own
    // message, keeping what it read before.
    static void expectMalformedRead(IOS6MessageDb &db, MsgDataSet &set)
    {
        std::string error;
        try {
            db.messages(set, 0);
        } catch (const std::exception &e) {
            error = e.what();
        }
        EXPECT_NE(error.find("malformed"), std::string::npos) << error;
    }

    static QStringList keysOf(const QHash<QString, _MsgMessage *> &hash)
    {
        QStringList keys = hash.keys();
        keys.sort();
        return keys;
    }
};

// A device's file: one-to-one chat 1 (+4915112345678 as stored, no
// country), group chat 2 (Ann and bob), chat 3 without messages.
class DeviceReadTest : public IOS6MessageDbReadTest
{
protected:
    void SetUp() override
    {
        IOS6SmsDbFixture sms(smsDb(), IOS6SmsDbFixture::Device, true);
        ann = sms.addHandle(QStringLiteral("015112345678"));
        bob = sms.addHandle(QStringLiteral("Bob@Example.com"), QStringLiteral("iMessage"), QStringLiteral("us"));
        loner = sms.addHandle(QStringLiteral("+15550000009"));
        one = sms.addChat(QStringLiteral("SMS;-;+4915112345678"), QStringLiteral("+4915112345678"));
        sms.joinChatHandle(one, ann);
        group = sms.addChat(QStringLiteral("iMessage;+;chat1"), QStringLiteral("chat1"), QStringLiteral("iMessage"), 43,
                            QStringLiteral("Friends"));
        sms.joinChatHandle(group, ann);
        sms.joinChatHandle(group, bob);
        empty = sms.addChat(QStringLiteral("SMS;-;+15550000000"), QStringLiteral("+15550000000"));
        m1 = sms.addMessage(one, ann, QStringLiteral("G1"), QStringLiteral("one"), 500, 0);
        m2 = sms.addMessage(one, ann, QStringLiteral("G2"), QStringLiteral("two"), 700, 1);
        m3 = sms.addMessage(group, bob, QStringLiteral("G3"), QStringLiteral("three"), 600, 0, 0, -1,
                            QStringLiteral("iMessage"));
        // Ann added bob: an event naming its other party.
        event = sms.addMessage(group, ann, QStringLiteral("G4"), QString(), 650, 0, 1, bob);
        sharing = sms.addMessage(group, bob, QStringLiteral("G5"), QString(), 9999, 0, 4, ann);
        // From a handle that is in no conversation, and a message in none.
        fromLoner = sms.addMessage(one, loner, QStringLiteral("G6"), QStringLiteral("who?"), 400, 0);
        unjoined = sms.addMessage(0, ann, QStringLiteral("G7"), QStringLiteral("nowhere"), 800, 0);
        sms.db().executeThrow(Sqlite3Sql("update message set country='fr' where rowid=?").addInt64Param(fromLoner));
    }

    std::unique_ptr<IOS6MessageDb> openDevice()
    {
        return std::make_unique<IOS6MessageDb>(root(), QStringLiteral("262"), false);
    }

    qint64 ann = 0, bob = 0, loner = 0, one = 0, group = 0, empty = 0;
    qint64 m1 = 0, m2 = 0, m3 = 0, event = 0, sharing = 0, fromLoner = 0, unjoined = 0;
};

TEST_F(DeviceReadTest, ChatsTakeTheirLastDateFromTheNewestMessage)
{
    auto db = openDevice();
    MsgDataSet set = MsgDataSet::create();
    db->chats(set);
    ASSERT_EQ(set.data()->chats.size(), 3);
    const _MsgChat *c1 = set.data()->chats.value(one);
    const _MsgChat *c2 = set.data()->chats.value(group);
    EXPECT_EQ(c1->_last, 700);
    EXPECT_EQ(c2->_last, 9999) << "the query counts every joined message";
    EXPECT_EQ(set.data()->chats.value(empty)->_last, 0);
    EXPECT_TRUE(c1->group_id.isEmpty());
    EXPECT_EQ(c2->display_name, QStringLiteral("Friends"));
    EXPECT_EQ(c2->style, 43);
    EXPECT_EQ(c2->service_name, QStringLiteral("iMessage"));
    EXPECT_EQ(QStringList(c2->handles.keys()).size(), 2);
    EXPECT_TRUE(c2->handles.contains(QString::number(bob)));
    EXPECT_EQ(set.data()->handles.size(), 2) << "handles in no conversation are not read";
}

TEST_F(DeviceReadTest, HandlesAreNormalisedForTheirCountry)
{
    auto db = openDevice();
    MsgDataSet set = MsgDataSet::create();
    db->chats(set);
    CountryLibDb countries(QStringLiteral("262"));
    const QString german = normalizePhoneNumber(countries.currentCountry(), QStringLiteral("015112345678"));
    ASSERT_EQ(german, QStringLiteral("+4915112345678"));
    const _MsgHandle *a = set.data()->handles.value(ann);
    EXPECT_EQ(a->id, german);
    EXPECT_EQ(a->country, QStringLiteral("de")) << "the current country, in lower case";
    EXPECT_EQ(a->uncanonicalized_id, QStringLiteral("015112345678"));
    const _MsgHandle *b = set.data()->handles.value(bob);
    EXPECT_EQ(b->id, QStringLiteral("bob@example.com"));
    EXPECT_EQ(b->country, QStringLiteral("us"));
    EXPECT_TRUE(a->_ct_name.isEmpty()) << "no address book, no names";
}

TEST_F(DeviceReadTest, NamesAndPicturesComeFromTheAddressBook)
{
    AddressBookFixture book(dir.path());
    book.addPerson(1, QStringLiteral("Ann"), QString(), QStringLiteral("Lee"));
    book.addValue(1, QStringLiteral("0151 1234 5678"));
    book.addThumbnail(1, QByteArray("\x89PNG-ann", 8));
    book.write();
    auto db = openDevice();
    MsgDataSet set = MsgDataSet::create();
    db->chats(set);
    EXPECT_EQ(set.data()->handles.value(ann)->_ct_name, QStringLiteral("Ann Lee"));
    EXPECT_EQ(set.data()->handles.value(ann)->_photo, QByteArray("\x89PNG-ann", 8));
    EXPECT_TRUE(set.data()->handles.value(bob)->_ct_name.isEmpty());
}

TEST_F(DeviceReadTest, MessagesAreLinkedAndLocationSharingIsLeftOut)
{
    auto db = openDevice();
    MsgDataSet set = MsgDataSet::create();
    db->messages(set, 0);
    const auto &messages = set.data()->messages;
    EXPECT_EQ(messages.size(), 5);
    EXPECT_FALSE(messages.contains(sharing));
    EXPECT_FALSE(messages.contains(unjoined)) << "messages in no conversation are never read";

    const _MsgMessage *first = messages.value(m1);
    EXPECT_EQ(first->_key, m1);
    EXPECT_EQ(first->rowid, m1);
    EXPECT_EQ(first->guid, QStringLiteral("G1"));
    EXPECT_EQ(first->text, QStringLiteral("one"));
    EXPECT_EQ(first->date, 500);
    EXPECT_EQ(first->version, 10);
    EXPECT_EQ(first->handle_id, ann);
    EXPECT_FALSE(first->_deleted);
    EXPECT_EQ(first->sender, set.data()->handles.value(ann));
    EXPECT_EQ(first->country, QStringLiteral("de")) << "taken from the sender when empty";
    EXPECT_EQ(first->chat, set.data()->chats.value(one));
    EXPECT_EQ(messages.value(m2)->is_from_me, 1);

    const _MsgMessage *added = messages.value(event);
    EXPECT_EQ(added->item_type, 1);
    EXPECT_EQ(added->other_handle, bob);
    EXPECT_EQ(added->other, set.data()->handles.value(bob));
    EXPECT_EQ(messages.value(m3)->other, nullptr);

    const _MsgMessage *stranger = messages.value(fromLoner);
    EXPECT_EQ(stranger->sender, nullptr) << "its handle is in no conversation";
    EXPECT_EQ(stranger->country, QStringLiteral("fr"));

    EXPECT_EQ(keysOf(set.data()->chats.value(one)->messages),
              QStringList({QString::number(m1), QString::number(m2), QString::number(fromLoner)}));
    EXPECT_EQ(keysOf(set.data()->chats.value(group)->messages),
              QStringList({QString::number(m3), QString::number(event)}));
    EXPECT_EQ(db->messageCount(), 5);
    EXPECT_TRUE(db->hasItemType());
}

TEST_F(DeviceReadTest, OneConversationOrAll)
{
    struct Case
    {
        qint64 chatId;
        int messages;
    };
    const QList<Case> cases = {{0, 5}, {-1, 5}, {-2047483647, 5}, {1, 3}, {2, 2}, {3, 0}, {99, 0}};
    for (const Case &c : cases) {
        auto db = openDevice();
        MsgDataSet set = MsgDataSet::create();
        db->messages(set, c.chatId);
        EXPECT_EQ(set.data()->messages.size(), c.messages) << c.chatId;
        EXPECT_EQ(set.data()->chats.size(), 3) << "every conversation is read";
    }
}

TEST_F(DeviceReadTest, LoadingTwiceReusesEveryRecord)
{
    auto db = openDevice();
    MsgDataSet set = MsgDataSet::create();
    db->messages(set, 1);
    _MsgMessage *first = set.data()->messages.value(m1);
    first->text = QStringLiteral("changed in memory");
    db->messages(set, 0);
    db->messages(set, 0);
    EXPECT_EQ(set.data()->messages.size(), 5);
    EXPECT_EQ(set.data()->chats.size(), 3);
    EXPECT_EQ(set.data()->handles.size(), 2);
    EXPECT_EQ(set.data()->messages.value(m1), first);
    EXPECT_EQ(first->text, QStringLiteral("changed in memory")) << "fields are not read again";
    EXPECT_EQ(set.data()->chats.value(one)->messages.size(), 3);
}

TEST_F(DeviceReadTest, AMessageInTwoConversationsIsOneRecordInBoth)
{
    {
        Sqlite3DB raw;
        raw.openThrow(smsDb(), Sqlite3DB::ReadWrite);
        raw.executeThrow(Sqlite3Sql("insert into chat_message_join(chat_id, message_id) values(?,?)")
                             .addInt64Param(group)
                             .addInt64Param(m1));
    }
    auto db = openDevice();
    MsgDataSet set = MsgDataSet::create();
    db->messages(set, 0);
    const _MsgMessage *m = set.data()->messages.value(m1);
    EXPECT_EQ(set.data()->messages.size(), 5);
    EXPECT_EQ(set.data()->chats.value(one)->messages.value(QString::number(m1)), m);
    EXPECT_EQ(set.data()->chats.value(group)->messages.value(QString::number(m1)), m);
    EXPECT_NE(m->chat, nullptr);
}

// Enough rows that the conversations' hashes are filled on several threads
// while the attachments are read: conversations of very different sizes, some
// messages in two of them, some with attachments; every conversation holds
// exactly its own messages, and each message its attachments, as when its
// conversation is read alone.
TEST_F(IOS6MessageDbReadTest, ManyRowsInConversationsOfAllSizes)
{
    const int sizes[] = {15000, 6000, 2500, 700, 300, 40, 7, 1, 0};
    QList<qint64> chats;
    {
        IOS6SmsDbFixture sms(smsDb(), IOS6SmsDbFixture::Device, true);
        sms.begin();
        const qint64 handle = sms.addHandle(QStringLiteral("+15550000001"));
        int n = 0;
        qint64 previous = 0;
        for (int size : sizes) {
            const qint64 chat = sms.addChat(QStringLiteral("SMS;-;+1555%1").arg(chats.size()),
                                            QStringLiteral("+1555%1").arg(chats.size()));
            sms.joinChatHandle(chat, handle);
            for (int i = 0; i < size; ++i, ++n) {
                const qint64 m = sms.addMessage(chat, handle, QStringLiteral("G%1").arg(n), QStringLiteral("t"),
                                                1000 + n, n % 2);
                // Every hundredth message is in the conversation before too.
                if (previous > 0 && i % 100 == 0)
                    sms.joinChatMessage(previous, m);
                if (n % 250 == 0) {
                    sms.addAttachment(m, QStringLiteral("A%1").arg(n),
                                      QStringLiteral("~/Library/SMS/Attachments/%1.jpg").arg(n),
                                      QStringLiteral("image/jpeg"));
                }
            }
            chats << chat;
            previous = chat;
        }
        sms.commit();
    }
    auto open = [this] { return std::make_unique<IOS6MessageDb>(root(), QString(), false); };
    MsgDataSet all = MsgDataSet::create();
    open()->messages(all, 0);
    EXPECT_EQ(all.data()->messages.size(), 24548);
    EXPECT_EQ(all.data()->attachments.size(), 99);
    for (qint64 chat : std::as_const(chats)) {
        MsgDataSet alone = MsgDataSet::create();
        open()->messages(alone, chat);
        const _MsgChat *together = all.data()->chats.value(chat);
        const _MsgChat *single = alone.data()->chats.value(chat);
        ASSERT_TRUE(together && single) << chat;
        EXPECT_EQ(keysOf(together->messages), keysOf(single->messages)) << chat;
        for (auto it = together->messages.cbegin(); it != together->messages.cend(); ++it) {
            const _MsgMessage *m = it.value();
            ASSERT_EQ(m, all.data()->messages.value(it.key().toLongLong())) << chat << " " << qPrintable(it.key());
            const _MsgMessage *read = single->messages.value(it.key());
            ASSERT_TRUE(read);
            QStringList got = m->attachments.keys();
            QStringList alone = read->attachments.keys();
            got.sort();
            alone.sort();
            ASSERT_EQ(got, alone) << qPrintable(m->guid);
        }
    }
}

// A file damaged half way through its message table: the read fails with
// SQLite's own message, the messages before the damaged page are kept and
// linked as they were read, none of those after it is, and the connection
// serves the next call.
TEST_F(IOS6MessageDbReadTest, ADamagedPageHalfWayKeepsTheMessagesBeforeIt)
{
    constexpr int kMessages = 4000;
    qint64 chat = 0;
    int before = kMessages;
    {
        // Without the later columns, so that the conversations' last dates
        // come from the rows on the way rather than from a query before.
        IOS6SmsDbFixture sms(smsDb(), IOS6SmsDbFixture::Device, false);
        sms.begin();
        const qint64 handle = sms.addHandle(QStringLiteral("+15550000001"));
        chat = sms.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
        sms.joinChatHandle(chat, handle);
        for (int i = 0; i < kMessages; ++i) {
            sms.addMessage(chat, handle, QStringLiteral("G%1").arg(i),
                           QStringLiteral("marker-%1-").arg(i, 5, 10, QLatin1Char('0')) + QString(80, QLatin1Char('x')),
                           1000 + i, i % 2);
        }
        sms.commit();
    }
    QByteArray page;
    ASSERT_TRUE(damagePageHolding(smsDb(), "marker-02000-", &page));
    // The messages before the page are those before its first one.
    before = smallestNumbered(page, "marker-", before);

    IOS6MessageDb db(root(), QString(), false);
    MsgDataSet set = MsgDataSet::create();
    expectMalformedRead(db, set);
    const auto &messages = set.data()->messages;
    ASSERT_GT(before, 1000);
    ASSERT_LE(before, 2000);
    ASSERT_EQ(messages.size(), before);
    const _MsgChat *c = set.data()->chats.value(chat);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->messages.size(), messages.size());
    // Read in rowid order: the first ones, each linked.
    for (qint64 rowid = 1; rowid <= messages.size(); ++rowid) {
        const _MsgMessage *m = messages.value(rowid);
        ASSERT_TRUE(m) << rowid;
        EXPECT_EQ(m->chat, c);
        EXPECT_EQ(c->messages.value(QString::number(rowid)), m);
        EXPECT_TRUE(m->text.startsWith(QStringLiteral("marker-%1-").arg(rowid - 1, 5, 10, QLatin1Char('0'))));
    }
    // The connection is free for the next query.
    Sqlite3Cursor chats = db.queryThrow(Sqlite3Sql("select count(*) from chat"));
    ASSERT_TRUE(chats.moveNext());
    EXPECT_EQ(chats.getInt64(0), 1);
}

// A file whose attachment table is damaged: the read fails with SQLite's own
// message once the messages are in, and every message read is linked into its
// conversation as it would be without the failure, however many there are
// (many are put into their conversations on several threads).
TEST_F(IOS6MessageDbReadTest, AFailureOfTheAttachmentsLeavesTheMessagesLinked)
{
    for (const int count : {10, 20010}) {
        SCOPED_TRACE(count);
        QFile::remove(smsDb());
        qint64 chats[2] = {};
        {
            IOS6SmsDbFixture sms(smsDb(), IOS6SmsDbFixture::Device, true);
            sms.begin();
            const qint64 handle = sms.addHandle(QStringLiteral("+15550000001"));
            for (int c = 0; c < 2; ++c) {
                chats[c] = sms.addChat(QStringLiteral("SMS;-;+1555000000%1").arg(c), QStringLiteral("+1555000000%1").arg(c));
                sms.joinChatHandle(chats[c], handle);
            }
            for (int i = 0; i < count; ++i) {
                const qint64 m = sms.addMessage(chats[i % 2], handle, QStringLiteral("G%1").arg(i), QStringLiteral("t"),
                                                1000 + i, i % 2);
                if (i % 5 == 0)
                    sms.addAttachment(m, QStringLiteral("A%1").arg(i),
                                      QStringLiteral("~/Library/SMS/Attachments/damaged-%1.jpg").arg(i),
                                      QStringLiteral("image/jpeg"));
            }
            sms.commit();
        }
        QByteArray page;
        ASSERT_TRUE(damagePageHolding(smsDb(), "damaged-0.jpg", &page));

        IOS6MessageDb db(root(), QString(), false);
        MsgDataSet set = MsgDataSet::create();
        expectMalformedRead(db, set);
        const auto &messages = set.data()->messages;
        ASSERT_EQ(messages.size(), count);
        for (int c = 0; c < 2; ++c) {
            const _MsgChat *chat = set.data()->chats.value(chats[c]);
            ASSERT_TRUE(chat);
            EXPECT_EQ(chat->messages.size(), count / 2) << c;
            for (auto it = chat->messages.cbegin(); it != chat->messages.cend(); ++it) {
                ASSERT_EQ(it.value(), messages.value(it.key().toLongLong()));
                ASSERT_EQ(it.value()->chat, chat);
            }
        }
    }
}

// Rowids close together, far apart and at the ends of the 64-bit range: each
// message is one record under its rowid, in every conversation it is joined
// to, and a second read into the same set finds the records of the first.
TEST_F(IOS6MessageDbReadTest, EveryRowidIsOneRecordHoweverTheRowidsLie)
{
    const QList<QList<qint64>> cases = {
        {1, 2, 3, 4, 5},
        {7, 5000, 900000},
        {std::numeric_limits<qint64>::min() + 1, -1, 0, std::numeric_limits<qint64>::max()},
        {-3, -2, -1},
    };
    for (const QList<qint64> &rowids : cases) {
        SCOPED_TRACE(rowids.first());
        QTemporaryDir own;
        const QDir where(own.path());
        qint64 first = 0, second = 0;
        {
            IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(where), IOS6SmsDbFixture::Device, true);
            const qint64 h = sms.addHandle(QStringLiteral("+15550000001"));
            first = sms.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
            second = sms.addChat(QStringLiteral("SMS;-;+15550000002"), QStringLiteral("+15550000002"));
            sms.joinChatHandle(first, h);
            sms.joinChatHandle(second, h);
            // Made where the table puts them, then moved to the wanted rowid.
            for (int i = 0; i < rowids.size(); ++i) {
                const qint64 made = sms.addMessage(first, h, QStringLiteral("G%1").arg(i), QStringLiteral("t%1").arg(i),
                                                   100 + i, 0);
                sms.db().executeThrow(Sqlite3Sql("update message set rowid=? where rowid=?")
                                          .addInt64Param(rowids.at(i))
                                          .addInt64Param(made));
                sms.db().executeThrow(Sqlite3Sql("update chat_message_join set message_id=? where message_id=?")
                                          .addInt64Param(rowids.at(i))
                                          .addInt64Param(made));
            }
            sms.joinChatMessage(second, rowids.first());
        }
        IOS6MessageDb db(where, QString(), false);
        MsgDataSet set = MsgDataSet::create();
        db.messages(set, second);
        ASSERT_EQ(set.data()->messages.size(), 1);
        const _MsgMessage *early = set.data()->messages.value(rowids.first());
        db.messages(set, 0);
        ASSERT_EQ(set.data()->messages.size(), rowids.size());
        EXPECT_EQ(set.data()->messages.value(rowids.first()), early) << "the first read's record is kept";
        for (int i = 0; i < rowids.size(); ++i) {
            const _MsgMessage *m = set.data()->messages.value(rowids.at(i));
            ASSERT_NE(m, nullptr) << rowids.at(i);
            EXPECT_EQ(m->rowid, rowids.at(i));
            EXPECT_EQ(m->_key, rowids.at(i));
            EXPECT_EQ(m->guid, QStringLiteral("G%1").arg(i));
            EXPECT_EQ(m->text, QStringLiteral("t%1").arg(i));
            EXPECT_EQ(set.data()->chats.value(first)->messages.value(QString::number(rowids.at(i))), m);
        }
        EXPECT_EQ(set.data()->chats.value(first)->messages.size(), rowids.size());
        EXPECT_EQ(set.data()->chats.value(second)->messages.size(), 1);
        EXPECT_EQ(set.messageList().size(), rowids.size());

        // A new set read at once holds the same.
        MsgDataSet fresh = MsgDataSet::create();
        db.messages(fresh, 0);
        QList<qint64> keys = fresh.data()->messages.keys();
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, rowids);
        EXPECT_EQ(fresh.data()->chats.value(second)->messages.value(QString::number(rowids.first())),
                  fresh.data()->messages.value(rowids.first()));
    }
}

TEST_F(IOS6MessageDbReadTest, WithoutItemTypeEveryJoinedMessageIsRead)
{
    {
        IOS6SmsDbFixture sms(smsDb(), IOS6SmsDbFixture::Device, false);
        const qint64 h = sms.addHandle(QStringLiteral("+15550000001"));
        const qint64 c = sms.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
        sms.joinChatHandle(c, h);
        for (int i = 0; i < 4; ++i)
            sms.addMessage(c, h, QStringLiteral("G%1").arg(i), QStringLiteral("t"), 100 + i, 0);
    }
    IOS6MessageDb db(root(), QString(), false);
    EXPECT_FALSE(db.hasItemType()) << "before opening";
    MsgDataSet set = MsgDataSet::create();
    db.messages(set, 0);
    EXPECT_EQ(set.data()->messages.size(), 4);
    EXPECT_FALSE(db.hasItemType());
    EXPECT_EQ(db.messageCount(), 4);
    const _MsgMessage *m = set.data()->messages.value(1);
    EXPECT_EQ(m->item_type, 0);
    EXPECT_EQ(m->is_audio_message, 0);
}

TEST_F(IOS6MessageDbReadTest, ALocalDatabaseKeepsItsStoredLastDateAndNames)
{
    {
        IOS6MessageDb db(root(), QString(), true);
        db.ensureOpen();
        db.executeThrow("insert into handle(id, service, country, _ct_name, _photo) values('+15550000001','SMS','us','Ann',x'0102')");
        db.executeThrow("insert into chat(guid, style, state, chat_identifier, service_name, account_login, _last) "
                        "values('SMS;-;+15550000001', 45, 3, '+15550000001', 'SMS', 'E:', 0)");
        db.executeThrow("insert into chat_handle_join values(1, 1)");
        db.executeThrow("insert into message(guid, text, handle_id, date) values('L1', 'kept', 1, 12345)");
        db.executeThrow("insert into chat_message_join values(1, 1)");
    }
    IOS6MessageDb db(root(), QString(), true);
    MsgDataSet set = MsgDataSet::create();
    db.messages(set, 0);
    EXPECT_EQ(set.data()->chats.value(1)->_last, 0) << "the column stands, even at 0";
    EXPECT_EQ(set.data()->handles.value(1)->_ct_name, QStringLiteral("Ann"));
    EXPECT_EQ(set.data()->handles.value(1)->_photo, QByteArray("\x01\x02", 2));
    EXPECT_EQ(set.data()->messages.value(1)->text, QStringLiteral("kept"));
    EXPECT_EQ(set.data()->messages.value(1)->other_handle, -1);
}

TEST_F(IOS6MessageDbReadTest, RecycledMessagesAreThoseNoLongerInTheDatabase)
{
    {
        IOS6SmsDbFixture sms(smsDb(), IOS6SmsDbFixture::Device);
        const qint64 h = sms.addHandle(QStringLiteral("+15550000001"));
        const qint64 c = sms.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
        sms.joinChatHandle(c, h);
        sms.addMessage(c, h, QStringLiteral("AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA"), QStringLiteral("live"), 100, 0);
    }
    {
        MessageRecycleDb recycle(root().absoluteFilePath(QStringLiteral("recycle.db")));
        _MsgMessage live;
        live.guid = QStringLiteral("AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA");
        live.text = QStringLiteral("live");
        live.date = 100;
        recycle.insertMessage(live, QStringLiteral("+15550000001"), QStringLiteral("+15550000001"), 1);
        _MsgMessage gone;
        gone.guid = QStringLiteral("BBBBBBBB-BBBB-BBBB-BBBB-BBBBBBBBBBBB");
        gone.text = QStringLiteral("carved");
        gone.date = 50;
        gone.handle_id = 1;
        gone.service = QStringLiteral("SMS");
        recycle.insertMessage(gone, QStringLiteral("+15550000001"), QStringLiteral("+15550000001"), 2);
    }
    IOS6MessageDb db(root(), QString(), false);
    MsgDataSet set = MsgDataSet::create();
    db.messages(set, 0);
    db.recycledMessages(set);
    QStringList deleted;
    for (const _MsgMessage *m : set.messageList()) {
        if (m->_deleted)
            deleted.append(m->text);
    }
    EXPECT_EQ(deleted, QStringList{QStringLiteral("carved")});
    EXPECT_EQ(set.data()->messages.size(), 2);
    // It joins the conversation the database has for its identifier.
    const _MsgMessage *carved = set.data()->messages.value(2047483650);
    ASSERT_NE(carved, nullptr);
    EXPECT_EQ(carved->chat, set.data()->chats.value(1));
}

} // namespace

namespace
{

// Without _last the newest date comes from the messages: by a query, or,
// when every message is read and none is left out, from the rows read.
TEST_F(IOS6MessageDbReadTest, LastDatesAreTheSameHoweverTheyAreFound)
{
    for (bool later : {false, true}) {
        SCOPED_TRACE(later ? "with item_type" : "without item_type");
        {
            IOS6SmsDbFixture sms(smsDb(), IOS6SmsDbFixture::Device, later);
            const qint64 h = sms.addHandle(QStringLiteral("+15550000001"));
            const qint64 a = sms.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
            const qint64 b = sms.addChat(QStringLiteral("SMS;-;+15550000002"), QStringLiteral("+15550000002"));
            sms.addChat(QStringLiteral("SMS;-;+15550000003"), QStringLiteral("+15550000003"));
            sms.joinChatHandle(a, h);
            sms.addMessage(a, h, QStringLiteral("A1"), QStringLiteral("x"), 900, 0);
            sms.addMessage(a, h, QStringLiteral("A2"), QStringLiteral("x"), 300, 0);
            sms.addMessage(b, h, QStringLiteral("B1"), QStringLiteral("x"), 50, 0);
            // Joined to both: counts for both.
            const qint64 shared = sms.addMessage(b, h, QStringLiteral("S"), QStringLiteral("x"), 1200, 0);
            sms.joinChatMessage(a, shared);
            // Not in any conversation: counts for none.
            sms.addMessage(0, h, QStringLiteral("N"), QStringLiteral("x"), 5000, 0);
        }
        const QList<int> expected = {1200, 1200, 0};
        struct Way
        {
            const char *label;
            qint64 chatId; // -100: chats() alone
        };
        for (const Way &way : {Way{"chats alone", -100}, Way{"all messages", 0}, Way{"one conversation", 2}}) {
            IOS6MessageDb db(root(), QString(), false);
            MsgDataSet set = MsgDataSet::create();
            if (way.chatId == -100)
                db.chats(set);
            else
                db.messages(set, way.chatId);
            QList<int> lasts;
            for (const _MsgChat *c : set.chatList())
                lasts.append(c->_last);
            EXPECT_EQ(lasts, expected) << way.label;
        }
        QFile::remove(smsDb());
    }
}

} // namespace

namespace
{

// Each message of a later phone's file, with the dates it must read as.
struct LaterDates
{
    const char *guid;
    qint64 chat; // 1 or 2
    int date, dateRead, dateDelivered, datePlayed;
};

} // namespace

// From iOS 11 on a phone keeps every date of a message in nanoseconds since
// 2001: each reads as the whole seconds it holds, and so do the newest dates
// of the conversations, however they are found. A date that did not happen
// stays 0, and the attachments' dates, which stay in seconds, as they are.
TEST_F(IOS6MessageDbReadTest, DatesInNanosecondsOfALaterPhoneReadAsSeconds)
{
    using M = IOS11SmsDbFixture::Message;
    qint64 picture = 0;
    {
        IOS11SmsDbFixture sms(smsDb());
        const qint64 ann = sms.addHandle(QStringLiteral("ann@example.com"));
        const qint64 bob = sms.addHandle(QStringLiteral("+15555550123"), QStringLiteral("SMS"));
        const qint64 withAnn = sms.addChat(ann, QStringLiteral("ann@example.com"));
        const qint64 withBob = sms.addChat(bob, QStringLiteral("+15555550123"), QStringLiteral("SMS"));
        M read;
        read.chat = withAnn;
        read.handle = ann;
        read.guid = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
        read.text = QStringLiteral("received and read");
        read.date = 531234567891234567;
        read.dateRead = 531234600123456789;
        picture = sms.addMessage(read);
        sms.addAttachment(picture, QStringLiteral("at_0_3F2504E0-4F89-41D3-9A0C-0305E82C3301"),
                          QStringLiteral("~/Library/SMS/Attachments/4a/10/IMG_0001.jpeg"), QStringLiteral("image/jpeg"),
                          531234560);
        M sent;
        sent.chat = withAnn;
        sent.handle = ann;
        sent.guid = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3302");
        sent.text = QStringLiteral("sent and delivered");
        sent.isFromMe = 1;
        sent.date = 531240000000000000;
        sent.dateDelivered = 531240002500000000;
        sms.addMessage(sent);
        M audio;
        audio.chat = withAnn;
        audio.handle = ann;
        audio.guid = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3303");
        audio.audio = true;
        audio.date = 531300000999999999;
        audio.dateRead = 531300050000000000;
        audio.datePlayed = 531300060000000001;
        sms.addMessage(audio);
        M unread;
        unread.chat = withBob;
        unread.handle = bob;
        unread.service = QStringLiteral("SMS");
        unread.guid = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3304");
        unread.text = QStringLiteral("not read yet");
        unread.date = 560000000000000000;
        sms.addMessage(unread);
    }
    const LaterDates expected[] = {
        {"3F2504E0-4F89-41D3-9A0C-0305E82C3301", 1, 531234567, 531234600, 0, 0},
        {"3F2504E0-4F89-41D3-9A0C-0305E82C3302", 1, 531240000, 0, 531240002, 0},
        {"3F2504E0-4F89-41D3-9A0C-0305E82C3303", 1, 531300000, 531300050, 0, 531300060},
        {"3F2504E0-4F89-41D3-9A0C-0305E82C3304", 2, 560000000, 0, 0, 0},
    };

    struct Way
    {
        const char *label;
        qint64 chatId; // -100: chats() alone
    };
    for (const Way &way : {Way{"chats alone", -100}, Way{"all messages", 0}, Way{"one conversation", 1}}) {
        SCOPED_TRACE(way.label);
        IOS6MessageDb db(root(), QStringLiteral("310"), false);
        MsgDataSet set = MsgDataSet::create();
        if (way.chatId == -100)
            db.chats(set);
        else
            db.messages(set, way.chatId);
        ASSERT_EQ(set.data()->chats.size(), 2);
        EXPECT_EQ(set.data()->chats.value(1)->_last, 531300000);
        EXPECT_EQ(set.data()->chats.value(2)->_last, 560000000);
        if (way.chatId == -100)
            continue;

        int found = 0;
        for (const LaterDates &e : expected) {
            if (way.chatId > 0 && e.chat != way.chatId)
                continue;
            SCOPED_TRACE(e.guid);
            const _MsgMessage *m = nullptr;
            for (const _MsgMessage *candidate : set.data()->messages) {
                if (candidate->guid == QLatin1String(e.guid))
                    m = candidate;
            }
            ASSERT_NE(m, nullptr);
            ++found;
            EXPECT_EQ(m->date, e.date);
            EXPECT_EQ(m->date_read, e.dateRead);
            EXPECT_EQ(m->date_delivered, e.dateDelivered);
            EXPECT_EQ(m->date_played, e.datePlayed);
        }
        EXPECT_EQ(set.data()->messages.size(), found);
        // The first message was written in November 2017, not in 1932.
        const _MsgMessage *first = set.data()->messages.value(picture);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(QDateTime::fromSecsSinceEpoch(qint64(first->date) + 978307200, Qt::UTC).date(), QDate(2017, 11, 1));
        ASSERT_EQ(first->attachments.size(), 1);
        EXPECT_EQ(first->attachments.cbegin().value()->created_date, 531234560);
        EXPECT_EQ(first->attachments.cbegin().value()->start_date, 0);
    }
}

namespace
{

// A device's copy with picture messages whose files were copied along
// (under the source folder's Library/SMS/Attachments), one attachment shared
// by two messages, and attachment rows whose file names point elsewhere.
class AttachmentReadTest : public ::testing::Test
{
protected:
    struct Row
    {
        const char *guid;
        const char *filename;
        const char *mimeType;
        // Where the file is expected, under the source folder; empty: no path.
        const char *localPath;
        bool file; // a copy of the file is in the source folder
    };
    static const QList<Row> &rows()
    {
        static const QList<Row> table = {
            {"A1", "~/Library/SMS/Attachments/0a/10/IMG_0001.JPG", "image/jpeg",
             "file-relay/var/mobile/Library/SMS/Attachments/0a/10/IMG_0001.JPG", true},
            {"A2", "/var/mobile/Library/SMS/Attachments/0b/IMG_0002.PNG", "image/png",
             "file-relay/var/mobile/Library/SMS/Attachments/0b/IMG_0002.PNG", true},
            {"A3", "~/Library/SMS/Attachments/0c/clip.MOV", "video/quicktime",
             "file-relay/var/mobile/Library/SMS/Attachments/0c/clip.MOV", false},
            // Names no device writes: each stays inside the folder or gets
            // no path at all.
            {"H1", "~/../../etc/passwd", "text/plain", "", false},
            {"H2", "/etc/passwd", "text/plain", "file-relay/etc/passwd", false},
            {"H3", "", "image/jpeg", "", false},
            {"H4", "../../outside.jpg", "image/jpeg", "", false},
            {"H5", "Library/SMS/../../../../outside.jpg", "image/jpeg", "", false},
            {"H6", "Library/SMS/Attachments/rel.jpg", "image/jpeg", "file-relay/Library/SMS/Attachments/rel.jpg", false},
            {"H7", "~/Library/a:b?.jpg", "image/jpeg", "file-relay/var/mobile/Library/ab.jpg", false},
        };
        return table;
    }

    void SetUp() override
    {
        IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(root()), IOS6SmsDbFixture::Device, true);
        const qint64 ann = sms.addHandle(QStringLiteral("+15550000001"));
        const qint64 bob = sms.addHandle(QStringLiteral("bob@example.com"), QStringLiteral("iMessage"));
        one = sms.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
        sms.joinChatHandle(one, ann);
        group = sms.addChat(QStringLiteral("iMessage;+;chat1"), QStringLiteral("chat1"), QStringLiteral("iMessage"), 43);
        sms.joinChatHandle(group, ann);
        sms.joinChatHandle(group, bob);
        const QString mark(QChar(0xFFFC));
        picture = sms.addMessage(one, ann, QStringLiteral("M1"), QStringLiteral("Look") + mark, 100, 0);
        two = sms.addMessage(one, 0, QStringLiteral("M2"), mark + mark, 110, 1);
        forwarded = sms.addMessage(group, bob, QStringLiteral("M3"), mark, 120, 0, 0, -1, QStringLiteral("iMessage"));
        plain = sms.addMessage(group, ann, QStringLiteral("M4"), QStringLiteral("no attachments"), 130, 0);
        hostile = sms.addMessage(one, ann, QStringLiteral("M5"), QStringLiteral("odd names"), 140, 0);
        sharing = sms.addMessage(group, bob, QStringLiteral("M6"), QString(), 150, 0, 4, ann);
        unjoined = sms.addMessage(0, ann, QStringLiteral("M7"), mark, 160, 0);

        const QList<Row> &table = rows();
        for (const Row &r : table) {
            const QString guid = QLatin1String(r.guid);
            const qint64 message = guid == QLatin1String("A1")                          ? picture
                                   : guid == QLatin1String("A2") || guid == QLatin1String("A3") ? two
                                                                                                : hostile;
            ids.insert(guid, sms.addAttachment(message, guid, QString::fromUtf8(r.filename), QLatin1String(r.mimeType)));
        }
        sms.joinMessageAttachment(forwarded, ids.value(QStringLiteral("A1")));
        ids.insert(QStringLiteral("S"), sms.addAttachment(sharing, QStringLiteral("S"),
                                                          QStringLiteral("~/Library/SMS/Attachments/s.jpg"),
                                                          QStringLiteral("image/jpeg")));
        ids.insert(QStringLiteral("U"), sms.addAttachment(unjoined, QStringLiteral("U"),
                                                          QStringLiteral("~/Library/SMS/Attachments/u.jpg"),
                                                          QStringLiteral("image/jpeg")));
        sms.db().executeThrow(Sqlite3Sql("update attachment set created_date=77, start_date=78, uti='public.jpeg', "
                                         "transfer_state=5, is_outgoing=1, user_info=x'0102', transfer_name=?, "
                                         "total_bytes=4096 where guid='A1'")
                                  .addTextParam(QStringLiteral("IMG_0001.JPG")));

        IOS6SmsDbFixture::writeDeviceFile(root(), QStringLiteral("/var/mobile/Library/SMS/Attachments/0a/10/IMG_0001.JPG"),
                                          "jpeg bytes");
        IOS6SmsDbFixture::writeDeviceFile(root(), QStringLiteral("/var/mobile/Library/SMS/Attachments/0b/IMG_0002.PNG"),
                                          "png bytes");
        // What the hostile names would reach if they were followed.
        for (const char *outside : {"outside.jpg", "etc/passwd"}) {
            const QString path = dir.filePath(QLatin1String(outside));
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("outside");
        }
    }

    QDir root() const { return QDir(dir.filePath(QStringLiteral("device"))); }
    _MsgAttachment *byGuid(const MsgDataSet &set, const QString &guid) const
    {
        return set.data()->attachments.value(ids.value(guid));
    }
    static QStringList guidsOf(const MsgDataSet &set)
    {
        QStringList guids;
        for (const _MsgAttachment *a : std::as_const(set.data()->attachments))
            guids.append(a->guid);
        guids.sort();
        return guids;
    }

    QTemporaryDir dir;
    qint64 one = 0, group = 0;
    qint64 picture = 0, two = 0, forwarded = 0, plain = 0, hostile = 0, sharing = 0, unjoined = 0;
    QHash<QString, qint64> ids;
};

TEST_F(AttachmentReadTest, MessagesGetTheirAttachmentsWithTheFilesOfTheSourceFolder)
{
    IOS6MessageDb db(root(), QString(), false);
    MsgDataSet set = MsgDataSet::create();
    db.messages(set, 0);
    const QString folder = root().absoluteFilePath(QStringLiteral("file-relay")) + QLatin1Char('/');

    for (const Row &r : rows()) {
        SCOPED_TRACE(r.guid);
        const _MsgAttachment *a = byGuid(set, QLatin1String(r.guid));
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->rowid, ids.value(QLatin1String(r.guid)));
        EXPECT_EQ(a->filename, QString::fromUtf8(r.filename));
        EXPECT_EQ(a->mime_type, QLatin1String(r.mimeType));
        const QString expected = *r.localPath ? root().absoluteFilePath(QLatin1String(r.localPath)) : QString();
        EXPECT_EQ(a->_local_path, expected);
        EXPECT_EQ(QFileInfo(a->_local_path).isFile(), r.file);
        if (!a->_local_path.isEmpty()) {
            EXPECT_TRUE(QDir::cleanPath(a->_local_path).startsWith(folder)) << a->_local_path.toStdString();
        }
    }
    EXPECT_EQ(guidsOf(set).size(), rows().size())
        << "attachments of location sharing and of messages in no conversation are not read";

    const _MsgAttachment *first = byGuid(set, QStringLiteral("A1"));
    EXPECT_EQ(first->created_date, 77);
    EXPECT_EQ(first->start_date, 78);
    EXPECT_EQ(first->uti, QStringLiteral("public.jpeg"));
    EXPECT_EQ(first->transfer_state, 5);
    EXPECT_EQ(first->is_outgoing, 1);
    EXPECT_EQ(first->user_info, QByteArray("\x01\x02", 2));
    EXPECT_EQ(first->transfer_name, QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(first->total_bytes, 4096);

    // The shared attachment is one record, in both messages under its rowid.
    const auto &messages = set.data()->messages;
    const QString key = QString::number(first->rowid);
    EXPECT_EQ(messages.value(picture)->attachments.value(key), first);
    EXPECT_EQ(messages.value(forwarded)->attachments.value(key), first);
    EXPECT_EQ(messages.value(forwarded)->attachments.size(), 1);
    EXPECT_EQ(messages.value(two)->attachments.keys().size(), 2);
    EXPECT_TRUE(messages.value(plain)->attachments.isEmpty());

    struct Text
    {
        qint64 message;
        const char *text;
    };
    for (const Text &t : {Text{picture, "Look [IMAGE]"}, Text{two, "[IMAGE] [VIDEO]"}, Text{forwarded, "[IMAGE]"},
                          Text{plain, "no attachments"}}) {
        EXPECT_EQ(messageText(messages.value(t.message)), QLatin1String(t.text)) << t.text;
    }
}

TEST_F(AttachmentReadTest, EachConversationBringsItsOwnAttachmentsAndLoadsReuseThem)
{
    const QStringList hostileGuids = {"H1", "H2", "H3", "H4", "H5", "H6", "H7"};
    struct Case
    {
        const char *label;
        qint64 chatId;
        QStringList guids;
    };
    const QList<Case> cases = {
        {"the one-to-one conversation", one, QStringList({"A1", "A2", "A3"}) + hostileGuids},
        {"the group", group, {"A1"}},
        {"a conversation that does not exist", 99, {}},
        {"all", 0, QStringList({"A1", "A2", "A3"}) + hostileGuids},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        IOS6MessageDb db(root(), QString(), false);
        MsgDataSet set = MsgDataSet::create();
        db.messages(set, c.chatId);
        QStringList expected = c.guids;
        expected.sort();
        EXPECT_EQ(guidsOf(set), expected);
    }

    IOS6MessageDb db(root(), QString(), false);
    MsgDataSet set = MsgDataSet::create();
    db.messages(set, group);
    _MsgAttachment *shared = byGuid(set, QStringLiteral("A1"));
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(set.data()->messages.value(forwarded)->attachments.size(), 1);
    db.messages(set, 0);
    db.messages(set, one);
    EXPECT_EQ(byGuid(set, QStringLiteral("A1")), shared) << "no second record for a second load";
    EXPECT_EQ(set.data()->attachments.size(), 10);
    EXPECT_EQ(set.data()->messages.value(picture)->attachments.value(QString::number(shared->rowid)), shared);
    EXPECT_EQ(set.data()->messages.value(forwarded)->attachments.size(), 1);
    EXPECT_EQ(set.data()->messages.value(hostile)->attachments.size(), hostileGuids.size());
}

} // namespace
