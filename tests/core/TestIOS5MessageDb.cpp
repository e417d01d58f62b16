#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>

#include "AbsIOSMessageDb.h"
#include "AddressBookFixture.h"
#include "BplistBuilder.h"
#include "ExportMessagesDb.h"
#include "IOS5DbFixture.h"
#include "IOS5MessageDb.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "LogRecorder.h"
#include "MessageIdentity.h"
#include "MessageText.h"
#include "MsgSetBuilder.h"
#include "PlistNode.h"
#include "SqlitePageDamage.h"

namespace
{

// India (MCC 404): ten-digit mobile numbers beginning 7 to 9 get "+91".
const QString kMcc = QStringLiteral("404");
const QString kAsha = QStringLiteral("9876543210");
const QString kAshaId = QStringLiteral("+919876543210");
const QString kBina = QStringLiteral("9812345678");
const QString kBinaId = QStringLiteral("+919812345678");
const QString kChandra = QStringLiteral("9123456789");
const QString kChandraId = QStringLiteral("+919123456789");
const QString kFriend = QStringLiteral("friend@example.com");

constexpr qint64 kUnix2001 = 978307200;

QStringList sortedKeys(const QHash<QString, _MsgHandle *> &handles)
{
    QStringList keys = handles.keys();
    keys.sort();
    return keys;
}

QList<qint64> sortedKeys(const QHash<qint64, _MsgMessage *> &messages)
{
    QList<qint64> keys = messages.keys();
    std::sort(keys.begin(), keys.end());
    return keys;
}

QList<qint64> sortedHandleKeys(const MsgDataSet &set)
{
    QList<qint64> keys = set.data()->handles.keys();
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::string errorOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const std::exception &e) {
        return e.what();
    }
    return std::string();
}

// One message source folder with an iOS 5 sms.db and the reader over it.
class Source
{
public:
    explicit Source(IOS5DbFixture::Layout layout = IOS5DbFixture::Full)
        : fx(dir.path(), layout)
    {
    }
    IOS5MessageDb &reader()
    {
        if (!m_reader)
            m_reader = std::make_unique<IOS5MessageDb>(QDir(dir.path()), kMcc);
        return *m_reader;
    }
    MsgDataSet loadAll()
    {
        MsgDataSet set = MsgDataSet::create();
        reader().messages(set, 0);
        return set;
    }

    QTemporaryDir dir;
    IOS5DbFixture fx;

private:
    std::unique_ptr<IOS5MessageDb> m_reader;
};

IOS5DbFixture::Sms sms(qint64 rowid, qint64 group, qint64 unixDate, int flags = 2, const QString &address = kAsha,
                       const QString &country = QStringLiteral("in"))
{
    IOS5DbFixture::Sms s;
    s.rowid = rowid;
    s.groupId = group;
    s.date = unixDate;
    s.flags = flags;
    s.address = address;
    s.country = country;
    s.text = QStringLiteral("sms %1").arg(rowid);
    return s;
}

IOS5DbFixture::IMessage iMessage(qint64 rowid, qint64 date, const QString &handle, const QString &room = QString(),
                                 qint64 delivered = 0)
{
    IOS5DbFixture::IMessage m;
    m.rowid = rowid;
    m.date = date;
    m.handle = handle;
    m.roomName = room;
    m.dateDelivered = delivered;
    m.guid = QStringLiteral("00000000-0000-0000-0000-%1").arg(rowid, 12, 10, QLatin1Char('0'));
    m.text = QStringLiteral("imessage %1").arg(rowid);
    return m;
}

// ---------------------------------------------------------------------------
// Opening

TEST(IOS5MessageDbOpen, OpensIOS5FilesAndRefusesWhatIsNoMessageDatabase)
{
    struct Case
    {
        const char *name;
        std::function<void(const QString &path)> make; // writes the file at path
        std::string error;                             // empty: opens; "*": the wrapper's own error
    };
    auto plainDb = [](const QStringList &statements) {
        return [statements](const QString &path) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            Sqlite3DB db;
            db.openThrow(path, Sqlite3DB::ReadWriteCreate);
            for (const QString &s : statements)
                db.executeThrow(Sqlite3Sql(s));
        };
    };
    const Case cases[] = {
        {"an iOS 5 database", [](const QString &) {}, ""},
        {"an empty database", plainDb({QStringLiteral("PRAGMA user_version=1")}), "it has no table msg_group."},
        {"an address book",
         plainDb({QStringLiteral("CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY, First TEXT)")}),
         "it has no table msg_group."},
        {"a database without group_member",
         plainDb({QStringLiteral("CREATE TABLE msg_group (ROWID INTEGER PRIMARY KEY, hash INTEGER)"),
                  QStringLiteral("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, date INTEGER)")}),
         "it has no table group_member."},
        {"a database without message",
         plainDb({QStringLiteral("CREATE TABLE msg_group (ROWID INTEGER PRIMARY KEY, hash INTEGER)"),
                  QStringLiteral("CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY, address TEXT)")}),
         "it has no table message."},
        {"a file that is no SQLite database",
         [](const QString &path) {
             QFile f(path);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write(QByteArray(4096, 'x'));
         },
         "*"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Source s;
        const QString path = s.fx.dbPath();
        if (std::string(c.name) != "an iOS 5 database") {
            s.fx.db().close();
            QFile::remove(path);
            c.make(path);
        }
        // Whatever has no iOS 6 tables is sent to this reader.
        if (c.error == "*") {
            EXPECT_ANY_THROW(AbsIOSMessageDb::dbVersion(path));
        } else {
            EXPECT_EQ(AbsIOSMessageDb::dbVersion(path), 5);
        }
        const std::string error = errorOf([&] { s.reader().ensureOpen(); });
        if (c.error.empty()) {
            EXPECT_EQ(error, "");
            EXPECT_TRUE(s.reader().isOpen());
            EXPECT_EQ(s.reader().iosVersion(), 5);
            EXPECT_TRUE(s.reader().hasTable(QStringLiteral("madrid_chat")));
            continue;
        }
        EXPECT_FALSE(error.empty());
        if (c.error != "*") {
            EXPECT_NE(error.find("is not a message database: " + c.error), std::string::npos) << error;
            EXPECT_NE(error.find(path.toStdString()), std::string::npos) << error;
        }
        // Closed again, so that a later call starts over.
        EXPECT_FALSE(s.reader().isOpen());
        EXPECT_FALSE(s.reader().hasTable(QStringLiteral("msg_group")));
        MsgDataSet set = MsgDataSet::create();
        EXPECT_EQ(errorOf([&] { s.reader().chats(set); }), error);

        QFile::remove(path);
        IOS5DbFixture repaired(s.dir.path());
        EXPECT_EQ(errorOf([&] { s.reader().ensureOpen(); }), "");
        EXPECT_TRUE(s.reader().isOpen());
    }
}

TEST(IOS5MessageDbOpen, AMissingFileIsAnErrorAndIsNotCreated)
{
    QTemporaryDir dir;
    IOS5MessageDb reader(QDir(dir.path()), kMcc);
    EXPECT_FALSE(errorOf([&] { reader.ensureOpen(); }).empty());
    EXPECT_FALSE(reader.isOpen());
    EXPECT_FALSE(QFileInfo::exists(reader.dbFilePath()));
    EXPECT_EQ(reader.dbFilePath(), IOS5DbFixture::smsDbPath(dir.path()));
    EXPECT_EQ(reader.rootDir().absolutePath(), QDir(dir.path()).absoluteFilePath(QStringLiteral("file-relay")));
    EXPECT_FALSE(errorOf([&] { reader.messageCount(); }).empty());
}

TEST(IOS5MessageDbOpen, TheReadFunctionAnswersWhetherItsArgumentIsNonZero)
{
    Source s;
    s.reader().ensureOpen();
    struct Case
    {
        const char *name;
        QVariant value;
        int expected;
    };
    const Case cases[] = {
        {"zero", QVariant(0), 0},
        {"one", QVariant(1), 1},
        {"negative", QVariant(-5), 1},
        {"beyond 32 bits", QVariant(qint64(1) << 32), 1},
        {"null", QVariant(), 0},
        {"numeric text", QVariant(QStringLiteral("7")), 1},
        {"other text", QVariant(QStringLiteral("x")), 0},
        {"a fraction below one", QVariant(0.5), 0},
        {"a real above one", QVariant(2.0), 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sqlite3Cursor cur = s.reader().queryThrow(Sqlite3Sql("select read(?) as r").addParam(c.value));
        ASSERT_TRUE(cur.moveNext());
        EXPECT_EQ(cur.getInt64(QStringLiteral("r")), c.expected);
    }
}

TEST(IOS5MessageDbOpen, MessageCountCountsEveryRow)
{
    Source s;
    EXPECT_EQ(s.reader().messageCount(), 0);
    s.fx.addSms(sms(1, 1, kUnix2001));
    s.fx.addSms(sms(2, 7, kUnix2001));
    s.fx.addIMessage(iMessage(3, 10, kFriend));
    EXPECT_EQ(s.reader().messageCount(), 3);
}

// ---------------------------------------------------------------------------
// SMS conversations

TEST(IOS5MessageDbChats, SmsConversationsFromGroupsAndTheirMembers)
{
    const QString twoMemberIdentifier = makeChatIdentifier(QStringLiteral("SMS;-;") + kAshaId);
    const QString twoMemberGuid = QStringLiteral("SMS;+;") + twoMemberIdentifier;
    struct Case
    {
        const char *name;
        std::function<void(IOS5DbFixture &)> members;
        bool listed;
        QString guid;
        QString identifier;
        int style;
        QString roomName;
        QString accountId;
        QStringList memberIds;
        int handlesInSet;
    };
    auto members = [](const QList<QPair<QString, QString>> &rows) {
        return [rows](IOS5DbFixture &fx) {
            qint64 rowid = 1;
            for (const auto &r : rows)
                fx.addMember(rowid++, 1, r.first, r.second);
        };
    };
    const QString in = QStringLiteral("in");
    const Case cases[] = {
        {"a group without members", members({}), true, "SMS;-;77", "unknown", 45, "", "", {}, 0},
        {"one member", members({{kAsha, in}}), true, "SMS;-;" + kAshaId, kAshaId, 45, "", "", {kAshaId}, 1},
        {"a second distinct member makes a group", members({{kAsha, in}, {kBina, in}}), true, twoMemberGuid,
         twoMemberIdentifier, 43, twoMemberIdentifier, guidFromData(twoMemberGuid.toUtf8()), {kAshaId, kBinaId}, 2},
        {"a third member only joins", members({{kAsha, in}, {kBina, in}, {kChandra, in}}), true, twoMemberGuid,
         twoMemberIdentifier, 43, twoMemberIdentifier, guidFromData(twoMemberGuid.toUtf8()),
         {kAshaId, kBinaId, kChandraId}, 3},
        {"members whose addresses normalise alike", members({{kAsha, in}, {QStringLiteral("+91 98765 43210"), in}}),
         true, "SMS;-;" + kAshaId, kAshaId, 45, "", "", {kAshaId}, 2},
        {"each member normalised for its own country", members({{QStringLiteral("01701234567"), QStringLiteral("de")}}),
         true, "SMS;-;+491701234567", "+491701234567", 45, "", "", {"+491701234567"}, 1},
        {"an unknown country code normalises for the current country", members({{kAsha, QStringLiteral("zz")}}), true,
         "SMS;-;" + kAshaId, kAshaId, 45, "", "", {kAshaId}, 1},
        {"an e-mail member is lower-cased", members({{QStringLiteral("Friend@Example.COM"), in}}), true,
         "SMS;-;" + kFriend, kFriend, 45, "", "", {kFriend}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Source s;
        s.fx.addGroup(1, 77, 10);
        s.fx.addSms(sms(10, 1, kUnix2001 + 500));
        c.members(s.fx);
        MsgDataSet set = MsgDataSet::create();
        s.reader().chats(set);
        ASSERT_EQ(set.data()->chats.size(), c.listed ? 1 : 0);
        const _MsgChat *chat = set.data()->chats.value(1);
        ASSERT_NE(chat, nullptr);
        EXPECT_EQ(chat->rowid, 1);
        EXPECT_EQ(chat->guid, c.guid);
        EXPECT_EQ(chat->chat_identifier, c.identifier);
        EXPECT_EQ(chat->style, c.style);
        EXPECT_EQ(chat->room_name, c.roomName);
        EXPECT_EQ(chat->account_id, c.accountId);
        EXPECT_EQ(chat->state, 3);
        EXPECT_EQ(chat->service_name, "SMS");
        EXPECT_EQ(chat->account_login, "E:");
        EXPECT_EQ(chat->_last, 500);
        QStringList memberIds = c.memberIds;
        memberIds.sort();
        EXPECT_EQ(sortedKeys(chat->handles), memberIds);
        EXPECT_EQ(set.data()->handles.size(), c.handlesInSet);
        for (_MsgHandle *h : chat->handles) {
            EXPECT_EQ(set.data()->handles.value(h->rowid), h);
            EXPECT_EQ(h->service, "SMS");
            EXPECT_TRUE(h->uncanonicalized_id.isEmpty());
        }
    }
}

TEST(IOS5MessageDbChats, DuplicateMembersKeepTheirRowsAndTheConversationKeepsTheFirst)
{
    Source s;
    s.fx.addGroup(1, 5, 10);
    s.fx.addSms(sms(10, 1, kUnix2001));
    s.fx.addMember(4, 1, kAsha, QStringLiteral("in"));
    s.fx.addMember(9, 1, QStringLiteral("+91 98765 43210"), QStringLiteral("IN"));
    MsgDataSet set = MsgDataSet::create();
    s.reader().chats(set);
    EXPECT_EQ(sortedHandleKeys(set), (QList<qint64>{4, 9}));
    EXPECT_EQ(set.data()->handles.value(9)->id, kAshaId);
    EXPECT_EQ(set.data()->handles.value(9)->country, "IN");
    EXPECT_EQ(set.data()->chats.value(1)->handles.value(kAshaId), set.data()->handles.value(4));
}

TEST(IOS5MessageDbChats, WhichGroupsAreListedAndTheirLastDates)
{
    struct Case
    {
        const char *name;
        std::function<void(IOS5DbFixture &)> build;
        bool listed;
        int last;
    };
    const Case cases[] = {
        {"the newest message gives the date, shifted to 2001",
         [](IOS5DbFixture &fx) {
             fx.addGroup(1, 1, 11);
             fx.addSms(sms(10, 1, kUnix2001 + 900));
             fx.addSms(sms(11, 1, kUnix2001 + 300));
         },
         true, 300},
        {"a newest message at 1970 + 978307200 is 0",
         [](IOS5DbFixture &fx) {
             fx.addGroup(1, 1, 10);
             fx.addSms(sms(10, 1, kUnix2001));
         },
         true, 0},
        {"a group without messages is not listed", [](IOS5DbFixture &fx) { fx.addGroup(1, 1, 0); }, false, 0},
        {"a newest message that is gone: the group's newest row stands in",
         [](IOS5DbFixture &fx) {
             fx.addGroup(1, 1, 99);
             fx.addSms(sms(10, 1, kUnix2001 + 800));
             fx.addSms(sms(11, 1, kUnix2001 + 200));
         },
         true, 800},
        {"dates beyond the int range saturate",
         [](IOS5DbFixture &fx) {
             fx.addGroup(1, 1, 10);
             fx.addSms(sms(10, 1, std::numeric_limits<qint64>::max()));
         },
         true, std::numeric_limits<int>::max()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Source s;
        c.build(s.fx);
        s.fx.addMember(1, 1, kAsha, QStringLiteral("in"));
        MsgDataSet set = MsgDataSet::create();
        s.reader().chats(set);
        EXPECT_EQ(set.data()->chats.contains(1), c.listed);
        // Members of a group that is not listed are not read either.
        EXPECT_EQ(set.data()->handles.size(), c.listed ? 1 : 0);
        if (c.listed) {
            EXPECT_EQ(set.data()->chats.value(1)->_last, c.last);
        }
    }
}

// ---------------------------------------------------------------------------
// iMessage conversations

TEST(IOS5MessageDbChats, IMessageConversationsFromTheirParticipantsList)
{
    const QStringList two = {kAsha, QStringLiteral("Friend@Example.com")};
    QByteArray truncated = IOS5DbFixture::participants(two, IOS5DbFixture::Binary);
    truncated.chop(truncated.size() / 2);
    PlistNode dict = PlistNode::newDict();
    dict.dictSet(QStringLiteral("a"), PlistNode::fromString(kFriend));
    dict.dictSet(QStringLiteral("b"), PlistNode::fromString(kAsha));
    BplistBuilder mixed;
    const int number = mixed.addInt(5);
    const int address = mixed.addAscii(kFriend.toUtf8());
    const int data = mixed.addData("\x01\x02");
    const int empty = mixed.addAscii("");
    const QByteArray mixedList = mixed.build(mixed.addArray({number, address, data, empty}));

    struct Case
    {
        const char *name;
        QString identifier;
        QByteArray participants;
        int style;
        QString guid;
        QString chatIdentifier;
        QStringList memberIds;
        int handlesInSet;
    };
    const QString room = QStringLiteral("chat123456789");
    const Case cases[] = {
        {"two participants, binary list", room, IOS5DbFixture::participants(two, IOS5DbFixture::Binary), 43,
         "iMessage;+;" + room, room, {kAshaId, kFriend}, 2},
        {"two participants, XML list", room, IOS5DbFixture::participants(two, IOS5DbFixture::Xml), 43,
         "iMessage;+;" + room, room, {kAshaId, kFriend}, 2},
        {"one participant", kFriend, IOS5DbFixture::participants({kFriend}, IOS5DbFixture::Binary), 45,
         "iMessage;-;" + kFriend, kFriend, {kFriend}, 1},
        {"the identifier is normalised", kAsha, IOS5DbFixture::participants({kAsha}, IOS5DbFixture::Xml), 45,
         "iMessage;-;" + kAshaId, kAshaId, {kAshaId}, 1},
        {"an empty list keeps the row's style", room, IOS5DbFixture::participants({}, IOS5DbFixture::Binary), 43,
         "iMessage;-;" + room, room, {}, 0},
        {"empty bytes", room, QByteArray(""), 43, "iMessage;-;" + room, room, {}, 0},
        {"no participants column value", room, QByteArray(), 43, "iMessage;-;" + room, room, {}, 0},
        {"unreadable bytes", room, QByteArray("not a property list"), 43, "iMessage;-;" + room, room, {}, 0},
        {"a cut binary list", room, truncated, 43, "iMessage;-;" + room, room, {}, 0},
        {"a dictionary is no list", room, dict.toBinary(), 43, "iMessage;-;" + room, room, {}, 0},
        {"entries that are no address are left out", kFriend, mixedList, 45, "iMessage;-;" + kFriend, kFriend,
         {kFriend}, 1},
        {"participants that normalise alike: both handles, the later in the conversation", room,
         IOS5DbFixture::participants({QStringLiteral("Friend@Example.com"), kFriend}, IOS5DbFixture::Binary), 43,
         "iMessage;+;" + room, room, {kFriend}, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Source s;
        s.fx.addMadridChat(3, c.identifier, c.participants, c.style, 7, QStringLiteral("acct-1"),
                           QStringLiteral("P:me@example.com"));
        MsgDataSet set = MsgDataSet::create();
        s.reader().chats(set);
        ASSERT_EQ(set.data()->chats.size(), 1);
        const _MsgChat *chat = set.data()->chats.value(-3);
        ASSERT_NE(chat, nullptr);
        EXPECT_EQ(chat->rowid, -3);
        EXPECT_EQ(chat->guid, c.guid);
        EXPECT_EQ(chat->chat_identifier, c.chatIdentifier);
        EXPECT_EQ(chat->style, c.style);
        EXPECT_EQ(chat->state, 7);
        EXPECT_EQ(chat->account_id, "acct-1");
        EXPECT_EQ(chat->account_login, "P:me@example.com");
        EXPECT_EQ(chat->service_name, "iMessage");
        EXPECT_EQ(chat->_last, 0);
        EXPECT_EQ(sortedKeys(chat->handles), c.memberIds);
        EXPECT_EQ(set.data()->handles.size(), c.handlesInSet);
        for (_MsgHandle *h : set.data()->handles) {
            EXPECT_EQ(h->service, "iMessage");
            EXPECT_TRUE(h->country.isEmpty());
            EXPECT_TRUE(h->uncanonicalized_id.isEmpty());
        }
        if (c.memberIds.size() == 1 && c.handlesInSet == 2) {
            EXPECT_EQ(chat->handles.value(kFriend), set.data()->handles.value(-2));
        }
    }
}

TEST(IOS5MessageDbChats, ParticipantsGetKeysBelowEveryHandleOfTheSet)
{
    struct Case
    {
        const char *name;
        QList<qint64> existing;
        QList<qint64> expected; // keys of the two participants
    };
    const Case cases[] = {
        {"an empty set", {}, {-1, -2}},
        {"ten handles: the next is -11", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {-11, -12}},
        {"a key that is taken is passed over", {5, -3}, {-4, -5}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Source s;
        s.fx.addMadridChat(7, QStringLiteral("chat77"),
                           IOS5DbFixture::participants({kFriend, kAsha}, IOS5DbFixture::Binary), 43);
        MsgSetBuilder b;
        QHash<qint64, _MsgHandle *> before;
        for (qint64 key : c.existing)
            before.insert(key, b.handle(nullptr, key, QStringLiteral("existing%1").arg(key)));
        MsgDataSet set = b.set();
        s.reader().chats(set);
        const _MsgChat *chat = set.data()->chats.value(-7);
        ASSERT_NE(chat, nullptr);
        ASSERT_EQ(chat->handles.size(), 2);
        EXPECT_EQ(chat->handles.value(kFriend)->rowid, c.expected.at(0));
        EXPECT_EQ(chat->handles.value(kAshaId)->rowid, c.expected.at(1));
        EXPECT_EQ(set.data()->handles.value(c.expected.at(0)), chat->handles.value(kFriend));
        // Nothing of the set was replaced.
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            EXPECT_EQ(set.data()->handles.value(it.key()), it.value());
    }
}

TEST(IOS5MessageDbChats, ConversationsDoNotShareParticipants)
{
    Source s;
    s.fx.addMadridChat(1, kFriend, IOS5DbFixture::participants({kFriend}, IOS5DbFixture::Binary));
    s.fx.addMadridChat(2, QStringLiteral("chat2"), IOS5DbFixture::participants({kFriend, kAsha}, IOS5DbFixture::Xml),
                       43);
    s.fx.addMadridChat(0, QStringLiteral("chat0"), IOS5DbFixture::participants({kBina}, IOS5DbFixture::Xml));
    MsgDataSet set = MsgDataSet::create();
    s.reader().chats(set);
    // A rowid that cannot be negated into an iMessage id is not listed.
    EXPECT_EQ(set.data()->chats.keys().size(), 2);
    const _MsgHandle *one = set.data()->chats.value(-1)->handles.value(kFriend);
    const _MsgHandle *two = set.data()->chats.value(-2)->handles.value(kFriend);
    ASSERT_TRUE(one && two);
    EXPECT_NE(one, two);
    EXPECT_EQ(one->rowid, -1);
    EXPECT_EQ(two->rowid, -2);
    EXPECT_EQ(set.data()->chats.value(-2)->handles.value(kAshaId)->rowid, -3);
}

TEST(IOS5MessageDbChats, IMessageLastDatesByRoomAndByHandleUnshifted)
{
    Source s;
    s.fx.addMadridChat(1, QStringLiteral("chat111"), IOS5DbFixture::participants({kFriend, kAsha}, IOS5DbFixture::Binary),
                       43);
    s.fx.addMadridChat(2, kFriend, IOS5DbFixture::participants({kFriend}, IOS5DbFixture::Binary));
    s.fx.addMadridChat(3, kBinaId, IOS5DbFixture::participants({kBinaId}, IOS5DbFixture::Binary));
    s.fx.addMadridChat(4, kAshaId, IOS5DbFixture::participants({kAsha}, IOS5DbFixture::Binary));
    s.fx.addIMessage(iMessage(1, 100, kAsha, QStringLiteral("chat111")));
    s.fx.addIMessage(iMessage(2, 300, kAsha, QStringLiteral("chat111")));
    // Addresses compare in normalised form: letter case and national numbers.
    s.fx.addIMessage(iMessage(3, 250, QStringLiteral("Friend@Example.com")));
    s.fx.addIMessage(iMessage(4, 200, kFriend));
    // An SMS row never counts for an iMessage conversation.
    s.fx.addGroup(1, 1, 5);
    s.fx.addSms(sms(5, 1, kUnix2001 + 99999, 2, kBinaId));
    MsgDataSet set = MsgDataSet::create();
    s.reader().chats(set);
    const auto &chats = set.data()->chats;
    EXPECT_EQ(chats.value(-1)->_last, 300);
    EXPECT_EQ(chats.value(-2)->_last, 250);
    EXPECT_EQ(chats.value(-3)->_last, 0);
    EXPECT_EQ(chats.value(-4)->_last, 300); // kAsha's handle names rows 1 and 2
    EXPECT_EQ(chats.value(1)->_last, 99999);
}

TEST(IOS5MessageDbChats, WithoutIMessageTablesOnlySmsConversations)
{
    for (IOS5DbFixture::Layout layout : {IOS5DbFixture::WithoutMadridChat, IOS5DbFixture::BeforeIMessage}) {
        SCOPED_TRACE(layout);
        Source s(layout);
        s.fx.addGroup(1, 1, 10);
        s.fx.addMember(1, 1, kAsha, QStringLiteral("in"));
        s.fx.addSms(sms(10, 1, kUnix2001 + 5, 3));
        if (layout == IOS5DbFixture::WithoutMadridChat) {
            // With the same identifier as the SMS conversation, and with none.
            s.fx.addIMessage(iMessage(11, 40, kAsha));
            s.fx.addIMessage(iMessage(12, 50, kFriend));
        }
        MsgDataSet set = s.loadAll();
        EXPECT_FALSE(s.reader().hasTable(QStringLiteral("madrid_chat")));
        EXPECT_EQ(set.data()->chats.keys(), QList<qint64>{1});
        const _MsgChat *chat = set.data()->chats.value(1);
        EXPECT_EQ(chat->_last, 5);
        const _MsgMessage *m = set.data()->messages.value(10);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->service, "SMS");
        EXPECT_EQ(m->date, 5);
        EXPECT_EQ(m->is_from_me, 1);
        EXPECT_EQ(m->chat, chat);
        if (layout == IOS5DbFixture::WithoutMadridChat) {
            EXPECT_EQ(set.data()->messages.size(), 3);
            EXPECT_EQ(set.data()->messages.value(11)->chat, chat);
            EXPECT_EQ(set.data()->messages.value(11)->sender, chat->handles.value(kAshaId));
            EXPECT_EQ(set.data()->messages.value(12)->chat, nullptr);
            EXPECT_EQ(set.data()->messages.value(12)->date, 50);
        }
        // No conversation has a negative id here; asking for one reads nothing.
        MsgDataSet other = MsgDataSet::create();
        s.reader().messages(other, -1);
        EXPECT_TRUE(other.data()->messages.isEmpty());
    }
}

TEST(IOS5MessageDbChats, ContactNamesAndPhotosFromTheAddressBook)
{
    Source s;
    AddressBookFixture book(s.dir.path());
    book.addPerson(1, QStringLiteral("Asha"), QString(), QStringLiteral("Rao"));
    book.addValue(1, kAsha);
    book.addThumbnail(1, QByteArray("\x89PNG-asha"));
    book.write();
    s.fx.addGroup(1, 1, 10);
    s.fx.addSms(sms(10, 1, kUnix2001));
    s.fx.addMember(1, 1, kAsha, QStringLiteral("in"));
    s.fx.addMember(2, 1, kBina, QStringLiteral("in"));
    s.fx.addMadridChat(1, QStringLiteral("chat1"), IOS5DbFixture::participants({kAsha, kFriend}, IOS5DbFixture::Xml), 43);
    MsgDataSet set = MsgDataSet::create();
    s.reader().chats(set);
    for (qint64 chatId : {qint64(1), qint64(-1)}) {
        const _MsgHandle *asha = set.data()->chats.value(chatId)->handles.value(kAshaId);
        ASSERT_NE(asha, nullptr);
        EXPECT_EQ(asha->_ct_name, "Asha Rao");
        EXPECT_EQ(asha->_photo, QByteArray("\x89PNG-asha"));
    }
    EXPECT_TRUE(set.data()->chats.value(1)->handles.value(kBinaId)->_ct_name.isEmpty());
    EXPECT_EQ(set.data()->chats.value(1)->displayName(false), "Asha Rao, " + kBinaId);
}

TEST(IOS5MessageDbChats, AnUnusableAddressBookLeavesTheNamesEmpty)
{
    Source s;
    AddressBookFixture book(s.dir.path());
    QDir().mkpath(QFileInfo(book.addressBookPath()).path());
    {
        QFile f(book.addressBookPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(2048, '\x07'));
    }
    s.fx.addGroup(1, 1, 10);
    s.fx.addSms(sms(10, 1, kUnix2001));
    s.fx.addMember(1, 1, kAsha, QStringLiteral("in"));
    RebuildCounter rebuilds;
    MsgDataSet set = MsgDataSet::create();
    EXPECT_EQ(errorOf([&] { s.reader().chats(set); }), "");
    ASSERT_TRUE(set.data()->chats.contains(1));
    EXPECT_TRUE(set.data()->chats.value(1)->handles.value(kAshaId)->_ct_name.isEmpty());
    // Loading conversation after conversation does not build it again each time.
    for (qint64 chatId : {qint64(1), qint64(0), qint64(1)})
        EXPECT_EQ(errorOf([&] { s.reader().messages(set, chatId); }), "");
    EXPECT_EQ(rebuilds.count(), 1);
}

// ---------------------------------------------------------------------------
// Messages

// Two SMS conversations (one to one, and a group) and two iMessage ones (one
// to one, and a room), with messages in each and one outside them all.
class MessagesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        IOS5DbFixture &fx = s.fx;
        fx.begin();
        fx.addGroup(1, 11, 11);
        fx.addMember(1, 1, kAsha, QStringLiteral("in"));
        fx.addGroup(2, 22, 22);
        fx.addMember(2, 2, kAsha, QStringLiteral("in"));
        fx.addMember(3, 2, kBina, QStringLiteral("in"));
        fx.addMadridChat(1, kFriend, IOS5DbFixture::participants({kFriend}, IOS5DbFixture::Binary));
        fx.addMadridChat(2, QStringLiteral("chat222"), IOS5DbFixture::participants({kFriend, kBina}, IOS5DbFixture::Xml),
                         43);

        fx.addSms(sms(10, 1, kUnix2001, 3));
        fx.addSms(sms(11, 1, kUnix2001 + 60, 2));
        fx.addSms(sms(20, 2, kUnix2001 + 100, 3));
        fx.addSms(sms(21, 2, kUnix2001 + 110, 2, kBina));
        fx.addSms(sms(22, 2, kUnix2001 + 120, 2, kChandra));
        fx.addIMessage(iMessage(30, 5000, kFriend));
        fx.addIMessage(iMessage(31, 5050, kFriend, QString(), 5100));
        fx.addIMessage(iMessage(40, 6000, kBina, QStringLiteral("chat222")));
        fx.addIMessage(iMessage(41, 6100, kFriend, QStringLiteral("chat222"), 6200));
        fx.addSms(sms(50, 9, kUnix2001 + 7000, 2));
        fx.commit();
    }

    Source s;
};

TEST_F(MessagesTest, DirectionDatesConversationAndSenderOfEachRow)
{
    struct Case
    {
        qint64 rowid;
        qint64 chat; // 0: none
        int fromMe;
        int date;
        int dateRead;
        int dateDelivered;
        const char *service;
        QString sender; // empty: none
    };
    const Case cases[] = {
        // SMS: flags 3 is from me, dates shift by 978307200; one member is the
        // sender whichever the direction.
        {10, 1, 1, 0, 0, 0, "SMS", kAshaId},
        {11, 1, 0, 60, 60, 60, "SMS", kAshaId},
        // In a group: nobody for what I sent, the member of the row's address
        // for what came in, nobody for an address that is no member.
        {20, 2, 1, 100, 100, 100, "SMS", ""},
        {21, 2, 0, 110, 110, 110, "SMS", kBinaId},
        {22, 2, 0, 120, 120, 120, "SMS", ""},
        // iMessage: dates as stored; delivered means from me.
        {30, -1, 0, 5000, 0, 0, "iMessage", kFriend},
        {31, -1, 1, 5050, 0, 5100, "iMessage", kFriend},
        {40, -2, 0, 6000, 0, 0, "iMessage", kBinaId},
        {41, -2, 1, 6100, 0, 6200, "iMessage", ""},
        // A group the database does not list.
        {50, 0, 0, 7000, 7000, 7000, "SMS", ""},
    };
    MsgDataSet set = s.loadAll();
    const auto &d = *set.data();
    EXPECT_EQ(d.messages.size(), int(std::size(cases)));
    EXPECT_EQ(d.chats.size(), 4); // nothing was added for group 9
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rowid);
        const _MsgMessage *m = d.messages.value(c.rowid);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->rowid, c.rowid);
        EXPECT_EQ(m->_key, c.rowid);
        EXPECT_EQ(m->is_from_me, c.fromMe);
        EXPECT_EQ(m->date, c.date);
        EXPECT_EQ(m->date_read, c.dateRead);
        EXPECT_EQ(m->date_delivered, c.dateDelivered);
        EXPECT_EQ(m->service, c.service);
        EXPECT_EQ(m->chat, c.chat ? d.chats.value(c.chat) : nullptr);
        if (c.chat) {
            EXPECT_EQ(m->chat->messages.value(QString::number(c.rowid)), m);
        }
        EXPECT_EQ(m->sender ? m->sender->id : QString(), c.sender);
        EXPECT_EQ(m->other, nullptr);
        EXPECT_EQ(m->handle_id, 0);
        EXPECT_TRUE(m->attachments.isEmpty());
    }
}

TEST_F(MessagesTest, FieldsOfAnSmsAndOfAnIMessageRow)
{
    IOS5DbFixture::Sms full = sms(60, 1, kUnix2001 + 1, 2);
    full.subject = QStringLiteral("Subject");
    full.svcCenter = QStringLiteral("+919000000000");
    full.text = QStringLiteral("Hello \u00e9 \U0001F600");
    s.fx.addSms(full);
    IOS5DbFixture::IMessage rich = iMessage(61, 9, kFriend);
    rich.account = QStringLiteral("e:me@example.com");
    rich.accountGuid = QStringLiteral("ACCOUNT-GUID");
    rich.error = 4;
    rich.dateRead = 12;
    rich.attributedBody = QByteArray("streamtyped\x81\x00", 13);
    s.fx.addIMessage(rich);

    MsgDataSet set = s.loadAll();
    const _MsgMessage *a = set.data()->messages.value(60);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text, full.text);
    EXPECT_EQ(a->subject, "Subject");
    EXPECT_EQ(a->service_center, "+919000000000");
    EXPECT_EQ(a->country, "in");
    EXPECT_EQ(a->account, "e:");
    EXPECT_EQ(a->error, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(a->guid)
                    .hasMatch())
        << qPrintable(a->guid);
    EXPECT_NE(a->guid, set.data()->messages.value(10)->guid);

    const _MsgMessage *b = set.data()->messages.value(61);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->guid, rich.guid);
    EXPECT_EQ(b->account, "e:me@example.com");
    EXPECT_EQ(b->account_guid, "ACCOUNT-GUID");
    EXPECT_EQ(b->error, 4);
    EXPECT_EQ(b->date_read, 12);
    EXPECT_EQ(b->attributedBody, rich.attributedBody);

    // What the iOS 6 tables would say of a message that was sent and read.
    for (const _MsgMessage *m : {a, b}) {
        EXPECT_EQ(m->version, 10);
        EXPECT_EQ(m->is_finished, 1);
        EXPECT_EQ(m->is_prepared, 1);
        EXPECT_EQ(m->is_read, 1);
        EXPECT_EQ(m->is_sent, 1);
        EXPECT_EQ(m->was_data_detected, 1);
        EXPECT_EQ(m->is_delivered, 0);
        EXPECT_EQ(m->item_type, 0);
        EXPECT_FALSE(m->_deleted);
    }
}

TEST_F(MessagesTest, TheConversationIdSelectsTheMessages)
{
    struct Case
    {
        const char *name;
        qint64 chatId;
        QList<qint64> expected;
    };
    const Case cases[] = {
        {"an SMS conversation", 1, {10, 11}},
        {"an SMS group", 2, {20, 21, 22}},
        {"an iMessage conversation, by handle", -1, {30, 31, 41}},
        {"an iMessage room", -2, {40, 41}},
        {"all", 0, {10, 11, 20, 21, 22, 30, 31, 40, 41, 50}},
        {"a group the database lacks", 99, {}},
        {"an iMessage conversation the database lacks", -99, {}},
        {"the lowest id", std::numeric_limits<qint64>::min(), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MsgDataSet set = MsgDataSet::create();
        s.reader().messages(set, c.chatId);
        EXPECT_EQ(sortedKeys(set.data()->messages), c.expected);
        // The conversations come along in every case.
        EXPECT_EQ(set.data()->chats.size(), 4);
    }
}

TEST_F(MessagesTest, RepeatedLoadsAddNothingTwice)
{
    MsgDataSet once = s.loadAll();

    MsgDataSet set = MsgDataSet::create();
    s.reader().chats(set);
    const QList<qint64> handleKeys = sortedHandleKeys(set);
    s.reader().chats(set);
    EXPECT_EQ(sortedHandleKeys(set), handleKeys);
    s.reader().messages(set, 1);
    const _MsgMessage *first = set.data()->messages.value(10);
    const _MsgChat *chat = set.data()->chats.value(1);
    for (qint64 chatId : {qint64(1), qint64(-1), qint64(-2), qint64(2), qint64(0), qint64(0)})
        s.reader().messages(set, chatId);
    s.reader().chats(set);

    EXPECT_EQ(sortedKeys(set.data()->messages), sortedKeys(once.data()->messages));
    EXPECT_EQ(sortedHandleKeys(set), handleKeys);
    EXPECT_EQ(sortedHandleKeys(set), sortedHandleKeys(once));
    EXPECT_EQ(set.data()->chats.keys().size(), once.data()->chats.keys().size());
    for (_MsgChat *c : once.chatList()) {
        SCOPED_TRACE(c->rowid);
        const _MsgChat *again = set.data()->chats.value(c->rowid);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->messages.size(), c->messages.size());
        EXPECT_EQ(sortedKeys(again->handles), sortedKeys(c->handles));
        EXPECT_EQ(again->guid, c->guid);
        EXPECT_EQ(again->_last, c->_last);
    }
    // The records of the first load are the ones that stay.
    EXPECT_EQ(set.data()->messages.value(10), first);
    EXPECT_EQ(set.data()->chats.value(1), chat);
    EXPECT_EQ(first->guid, set.data()->messages.value(10)->guid);
}

TEST_F(MessagesTest, AnIMessageStaysInItsIMessageConversation)
{
    // An SMS conversation with the same correspondent as iMessage
    // conversation -1 does not take its messages.
    s.fx.addGroup(3, 33, 70);
    s.fx.addMember(4, 3, kFriend, QStringLiteral("in"));
    s.fx.addSms(sms(70, 3, kUnix2001 + 1, 2, kFriend));
    MsgDataSet set = s.loadAll();
    ASSERT_EQ(set.data()->chats.value(3)->chat_identifier, kFriend);
    EXPECT_EQ(set.data()->messages.value(30)->chat, set.data()->chats.value(-1));
    EXPECT_EQ(set.data()->messages.value(70)->chat, set.data()->chats.value(3));
}

TEST(IOS5MessageDbMessages, ANullSetIsRefused)
{
    Source s;
    MsgDataSet none;
    EXPECT_NE(errorOf([&] { s.reader().chats(none); }), "");
    EXPECT_NE(errorOf([&] { s.reader().messages(none, 0); }), "");
}

TEST(IOS5MessageDbMessages, AHundredThousandMessagesLoadInOnePass)
{
    Source s;
    constexpr int kGroups = 500;
    constexpr int kMessages = 100000;
    s.fx.begin();
    for (int g = 1; g <= kGroups; ++g) {
        s.fx.addGroup(g, g, kMessages - kGroups + g);
        s.fx.addMember(g, g, QStringLiteral("98%1").arg(g, 8, 10, QLatin1Char('0')), QStringLiteral("in"));
    }
    for (int r = 1; r <= kMessages; ++r) {
        const int g = (r - 1) % kGroups + 1;
        s.fx.addSms(sms(r, g, kUnix2001 + r, r % 2 ? 3 : 2, QStringLiteral("98%1").arg(g, 8, 10, QLatin1Char('0'))));
    }
    s.fx.commit();

    QElapsedTimer timer;
    timer.start();
    MsgDataSet set = s.loadAll();
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(set.data()->messages.size(), kMessages);
    EXPECT_EQ(set.data()->chats.size(), kGroups);
    for (const _MsgChat *chat : set.chatList())
        EXPECT_EQ(chat->messages.size(), kMessages / kGroups);
    EXPECT_EQ(s.reader().messageCount(), kMessages);
    RecordProperty("load_ms", int(elapsed));
}

// ---------------------------------------------------------------------------
// MMS parts

namespace
{

const QChar kPlace(0xFFFC);

IOS5DbFixture::Piece piece(qint64 rowid, qint64 message, qint64 part, const QString &type, const QByteArray &data,
                           const QString &location = QString())
{
    IOS5DbFixture::Piece p;
    p.rowid = rowid;
    p.messageId = message;
    p.partId = part;
    p.contentType = type;
    p.data = data;
    p.contentLoc = location;
    return p;
}

// Writes a part's file where the phone keeps it.
QString writePartFile(const QString &source, const QString &relative, const QByteArray &bytes)
{
    return IOS6SmsDbFixture::writeDeviceFile(QDir(source), QStringLiteral("/var/mobile/Library/SMS/Parts/") + relative,
                                             bytes);
}

QString lastComponent(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

// The same MMS, a text part and a picture, as an iOS 5 phone keeps it (parts
// in msg_pieces, the picture under Library/SMS/Parts) and as an iOS 6 phone
// keeps it (text with the attachment's place, an attachment row, the picture
// under Library/SMS/Attachments): both readers make the same record, so the
// message has one fingerprint whichever generation it was read from.
TEST(IOS5MessageDbParts, AnMmsReadsAsTheSameMessageThroughBothGenerations)
{
    const QByteArray picture = QByteArray("\xFF\xD8\xFF\xE0 a picture", 14);
    const int date = 400000000;

    Source five;
    five.fx.addGroup(1, 11, 10);
    five.fx.addMember(1, 1, kAsha, QStringLiteral("in"));
    IOS5DbFixture::Sms mms = sms(10, 1, kUnix2001 + date, 2);
    five.fx.addSms(mms);
    five.fx.db().executeThrow(Sqlite3Sql("update message set text=NULL where ROWID=10"));
    five.fx.addPiece(piece(7, 10, 0, QStringLiteral("text/plain"), "Look at this", QStringLiteral("text_0000.txt")));
    five.fx.addPiece(piece(8, 10, 1, QStringLiteral("image/jpeg"), QByteArray(), QStringLiteral("IMG_3616.jpg")));
    const QString fiveFile = writePartFile(five.dir.path(), QStringLiteral("2f/10/10-1.jpg"), picture);
    writePartFile(five.dir.path(), QStringLiteral("2f/10/10-1-preview.jpg"), "a preview");

    QTemporaryDir sixDir;
    const QDir sixRoot(sixDir.path());
    {
        IOS6SmsDbFixture six(IOS6SmsDbFixture::smsDbPath(sixRoot), IOS6SmsDbFixture::Device, true);
        const qint64 handle = six.addHandle(kAsha, QStringLiteral("SMS"), QStringLiteral("in"));
        const qint64 chat = six.addChat(QStringLiteral("SMS;-;") + kAshaId, kAshaId);
        six.joinChatHandle(chat, handle);
        const qint64 message = six.addMessage(chat, handle, QStringLiteral("0F2C61A4-9B1E-4C55-8D5A-3E0B7C2D9A11"),
                                              QStringLiteral("Look at this") + kPlace, date, 0);
        const QString guid = QStringLiteral("5A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
        const QString filename = QStringLiteral("~/Library/SMS/Attachments/2f/10/%1/IMG_3616.jpg").arg(guid);
        const qint64 attachment = six.addAttachment(message, guid, filename, QStringLiteral("image/jpeg"));
        six.db().executeThrow(Sqlite3Sql("update attachment set transfer_name='IMG_3616.jpg', total_bytes=?,"
                                         " created_date=?, is_outgoing=0 where ROWID=?")
                                  .addInt64Param(picture.size())
                                  .addIntParam(date)
                                  .addInt64Param(attachment));
        six.db().executeThrow(
            Sqlite3Sql("update message set cache_has_attachments=1 where ROWID=?").addInt64Param(message));
        IOS6SmsDbFixture::writeDeviceFile(
            sixRoot, QStringLiteral("/var/mobile/Library/SMS/Attachments/2f/10/%1/IMG_3616.jpg").arg(guid), picture);
    }

    MsgDataSet fiveSet = five.loadAll();
    MsgDataSet sixSet = MsgDataSet::create();
    IOS6MessageDb sixReader(sixRoot, kMcc, false);
    sixReader.messages(sixSet, 0);

    ASSERT_EQ(fiveSet.data()->messages.size(), 1);
    ASSERT_EQ(sixSet.data()->messages.size(), 1);
    const _MsgMessage *a = fiveSet.messageList().first();
    const _MsgMessage *b = sixSet.messageList().first();
    for (const _MsgMessage *m : {a, b}) {
        SCOPED_TRACE(m->guid.toStdString());
        EXPECT_EQ(m->cleanText(), QStringLiteral("Look at this"));
        EXPECT_EQ(m->text.count(kPlace), 1);
        EXPECT_EQ(m->service, QStringLiteral("SMS"));
        EXPECT_EQ(m->date, date);
        EXPECT_EQ(m->is_from_me, 0);
        EXPECT_EQ(m->cache_has_attachments, 1);
        ASSERT_NE(m->sender, nullptr);
        EXPECT_EQ(m->sender->id, kAshaId);
        EXPECT_EQ(messageText(m), QStringLiteral("Look at this [IMAGE]"));
        const QList<_MsgAttachment *> parts = m->attachmentIds();
        ASSERT_EQ(parts.size(), 1);
        const _MsgAttachment *p = parts.first();
        EXPECT_EQ(p->transfer_name, QStringLiteral("IMG_3616.jpg"));
        EXPECT_EQ(p->mime_type, QStringLiteral("image/jpeg"));
        EXPECT_EQ(lastComponent(p->filename), QStringLiteral("IMG_3616.jpg"));
        EXPECT_TRUE(p->filename.startsWith(QStringLiteral("~/Library/SMS/Attachments/"))) << p->filename.toStdString();
        EXPECT_EQ(p->created_date, date);
        EXPECT_EQ(p->is_outgoing, 0);
        EXPECT_EQ(p->total_bytes, picture.size());
        QFile file(p->_local_path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << p->_local_path.toStdString();
        EXPECT_EQ(file.readAll(), picture);
        EXPECT_FALSE(p->guid.isEmpty());
    }
    EXPECT_EQ(a->attachmentIds().first()->_local_path, fiveFile);
    EXPECT_EQ(messageFingerprint(a), messageFingerprint(b));

    // Read again, the iOS 5 message has another guid, as every SMS row gets,
    // but its picture keeps its own.
    MsgDataSet again = MsgDataSet::create();
    IOS5MessageDb(QDir(five.dir.path()), kMcc).messages(again, 0);
    ASSERT_EQ(again.data()->messages.size(), 1);
    const _MsgMessage *a2 = again.messageList().first();
    ASSERT_EQ(a2->attachmentIds().size(), 1);
    EXPECT_EQ(a2->attachmentIds().first()->guid, a->attachmentIds().first()->guid);
    EXPECT_EQ(a2->attachmentIds().first()->filename, a->attachmentIds().first()->filename);
    EXPECT_EQ(messageFingerprint(a2), messageFingerprint(a));

    // Backed up into one local database from both generations, and from the
    // iOS 5 one twice, the message is stored once, with its text and its
    // picture.
    QTemporaryDir localDir;
    const QDir local(localDir.path());
    for (const _MsgMessage *m : {a, b, a2}) {
        ExportMessagesDb exporter(local, QString());
        exporter.begin();
        exporter.write(m);
        exporter.end();
    }
    MsgDataSet back = MsgDataSet::create();
    IOS6MessageDb localReader(local, QString(), true);
    localReader.messages(back, 0);
    ASSERT_EQ(back.data()->messages.size(), 1);
    const _MsgMessage *stored = back.messageList().first();
    EXPECT_EQ(stored->text, a->text);
    EXPECT_EQ(messageFingerprint(stored), messageFingerprint(a));
    ASSERT_EQ(stored->attachmentIds().size(), 1);
    EXPECT_EQ(back.data()->attachments.size(), 1);
    const _MsgAttachment *kept = stored->attachmentIds().first();
    EXPECT_EQ(kept->transfer_name, QStringLiteral("IMG_3616.jpg"));
    EXPECT_EQ(kept->mime_type, QStringLiteral("image/jpeg"));
    QFile copy(kept->_local_path);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly)) << kept->_local_path.toStdString();
    EXPECT_EQ(copy.readAll(), picture);
}

// How the parts of each kind of MMS make its text and attachments.
TEST(IOS5MessageDbParts, TextPartsMakeTheTextAndEveryOtherPartAnAttachment)
{
    Source s;
    IOS5DbFixture &fx = s.fx;
    fx.begin();
    fx.addGroup(1, 11, 19);
    fx.addMember(1, 1, kAsha, QStringLiteral("in"));
    fx.addGroup(2, 22, 30);
    fx.addMember(2, 2, kBina, QStringLiteral("in"));
    for (qint64 r = 10; r <= 19; ++r)
        fx.addSms(sms(r, 1, kUnix2001 + r, r == 12 ? 3 : 2));
    fx.addSms(sms(30, 2, kUnix2001 + 30));
    fx.db().executeThrow(Sqlite3Sql("update message set text=NULL where ROWID in (10, 11, 12, 14, 15, 16, 17, 30)"));
    fx.addMadridChat(1, kFriend, IOS5DbFixture::participants({kFriend}, IOS5DbFixture::Binary));
    fx.addIMessage(iMessage(40, 6000, kFriend));

    // Inserted out of their order in the message: part_id orders them.
    fx.addPiece(piece(102, 10, 1, QStringLiteral("image/jpeg"), QByteArray(), QStringLiteral("IMG_0001.JPG")));
    fx.addPiece(piece(101, 10, 0, QStringLiteral("text/plain"), "Look"));
    fx.addPiece(piece(103, 10, 2, QStringLiteral("application/smil"), "<smil/>", QStringLiteral("smil.xml")));
    // A picture first, then text with a charset.
    fx.addPiece(piece(110, 11, 0, QStringLiteral("IMAGE/PNG"), QByteArray(), QStringLiteral("drawing.png")));
    fx.addPiece(piece(111, 11, 1, QStringLiteral("text/plain; charset=utf-8"), "Hi \xC3\xA9t\xC3\xA9"));
    // Two text parts, sent by me, and a clip.
    fx.addPiece(piece(120, 12, 0, QStringLiteral("text/plain"), "first"));
    fx.addPiece(piece(121, 12, 1, QStringLiteral("text/plain"), "second"));
    fx.addPiece(piece(122, 12, 2, QStringLiteral("video/3gpp"), QByteArray(), QStringLiteral("clip.3gp")));
    // A picture alone: the message's own text stays.
    fx.addPiece(piece(130, 13, 0, QStringLiteral("image/gif"), QByteArray(), QStringLiteral("anim.gif")));
    // Names that are no plain file names, and none at all.
    fx.addPiece(piece(140, 14, 0, QStringLiteral("image/jpeg"), QByteArray(), QStringLiteral("../../etc/pass:wd")));
    fx.addPiece(piece(141, 14, 1, QStringLiteral("image/jpeg"), QByteArray(), QStringLiteral("..")));
    fx.addPiece(piece(142, 14, 2, QStringLiteral("image/jpeg"), QByteArray()));
    // Nothing but the layout.
    fx.addPiece(piece(150, 15, 0, QStringLiteral("application/smil"), "<smil/>"));
    // Parts of a message no conversation holds, and of none at all.
    fx.addPiece(piece(300, 30, 0, QStringLiteral("text/plain"), "other conversation"));
    fx.addPiece(piece(900, 99, 0, QStringLiteral("text/plain"), "no message"));
    fx.commit();
    writePartFile(s.dir.path(), QStringLiteral("0a/01/10-1.jpg"), "jpeg");
    writePartFile(s.dir.path(), QStringLiteral("0b/02/11-0.png"), "png!");
    writePartFile(s.dir.path(), QStringLiteral("0b/02/14-2.jpg"), "unnamed");

    struct Part
    {
        QString name;
        QString type;
        QByteArray file; // empty: the source folder holds none
    };
    struct Case
    {
        qint64 rowid;
        QString text;
        QList<Part> parts;
    };
    const Case cases[] = {
        {10, QStringLiteral("Look") + kPlace, {{"IMG_0001.JPG", "image/jpeg", "jpeg"}}},
        {11, kPlace + QStringLiteral("Hi \u00e9t\u00e9"), {{"drawing.png", "image/png", "png!"}}},
        {12, QStringLiteral("first\nsecond") + kPlace, {{"clip.3gp", "video/3gpp", ""}}},
        {13, QStringLiteral("sms 13") + kPlace, {{"anim.gif", "image/gif", ""}}},
        {14,
         QString(3, kPlace),
         {{"passwd", "image/jpeg", ""}, {"14-1", "image/jpeg", ""}, {"14-2.jpg", "image/jpeg", "unnamed"}}},
        {15, QString(), {}},
        {16, QString(), {}},
        {17, QString(), {}},
        {18, QStringLiteral("sms 18"), {}},
    };

    for (const qint64 chatId : {qint64(1), qint64(0)}) {
        SCOPED_TRACE(chatId);
        MsgDataSet set = MsgDataSet::create();
        s.reader().messages(set, chatId);
        // A second load adds nothing twice.
        s.reader().messages(set, chatId);
        int attachments = 0;
        for (const Case &c : cases) {
            SCOPED_TRACE(c.rowid);
            const _MsgMessage *m = set.data()->messages.value(c.rowid);
            ASSERT_NE(m, nullptr);
            EXPECT_EQ(m->text, c.text);
            EXPECT_EQ(m->cache_has_attachments, c.parts.isEmpty() ? 0 : 1);
            const QList<_MsgAttachment *> got = m->attachmentIds();
            ASSERT_EQ(got.size(), c.parts.size());
            attachments += int(got.size());
            for (int i = 0; i < got.size(); ++i) {
                SCOPED_TRACE(i);
                const _MsgAttachment *a = got[i];
                const Part &want = c.parts[i];
                EXPECT_EQ(a->transfer_name, want.name);
                EXPECT_EQ(a->mime_type, want.type);
                EXPECT_EQ(a->filename, QStringLiteral("~/Library/SMS/Attachments/%1/%2").arg(a->guid, want.name));
                EXPECT_EQ(IOS6MessageDb::attachmentRelativePath(a->filename),
                          QStringLiteral("var/mobile/Library/SMS/Attachments/%1/%2").arg(a->guid, want.name));
                EXPECT_EQ(a->is_outgoing, m->is_from_me);
                EXPECT_EQ(a->created_date, m->date);
                EXPECT_EQ(set.data()->attachments.value(a->rowid), a);
                if (want.file.isEmpty()) {
                    EXPECT_TRUE(a->_local_path.isEmpty()) << a->_local_path.toStdString();
                    EXPECT_EQ(a->total_bytes, 0);
                } else {
                    QFile f(a->_local_path);
                    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << a->_local_path.toStdString();
                    EXPECT_EQ(f.readAll(), want.file);
                    EXPECT_EQ(a->total_bytes, want.file.size());
                }
            }
        }
        EXPECT_EQ(set.data()->attachments.size(), attachments);
        const _MsgMessage *other = set.data()->messages.value(30);
        if (chatId == 0) {
            ASSERT_NE(other, nullptr);
            EXPECT_EQ(other->text, QStringLiteral("other conversation"));
        } else {
            EXPECT_EQ(other, nullptr);
        }
        if (const _MsgMessage *im = set.data()->messages.value(40)) {
            EXPECT_EQ(im->text, QStringLiteral("imessage 40"));
            EXPECT_TRUE(im->attachments.isEmpty());
        }
    }
}

// Files of releases or tools without the parts table, or with one that lacks
// columns, read the message rows as they are.
TEST(IOS5MessageDbParts, WithoutAUsablePartsTableTheRowsStandAsTheyAre)
{
    const char *const alterations[] = {
        "DROP TABLE msg_pieces",
        "CREATE TABLE msg_pieces_short (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB);"
        "DROP TABLE msg_pieces; ALTER TABLE msg_pieces_short RENAME TO msg_pieces",
    };
    for (const char *alteration : alterations) {
        SCOPED_TRACE(alteration);
        Source s;
        s.fx.addGroup(1, 11, 10);
        s.fx.addMember(1, 1, kAsha, QStringLiteral("in"));
        s.fx.addSms(sms(10, 1, kUnix2001 + 10));
        s.fx.addPiece(piece(1, 10, 0, QStringLiteral("text/plain"), "a part"));
        QString error;
        ASSERT_EQ(s.fx.db().exec(QString::fromLatin1(alteration), error), 0) << error.toStdString();
        MsgDataSet set = s.loadAll();
        const _MsgMessage *m = set.data()->messages.value(10);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->text, QStringLiteral("sms 10"));
        EXPECT_TRUE(m->attachments.isEmpty());
    }
}

// ---------------------------------------------------------------------------
// Recycled messages

TEST(IOS5MessageDbRecycle, RecycledMessagesJoinTheConversationsOfTheSameIdentifierAndKind)
{
    Source s;
    s.fx.addGroup(1, 1, 10);
    s.fx.addMember(1, 1, kAsha, QStringLiteral("in"));
    s.fx.addSms(sms(10, 1, kUnix2001 + 5));
    s.fx.addMadridChat(1, kFriend, IOS5DbFixture::participants({kFriend}, IOS5DbFixture::Binary));
    s.fx.addIMessage(iMessage(11, 6, kFriend));

    MessageRecycleDb *recycle = s.reader().recycleDb();
    ASSERT_NE(recycle, nullptr);
    EXPECT_EQ(recycle->path(), QDir(s.dir.path()).absoluteFilePath(QStringLiteral("recycle.db")));
    EXPECT_FALSE(QFileInfo::exists(recycle->path()));

    struct Case
    {
        const char *name;
        QString service;
        QString identifier;
        int date;
        qint64 chat; // 0: a conversation made up for it
        QString sender;
    };
    const Case cases[] = {
        {"an SMS of a known conversation", "SMS", kAshaId, 3, 1, kAshaId},
        {"an iMessage of a known conversation", "iMessage", kFriend, 4, -1, kFriend},
        {"an SMS of a conversation that is gone", "SMS", kChandraId, 2, 0, kChandraId},
    };
    QList<qint64> stored;
    for (const Case &c : cases) {
        _MsgMessage m;
        m.guid = newGuid();
        m.service = c.service;
        m.date = c.date;
        m.text = QString::fromLatin1(c.name);
        stored.append(recycle->insertMessage(m, c.identifier, c.identifier, 0));
    }

    MsgDataSet set = s.loadAll();
    s.reader().recycledMessages(set);
    s.reader().recycledMessages(set);
    const auto &d = *set.data();
    EXPECT_EQ(d.messages.size(), 2 + int(std::size(cases)));
    EXPECT_EQ(d.chats.size(), 3);
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.name);
        const _MsgMessage *m = d.messages.value(2047483648LL + stored.at(i));
        ASSERT_NE(m, nullptr);
        EXPECT_TRUE(m->_deleted);
        EXPECT_EQ(m->text, QString::fromLatin1(c.name));
        ASSERT_NE(m->chat, nullptr);
        if (c.chat) {
            EXPECT_EQ(m->chat, d.chats.value(c.chat));
        } else {
            EXPECT_LT(m->chat->rowid, -1947483646);
            EXPECT_EQ(m->chat->chat_identifier, c.identifier);
        }
        ASSERT_NE(m->sender, nullptr);
        EXPECT_EQ(m->sender->id, c.sender);
    }
    // The messages of the database itself are not touched.
    EXPECT_FALSE(d.messages.value(10)->_deleted);
    EXPECT_EQ(d.chats.value(1)->messages.size(), 2);
    EXPECT_EQ(d.chats.value(-1)->messages.size(), 2);
}

// A file damaged half way through its message table: the read fails with
// SQLite's own message, and the messages before the damaged page are kept,
// each linked to its conversation, as they were read.
TEST(IOS5MessageDbMessages, ADamagedPageHalfWayKeepsTheMessagesBeforeIt)
{
    constexpr int kMessages = 4000;
    // Before iMessage, so that no query over every message comes first.
    Source s(IOS5DbFixture::BeforeIMessage);
    s.fx.begin();
    s.fx.addGroup(1, 11, kMessages);
    s.fx.addMember(1, 1, kAsha, QStringLiteral("in"));
    for (int i = 1; i <= kMessages; ++i) {
        IOS5DbFixture::Sms m = sms(i, 1, kUnix2001 + i);
        m.text = QStringLiteral("marker-%1-").arg(i, 5, 10, QLatin1Char('0')) + QString(80, QLatin1Char('x'));
        s.fx.addSms(m);
    }
    s.fx.commit();
    int before = kMessages + 1;
    QByteArray page;
    ASSERT_TRUE(damagePageHolding(s.fx.dbPath(), "marker-02000-", &page));
    before = smallestNumbered(page, "marker-", before);

    MsgDataSet set = MsgDataSet::create();
    std::string error;
    try {
        s.reader().messages(set, 0);
    } catch (const std::exception &e) {
        error = e.what();
    }
    EXPECT_NE(error.find("malformed"), std::string::npos) << error;
    const MsgDataSet::Data &d = *set.data();
    ASSERT_GT(before, 1000);
    ASSERT_LE(before, 2000);
    ASSERT_EQ(d.messages.size(), before - 1);
    const _MsgChat *chat = d.chats.value(1);
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->messages.size(), before - 1);
    for (qint64 rowid = 1; rowid < before; ++rowid) {
        const _MsgMessage *m = d.messages.value(rowid);
        ASSERT_TRUE(m) << rowid;
        EXPECT_EQ(m->chat, chat);
        EXPECT_EQ(chat->messages.value(QString::number(rowid)), m);
    }
}

} // namespace
