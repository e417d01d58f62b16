#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

#include <sys/resource.h>

#include "MessageIdentity.h"
#include "MessageRecycleDb.h"
#include "MsgSetBuilder.h"
#include "SmsChat.h"

namespace
{

constexpr qint64 kInt64Min = std::numeric_limits<qint64>::min();
constexpr qint64 kInt64Max = std::numeric_limits<qint64>::max();

// The range tests of the source tree (red) and of the transfer to a phone
// (left out), as those parts apply them.
bool paintedRed(qint64 chatRowid)
{
    return chatRowid < -1947483646;
}
bool leftOutOfTransfers(qint64 chatRowid)
{
    return chatRowid < -2047483646;
}

bool guidShaped(const QString &guid)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9]{8}-[A-Za-z0-9]{4}-[A-Za-z0-9]{4}-[A-Za-z0-9]{4}-[A-Za-z0-9]{12}$"));
    return shape.match(guid).hasMatch();
}

// A recycled row as readMessages gives it.
_MsgRecycledMessage recycled(qint64 storedRowid, const QString &chatIdentifier, qint64 handleId,
                             const QString &service = QStringLiteral("SMS"), int date = 1000,
                             const QString &handle = QString())
{
    _MsgRecycledMessage r;
    r.rowid = -2047483648 - storedRowid;
    r.guid = newGuid();
    r.text = QStringLiteral("text %1").arg(storedRowid);
    r.handle_id = handleId;
    r.service = service;
    r.date = date;
    r._deleted = true;
    r.chat_identifier = chatIdentifier;
    r.handle = handle;
    return r;
}

// A message as a scan hands it over.
void carved(_MsgMessage &m, const QString &guid, int date, int fromMe, const QString &text)
{
    m.guid = guid;
    m.date = date;
    m.is_from_me = fromMe;
    m.text = text;
    m.service = QStringLiteral("SMS");
}

class RecycleDbTest : public ::testing::Test
{
protected:
    QString path() const { return dir.filePath(QStringLiteral("recycle.db")); }
    QStringList entries() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    // Every row of a query on the file, through a connection of its own;
    // cells joined by "|", NULL shown as "NULL".
    QStringList rows(const QString &sql) const
    {
        Sqlite3DB own;
        own.openThrow(path(), Sqlite3DB::ReadOnly);
        Sqlite3Cursor c = own.queryThrow(sql);
        QStringList out;
        while (c.moveNext()) {
            QStringList cells;
            const Sqlite3Row row = c.getRow();
            for (const auto &item : row.items())
                cells.append(item.second.isNull() ? QStringLiteral("NULL") : item.second.toString());
            out.append(cells.join(QLatin1Char('|')));
        }
        return out;
    }
    void execOnFile(const QString &sql) const
    {
        Sqlite3DB own;
        own.openThrow(path(), Sqlite3DB::ReadWriteCreate);
        QString error;
        ASSERT_EQ(own.exec(sql, error), 0) << qPrintable(error);
    }

    QTemporaryDir dir;
};

TEST_F(RecycleDbTest, ConstructionTouchesNoFileAndTheFirstReadCreatesIt)
{
    MessageRecycleDb db(path());
    EXPECT_EQ(db.path(), path());
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(entries().isEmpty());

    EXPECT_TRUE(db.readMessages().isEmpty());
    EXPECT_TRUE(db.isOpen());
    EXPECT_EQ(entries(), QStringList{QStringLiteral("recycle.db")});
    EXPECT_EQ(rows(QStringLiteral("select type, name from sqlite_master where name not like 'sqlite_%' order by rowid")),
              (QStringList{
                  QStringLiteral("table|message"),
                  QStringLiteral("index|message_idx_chat_identifier"),
                  QStringLiteral("index|message_idx_chat_date"),
                  QStringLiteral("index|message_idx_handle_id"),
                  QStringLiteral("index|message_idx_src_rowid"),
                  QStringLiteral("table|chat"),
                  QStringLiteral("index|chat_idx_identifier"),
                  QStringLiteral("index|chat_idx_src_rowid"),
                  QStringLiteral("table|handle"),
                  QStringLiteral("index|handle_idx_src_rowid"),
                  QStringLiteral("index|message_idx_identity"),
              }));
    EXPECT_EQ(rows(QStringLiteral("select name, type, \"notnull\", dflt_value from pragma_table_info('message')")).join(QLatin1Char(' ')),
              QStringLiteral(
                  "ROWID|INTEGER|0|NULL guid|TEXT|1|NULL text|TEXT|0|NULL replace|INTEGER|0|0 service_center|TEXT|0|NULL "
                  "handle_id|INTEGER|0|0 subject|TEXT|0|NULL country|TEXT|0|NULL attributedBody|BLOB|0|NULL "
                  "version|INTEGER|0|0 type|INTEGER|0|0 service|TEXT|0|NULL account|TEXT|0|NULL account_guid|TEXT|0|NULL "
                  "error|INTEGER|0|0 date|INTEGER|0|NULL date_read|INTEGER|0|NULL date_delivered|INTEGER|0|NULL "
                  "is_delivered|INTEGER|0|0 is_finished|INTEGER|0|0 is_emote|INTEGER|0|0 is_from_me|INTEGER|0|0 "
                  "is_empty|INTEGER|0|0 is_delayed|INTEGER|0|0 is_auto_reply|INTEGER|0|0 is_prepared|INTEGER|0|0 "
                  "is_read|INTEGER|0|0 is_system_message|INTEGER|0|0 is_sent|INTEGER|0|0 has_dd_results|INTEGER|0|0 "
                  "is_service_message|INTEGER|0|0 is_forward|INTEGER|0|0 was_downgraded|INTEGER|0|0 "
                  "is_archive|INTEGER|0|0 cache_has_attachments|INTEGER|0|0 cache_roomnames|TEXT|0|NULL "
                  "was_data_detected|INTEGER|0|0 was_deduplicated|INTEGER|0|0 chat_identifier|TEXT|0|NULL "
                  "handle|TEXT|0|NULL src_rowid|INTEGER|0|NULL is_skip|INTEGER|1|0"));
    EXPECT_EQ(rows(QStringLiteral("select name from pragma_table_info('chat')")).join(QLatin1Char(' ')),
              QStringLiteral("ROWID guid style state account_id properties chat_identifier service_name room_name "
                             "account_login is_archived last_addressed_handle display_name src_rowid"));
    EXPECT_EQ(rows(QStringLiteral("select name from pragma_table_info('handle')")).join(QLatin1Char(' ')),
              QStringLiteral("ROWID id country service uncanonicalized_id src_rowid"));
    EXPECT_EQ(rows(QStringLiteral("select count(*) from chat")), QStringList{QStringLiteral("0")});
}

TEST_F(RecycleDbTest, AnExistingFileIsOpenedAsItIsAndGainsTheLookupIndex)
{
    // A file with the schema but without the index of the duplicate test, and
    // one row in it.
    execOnFile(QStringLiteral(
        "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT,"
        " date INTEGER, is_from_me INTEGER DEFAULT 0, handle_id INTEGER DEFAULT 0, service TEXT,"
        " chat_identifier TEXT, handle TEXT, src_rowid INTEGER, is_skip INTEGER NOT NULL DEFAULT 0);"
        "INSERT INTO message (guid, text, date) VALUES ('g', 'kept', 7);"));
    MessageRecycleDb db(path());
    const QList<_MsgRecycledMessage> list = db.readMessages();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list.first().text, QStringLiteral("kept"));
    EXPECT_EQ(rows(QStringLiteral("select name from sqlite_master where type='table' and name not like 'sqlite_%'")),
              QStringList{QStringLiteral("message")});
    EXPECT_EQ(rows(QStringLiteral("select count(*) from sqlite_master where name='message_idx_identity'")),
              QStringList{QStringLiteral("1")});
}

TEST_F(RecycleDbTest, AFailedCreationLeavesNoFileAndTheNextCallCreatesIt)
{
    // The file system refuses every byte past the first two pages, as a full
    // disk would.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 8192;
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    MessageRecycleDb db(path());
    std::string error;
    try {
        db.ensureOpen();
    } catch (const std::exception &e) {
        error = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error.rfind("create MessageRecycleDb error. ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("create MessageRecycleDb error. ").size());
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(entries().isEmpty()) << qPrintable(entries().join(QLatin1Char(' ')));

    EXPECT_TRUE(db.readMessages().isEmpty());
    EXPECT_EQ(rows(QStringLiteral("select count(*) from sqlite_master where type='table' and name in ('message','chat','handle')")),
              QStringList{QStringLiteral("3")});
}

TEST_F(RecycleDbTest, ReadBackRowsGetKeysFarBelowZeroAndSkippedRowsStayOut)
{
    MessageRecycleDb db(path());
    db.ensureOpen();
    execOnFile(QStringLiteral(
        "insert into message (ROWID, guid, text, date, handle_id, service, chat_identifier, handle)"
        " values (5, 'g5', 'five', 600, 3, 'SMS', '+15551234', '+15551234');"
        "insert into message (ROWID, guid, text, date, is_skip) values (6, 'g6', 'skipped', 700, 1);"
        "insert into message (ROWID, guid, text, date, is_skip) values (7, 'g7', 'skipped too', 700, 2);"));
    const QList<_MsgRecycledMessage> list = db.readMessages();
    ASSERT_EQ(list.size(), 1);
    const _MsgRecycledMessage &r = list.first();
    EXPECT_EQ(r.rowid, -2047483653);
    EXPECT_TRUE(r._deleted);
    EXPECT_EQ(r._key, 0);
    EXPECT_EQ(r.text, QStringLiteral("five"));
    EXPECT_EQ(r.chat_identifier, QStringLiteral("+15551234"));
    EXPECT_EQ(r.handle, QStringLiteral("+15551234"));

    MsgDataSet set = MsgDataSet::create();
    MessageRecycleDb::loadInto(set, list);
    ASSERT_EQ(set.data()->messages.size(), 1);
    _MsgMessage *m = set.data()->messages.value(2047483653);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->_key, 2047483653);
    EXPECT_EQ(m->rowid, -2047483653);
    EXPECT_TRUE(m->_deleted);
    ASSERT_NE(m->chat, nullptr);
    EXPECT_EQ(m->chat->messages.value(QStringLiteral("2047483653")), m);
    // The list keeps its own copy.
    EXPECT_EQ(list.first()._key, 0);
    EXPECT_EQ(list.first().chat, nullptr);
}

TEST_F(RecycleDbTest, RecycledConversationsAreMadeUpWithKeysOfTheirRange)
{
    const struct
    {
        const char *identifier;
        qint64 handleId;
        const char *service;
        qint64 key;
        const char *guid;
        const char *address;
        const char *kind;
    } cases[] = {
        {"+15551234", 3, "SMS", -1947483650, "SMS;-;+15551234", "+15551234", "SMS"},
        {"", 7, "SMS", -2047483654, "SMS;-;unknown7", "unknown7", "SMS"},
        {"", 7, "iMessage", -2047483654, "SMS;-;unknown7", "unknown7", "SMS"},
        {"a@b.example", 3, "iMessage", -1947483650, "iMessage;-;a@b.example", "a@b.example", "iMessage"},
        {"chat123456789012345678", 0, "SMS", -1947483647, "SMS;-;chat123456789012345678", "chat123456789012345678", "SMS"},
        {"+15551234", 99999999, "sms", -2047483646, "SMS;-;+15551234", "+15551234", "SMS"},
        {"", 0, "SMS", -2047483647, "SMS;-;unknown0", "unknown0", "SMS"},
        {"", 100000000, "SMS", -2147483647, "SMS;-;unknown100000000", "unknown100000000", "SMS"},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(std::string(t.identifier) + " handle " + std::to_string(t.handleId) + " " + t.service);
        MsgDataSet set = MsgDataSet::create();
        _MsgRecycledMessage r = recycled(1, QString::fromLatin1(t.identifier), t.handleId,
                                         QString::fromLatin1(t.service), 4321);
        r.account = QStringLiteral("e:me@example.com");
        MessageRecycleDb::loadInto(set, {r});

        ASSERT_EQ(set.data()->chats.size(), 1);
        _MsgChat *chat = set.data()->chats.value(t.key);
        ASSERT_NE(chat, nullptr);
        EXPECT_EQ(chat->rowid, t.key);
        EXPECT_EQ(chat->guid, QString::fromLatin1(t.guid));
        EXPECT_EQ(chat->chat_identifier, QString::fromLatin1(t.address));
        EXPECT_EQ(chat->service_name, QString::fromLatin1(t.kind));
        EXPECT_EQ(chat->style, 45);
        EXPECT_EQ(chat->state, 3);
        EXPECT_EQ(chat->_last, 4321);
        EXPECT_TRUE(paintedRed(chat->rowid));
        EXPECT_EQ(leftOutOfTransfers(chat->rowid), !*t.identifier);
        if (QLatin1String(t.kind) == QLatin1String("SMS")) {
            EXPECT_EQ(chat->account_login, QStringLiteral("E:"));
            EXPECT_TRUE(chat->account_id.isEmpty());
        } else {
            EXPECT_EQ(chat->account_login, QStringLiteral("e:me@example.com"));
        }

        ASSERT_EQ(set.data()->handles.size(), 1);
        _MsgHandle *handle = set.data()->handles.value(t.key);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(handle->rowid, t.key);
        EXPECT_EQ(handle->id, QString::fromLatin1(t.address));
        EXPECT_EQ(handle->service, QString::fromLatin1(t.kind));
        EXPECT_EQ(chat->handles.size(), 1);
        EXPECT_EQ(chat->handles.value(QString::fromLatin1(t.address)), handle);

        _MsgMessage *m = set.data()->messages.value(2047483649);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->chat, chat);
        EXPECT_EQ(m->sender, handle);
        EXPECT_EQ(chat->messages.size(), 1);
    }
}

TEST_F(RecycleDbTest, ANewIMessageConversationTakesAShapedAccountGuidElseOneFromItsIdentifier)
{
    const QString identifier = QStringLiteral("a@b.example");
    const QString derived = guidFromData(identifier.toUtf8());
    const struct
    {
        const char *accountGuid;
        QString accountId;
    } cases[] = {
        {"abc", derived},
        {"", derived},
        {"12345678-ABCD-ef01-2345-6789abcdef01", QStringLiteral("12345678-ABCD-ef01-2345-6789abcdef01")},
        {"12345678-ABCD-ef01-2345-6789abcdef0!", derived},
        {"12345678-ABCD-ef01-2345-6789abcdef01\n", derived},
        {"12345678ABCD-ef01-2345-6789abcdef012", derived},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.accountGuid);
        MsgDataSet set = MsgDataSet::create();
        _MsgRecycledMessage r = recycled(1, identifier, 3, QStringLiteral("iMessage"));
        r.account_guid = QString::fromLatin1(t.accountGuid);
        MessageRecycleDb::loadInto(set, {r});
        ASSERT_EQ(set.data()->chats.size(), 1);
        EXPECT_EQ(set.data()->chats.value(-1947483650)->account_id, t.accountId);
    }
}

TEST_F(RecycleDbTest, RecycledMessagesJoinTheSourcesConversationsOfTheSameIdentifierAndKind)
{
    MsgSetBuilder b;
    _MsgChat *sms = b.chat(10, QStringLiteral("+15551234"), 1000);
    _MsgHandle *smsPeer = b.handle(sms, 4, QStringLiteral("+15551234"));
    _MsgChat *iMessage = b.chat(11, QStringLiteral("+15551234"), 500);
    iMessage->service_name = QStringLiteral("iMessage");
    _MsgHandle *iMessagePeer = b.handle(iMessage, 5, QStringLiteral("+15551234"));
    // A group read from an sms.db: members keyed by their decimal rowid.
    _MsgChat *group = b.chat(12, QStringLiteral("chat100000000000000001"), 0);
    b.handle(group, 6, QStringLiteral("+15550006"));
    _MsgHandle *member7 = b.handle(group, 7, QStringLiteral("+15550007"));
    // Two of one identifier and kind: the higher id is joined, every run.
    _MsgChat *older = b.chat(20, QStringLiteral("+15559999"), 0);
    _MsgChat *newer = b.chat(21, QStringLiteral("+15559999"), 0);
    MsgDataSet set = b.set();

    const struct
    {
        _MsgRecycledMessage record;
        _MsgChat *chat;
        _MsgHandle *sender;
        int lastAfter;
    } cases[] = {
        {recycled(1, QStringLiteral("+15551234"), 4, QStringLiteral("SMS"), 900), sms, smsPeer, 1000},
        {recycled(2, QStringLiteral("+15551234"), 4, QStringLiteral("SMS"), 1100), sms, smsPeer, 1100},
        {recycled(3, QStringLiteral("+15551234"), 5, QStringLiteral("iMessage"), 400), iMessage, iMessagePeer, 500},
        {recycled(4, QStringLiteral("chat100000000000000001"), 7, QStringLiteral("SMS"), 50,
                  QStringLiteral("+15550007")),
         group, member7, 50},
        {recycled(5, QStringLiteral("chat100000000000000001"), 8, QStringLiteral("SMS"), 60,
                  QStringLiteral("+15550008")),
         group, nullptr, 60},
        {recycled(6, QStringLiteral("+15559999"), 9, QStringLiteral("SMS"), 70), newer, nullptr, 70},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.record.text.toStdString());
        MessageRecycleDb::loadInto(set, {t.record});
        EXPECT_EQ(set.data()->chats.size(), 5) << "no conversation may be made up";
        _MsgMessage *m = set.data()->messages.value(-t.record.rowid);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->chat, t.chat);
        EXPECT_EQ(m->sender, t.sender);
        EXPECT_EQ(t.chat->messages.value(QString::number(m->_key)), m);
        EXPECT_EQ(t.chat->_last, t.lastAfter);
    }
    EXPECT_TRUE(older->messages.isEmpty());
}

TEST_F(RecycleDbTest, ConversationsWhoseKeysCollideEachGetAKeyOfTheirOwnRange)
{
    const qint64 identifiedLowest = -2047483646;
    const struct
    {
        const char *name;
        // Records: identifier, handle id, service.
        QList<std::tuple<const char *, qint64, const char *>> records;
        // Keys taken in the set beforehand: in its conversations, in its handles.
        QList<qint64> takenChats, takenHandles;
        QList<qint64> keys; // the key of each record's conversation
    } cases[] = {
        {"one handle id for SMS, iMessage and a group",
         {{"+15551234", 3, "SMS"}, {"+15551234", 3, "iMessage"}, {"chat100000000000000001", 3, "SMS"}},
         {},
         {},
         {-1947483650, identifiedLowest, identifiedLowest + 1}},
        {"outgoing messages of many conversations carry handle id 0",
         {{"+15550001", 0, "SMS"}, {"+15550002", 0, "SMS"}, {"+15550003", 0, "SMS"}, {"+15550001", 0, "SMS"}},
         {},
         {},
         {-1947483647, identifiedLowest, identifiedLowest + 1, -1947483647}},
        {"key taken by a conversation of the set", {{"+15551234", 3, "SMS"}}, {-1947483650}, {}, {identifiedLowest}},
        {"key taken by a handle of the set", {{"+15551234", 3, "SMS"}}, {}, {-1947483650}, {identifiedLowest}},
        {"spare keys taken as well",
         {{"+15551234", 3, "SMS"}},
         {-1947483650, identifiedLowest},
         {identifiedLowest + 1},
         {identifiedLowest + 2}},
        {"handle ids that would leave the range",
         {{"+15550001", -5, "SMS"},
          {"+15550002", 100000000, "SMS"},
          {"+15550003", kInt64Max, "iMessage"},
          {"+15550004", kInt64Min, "SMS"},
          {"+15550005", -1947483647 - 10, "SMS"}},
         {},
         {},
         {identifiedLowest, identifiedLowest + 1, identifiedLowest + 2, identifiedLowest + 3, identifiedLowest + 4}},
        {"unknown conversations with taken keys or odd handle ids",
         {{"", 7, "SMS"}, {"", -5, "SMS"}, {"", kInt64Max, "SMS"}, {"", kInt64Min, "SMS"}},
         {-2047483654},
         {},
         {-2147483646, -2147483645, -2147483644, -2147483643}},
        {"an unknown conversation's key is not taken from another kind's",
         {{"+15550001", 100000000 + 3, "SMS"}, {"", 3, "SMS"}},
         {},
         {},
         {identifiedLowest, -2047483650}},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        MsgSetBuilder b;
        for (qint64 k : t.takenChats)
            b.chat(k, QStringLiteral("live %1").arg(k));
        for (qint64 k : t.takenHandles)
            b.handle(nullptr, k, QStringLiteral("live %1").arg(k));
        MsgDataSet set = b.set();
        const QSet<_MsgChat *> before(set.data()->chats.cbegin(), set.data()->chats.cend());

        QList<_MsgRecycledMessage> list;
        for (int i = 0; i < t.records.size(); ++i) {
            const auto &[identifier, handleId, service] = t.records.at(i);
            list.append(recycled(i + 1, QString::fromLatin1(identifier), handleId, QString::fromLatin1(service)));
        }
        MessageRecycleDb::loadInto(set, list);

        ASSERT_EQ(set.data()->messages.size(), list.size());
        for (int i = 0; i < list.size(); ++i) {
            const _MsgMessage *m = set.data()->messages.value(-list.at(i).rowid);
            ASSERT_NE(m, nullptr);
            ASSERT_NE(m->chat, nullptr);
            EXPECT_EQ(m->chat->rowid, t.keys.at(i)) << "record " << i;
            // The conversation is the one the set holds under its key, with
            // its one handle under the same key.
            EXPECT_EQ(set.data()->chats.value(m->chat->rowid), m->chat) << "record " << i;
            EXPECT_FALSE(before.contains(m->chat)) << "record " << i;
            ASSERT_NE(m->sender, nullptr);
            EXPECT_EQ(set.data()->handles.value(m->chat->rowid), m->sender) << "record " << i;
            EXPECT_TRUE(paintedRed(m->chat->rowid)) << "record " << i;
            EXPECT_EQ(leftOutOfTransfers(m->chat->rowid), list.at(i).chat_identifier.isEmpty()) << "record " << i;
        }
        // The records there before are all still there.
        for (_MsgChat *c : before)
            EXPECT_EQ(set.data()->chats.value(c->rowid), c);
        for (qint64 k : t.takenHandles)
            EXPECT_EQ(set.data()->handles.value(k)->id, QStringLiteral("live %1").arg(k));
    }
}

TEST_F(RecycleDbTest, LoadingTwiceOrOverKeysInUseAddsNothing)
{
    MsgSetBuilder b;
    // A message already under the key that recycled row 5 would get.
    _MsgMessage *present = b.message(nullptr, 2047483653, 1, QStringLiteral("present"));
    MsgDataSet set = b.set();
    const QList<_MsgRecycledMessage> list = {
        recycled(5, QStringLiteral("+15551234"), 3),
        recycled(6, QStringLiteral("+15551234"), 3),
        recycled(7, QString(), 3),
    };
    MessageRecycleDb::loadInto(set, list);
    EXPECT_EQ(set.data()->messages.size(), 3);
    EXPECT_EQ(set.data()->messages.value(2047483653), present);
    EXPECT_EQ(present->chat, nullptr);
    EXPECT_EQ(set.data()->chats.size(), 2);
    EXPECT_EQ(set.data()->handles.size(), 2);

    MessageRecycleDb::loadInto(set, list);
    EXPECT_EQ(set.data()->messages.size(), 3);
    EXPECT_EQ(set.data()->chats.size(), 2);
    EXPECT_EQ(set.data()->handles.size(), 2);
    EXPECT_EQ(set.data()->chats.value(-1947483650)->messages.size(), 1);

    // A null set takes nothing and does not fail.
    MsgDataSet none;
    MessageRecycleDb::loadInto(none, list);
}

TEST_F(RecycleDbTest, MakeSmsChatRefusesAKeyInUse)
{
    MsgSetBuilder b;
    b.chat(-1947483650, QStringLiteral("+15551234"));
    b.handle(nullptr, -1947483651, QStringLiteral("+15551235"));
    MsgDataSet set = b.set();
    EXPECT_THROW(makeSmsChat(set, -1947483650, QStringLiteral("+1")), std::logic_error);
    EXPECT_THROW(makeSmsChat(set, -1947483651, QStringLiteral("+1")), std::logic_error);
    EXPECT_EQ(set.data()->chats.size(), 1);
    EXPECT_EQ(set.data()->handles.size(), 1);
    MsgDataSet none;
    EXPECT_THROW(makeSmsChat(none, 1, QStringLiteral("+1")), std::logic_error);

    _MsgChat *chat = makeSmsChat(set, -1947483652, QStringLiteral("+15551236"));
    EXPECT_EQ(set.data()->chats.value(-1947483652), chat);
    EXPECT_EQ(chat->handles.value(QStringLiteral("+15551236")), set.data()->handles.value(-1947483652));
}

TEST_F(RecycleDbTest, StoredMessagesKeepTheirFieldsAndLeaveEmptyOptionalColumnsNull)
{
    MessageRecycleDb db(path());
    _MsgMessage m;
    m.guid = QStringLiteral("12345678-abcd-EF01-2345-6789ABCDEF01");
    m.text = QStringLiteral("hello\nthere");
    m.replace = 1;
    m.service_center = QStringLiteral("+4917");
    m.handle_id = 5000000000;
    m.subject = QStringLiteral("subject");
    m.country = QStringLiteral("de");
    m.attributedBody = QByteArray("\x04\x0bstreamtyped", 13);
    m.version = 2;
    m.type = 3;
    m.service = QStringLiteral("iMessage");
    m.account = QStringLiteral("e:me@example.com");
    m.account_guid = QStringLiteral("A-B");
    m.error = 4;
    m.date = 400000000;
    m.date_read = 400000001;
    m.date_delivered = 400000002;
    int flag = 10;
    for (int *f : {&m.is_delivered, &m.is_finished, &m.is_emote, &m.is_from_me, &m.is_empty, &m.is_delayed,
                   &m.is_auto_reply, &m.is_prepared, &m.is_read, &m.is_system_message, &m.is_sent, &m.has_dd_results,
                   &m.is_service_message, &m.is_forward, &m.was_downgraded, &m.is_archive})
        *f = flag++;
    m.cache_has_attachments = 0; // taken from the attachment hash instead
    _MsgAttachment attachment;
    m.attachments.insert(QStringLiteral("1"), &attachment);
    m.cache_roomnames = QStringLiteral("room");
    m.was_data_detected = 30;
    m.was_deduplicated = 31;
    // Not stored.
    m.item_type = 2;
    m.is_audio_message = 1;
    m._key = 99;

    const qint64 rowid = db.insertMessage(m, QStringLiteral("chat-id"), QStringLiteral("+4917000"), 77);
    EXPECT_EQ(rowid, 1);
    const QList<_MsgRecycledMessage> list = db.readMessages();
    ASSERT_EQ(list.size(), 1);
    const _MsgRecycledMessage &r = list.first();
    EXPECT_EQ(r.rowid, -2047483649);
    EXPECT_EQ(r.guid, m.guid);
    EXPECT_EQ(r.text, m.text);
    EXPECT_EQ(r.replace, 1);
    EXPECT_EQ(r.service_center, m.service_center);
    EXPECT_EQ(r.handle_id, 5000000000);
    EXPECT_EQ(r.subject, m.subject);
    EXPECT_EQ(r.country, m.country);
    EXPECT_EQ(r.attributedBody, m.attributedBody);
    EXPECT_EQ(r.version, 2);
    EXPECT_EQ(r.type, 3);
    EXPECT_EQ(r.service, m.service);
    EXPECT_EQ(r.account, m.account);
    EXPECT_EQ(r.account_guid, m.account_guid);
    EXPECT_EQ(r.error, 4);
    EXPECT_EQ(r.date, 400000000);
    EXPECT_EQ(r.date_read, 400000001);
    EXPECT_EQ(r.date_delivered, 400000002);
    flag = 10;
    for (int f : {r.is_delivered, r.is_finished, r.is_emote, r.is_from_me, r.is_empty, r.is_delayed, r.is_auto_reply,
                  r.is_prepared, r.is_read, r.is_system_message, r.is_sent, r.has_dd_results, r.is_service_message,
                  r.is_forward, r.was_downgraded, r.is_archive})
        EXPECT_EQ(f, flag++);
    EXPECT_EQ(r.cache_has_attachments, 1);
    EXPECT_EQ(r.cache_roomnames, m.cache_roomnames);
    EXPECT_EQ(r.was_data_detected, 30);
    EXPECT_EQ(r.was_deduplicated, 31);
    EXPECT_EQ(r.chat_identifier, QStringLiteral("chat-id"));
    EXPECT_EQ(r.handle, QStringLiteral("+4917000"));
    EXPECT_TRUE(r._deleted);
    EXPECT_EQ(r._key, 0);
    EXPECT_EQ(r.item_type, 0);
    EXPECT_EQ(r.is_audio_message, 0);
    EXPECT_EQ(rows(QStringLiteral("select src_rowid, is_skip from message")), QStringList{QStringLiteral("77|0")});

    // Empty optional texts and blobs, and source rowids of 0 or less, stay NULL;
    // the other texts are stored empty, never NULL.
    const struct
    {
        qint64 srcRowid;
        const char *srcColumn;
    } sources[] = {{0, "NULL"}, {-3, "NULL"}, {1, "1"}};
    for (const auto &t : sources) {
        _MsgMessage empty;
        empty.date = int(t.srcRowid) + 10;
        const qint64 id = db.insertMessage(empty, QString(), QString(), t.srcRowid);
        EXPECT_EQ(rows(QStringLiteral("select src_rowid, service_center, subject, country, attributedBody,"
                                      " typeof(text), typeof(service), typeof(account), typeof(cache_roomnames),"
                                      " typeof(chat_identifier), typeof(handle), cache_has_attachments from message"
                                      " where rowid=%1")
                           .arg(id)),
                  QStringList{QStringLiteral("%1|NULL|NULL|NULL|NULL|text|text|text|text|text|text|0").arg(QLatin1String(t.srcColumn))})
            << "source rowid " << t.srcRowid;
    }
}

TEST_F(RecycleDbTest, GuidsWithoutTheShapeAreReplacedByFreshOnes)
{
    MessageRecycleDb db(path());
    const struct
    {
        const char *guid;
        bool kept;
    } cases[] = {
        {"x", false},
        {"x", false},
        {"", false},
        {"{12345678-ABCD-EF01-2345-6789ABCDEF01}", false},
        {"12345678-ABCD-EF01-2345-6789ABCDEF01\n", false},
        {"12345678-ABCD-EF01-2345-6789ABCDEF0_", false},
        {"12345678-ABCD-EF01-2345-6789ABCDEF01", true},
        {"abcdefgh-ijkl-mnop-qrst-uvwxyz012345", true},
    };
    QSet<QString> stored;
    for (const auto &t : cases) {
        SCOPED_TRACE(t.guid);
        _MsgMessage m;
        m.guid = QString::fromLatin1(t.guid);
        const qint64 rowid = db.insertMessage(m, QString(), QString(), 0);
        const QStringList guid = rows(QStringLiteral("select guid from message where rowid=%1").arg(rowid));
        ASSERT_EQ(guid.size(), 1);
        if (t.kept) {
            EXPECT_EQ(guid.first(), m.guid);
        } else {
            EXPECT_NE(guid.first(), m.guid);
            EXPECT_TRUE(guidShaped(guid.first())) << qPrintable(guid.first());
        }
        stored.insert(guid.first());
    }
    EXPECT_EQ(stored.size(), int(std::size(cases)));
}

TEST_F(RecycleDbTest, TheSameMessageIsRecognisedByGuidOrByDateDirectionAndText)
{
    MessageRecycleDb db(path());
    _MsgMessage a;
    carved(a, QStringLiteral("11111111-2222-3333-4444-555555555555"), 1000, 1, QStringLiteral("hi"));
    const qint64 first = db.insertMessage(a, QString(), QString(), 0);
    _MsgMessage b;
    carved(b, QString(), 2000, 0, QString()); // an SMS row without guid or text
    const qint64 second = db.insertMessage(b, QString(), QString(), 0);

    const struct
    {
        const char *guid;
        int date, fromMe;
        const char *text;
        qint64 rowid;
    } cases[] = {
        {"11111111-2222-3333-4444-555555555555", 1, 0, "other", first},
        {"other", 1000, 1, "hi", first},
        {"", 1000, 1, "hi", first},
        {"other", 1000, 0, "hi", 0},
        {"other", 1001, 1, "hi", 0},
        {"other", 1000, 1, "hi ", 0},
        {"other", 1000, 1, "HI", 0},
        // An empty text is stored and compared as ''.
        {"", 2000, 0, "", second},
        {"", 2000, 1, "", 0},
        {"", 2001, 0, "", 0},
    };
    for (const auto &t : cases) {
        _MsgMessage probe;
        carved(probe, QString::fromLatin1(t.guid), t.date, t.fromMe, QString::fromLatin1(t.text));
        EXPECT_EQ(db.messageRowid(probe), t.rowid) << t.guid << " " << t.date << " " << t.fromMe << " '" << t.text << "'";
    }
}

TEST_F(RecycleDbTest, TheLookUpsUseIndexesInsteadOfScans)
{
    MessageRecycleDb db(path());
    db.ensureOpen();
    const struct
    {
        const char *sql;
        QStringList mustContain;
    } cases[] = {
        {"select rowid from message where guid=? or (date=? and is_from_me=? and text=?)",
         {QStringLiteral("MULTI-INDEX OR"), QStringLiteral("USING INDEX sqlite_autoindex_message_1 (guid=?)"),
          QStringLiteral("USING INDEX message_idx_identity (date=? AND is_from_me=? AND text=?)")}},
        {"select rowid from handle where id=? and service=?",
         {QStringLiteral("USING COVERING INDEX"), QStringLiteral("(id=? AND service=?)")}},
        {"select * from handle where src_rowid=?", {QStringLiteral("USING INDEX handle_idx_src_rowid (src_rowid=?)")}},
        {"update message set chat_identifier=?, handle=? where rowid=?", {QStringLiteral("USING INTEGER PRIMARY KEY")}},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.sql);
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(QStringLiteral("EXPLAIN QUERY PLAN ") + QLatin1String(t.sql)));
        QStringList plan;
        while (c.moveNext())
            plan.append(c.getText(QStringLiteral("detail")));
        const QString all = plan.join(QLatin1Char('\n'));
        for (const QString &part : t.mustContain)
            EXPECT_TRUE(all.contains(part)) << qPrintable(all);
        EXPECT_FALSE(all.contains(QLatin1String("SCAN"))) << qPrintable(all);
    }
}

TEST_F(RecycleDbTest, ARescanOfTheSameRowsStoresNothingNew)
{
    MessageRecycleDb db(path());
    // What one scan of an sms.db finds: handles, and messages of both kinds,
    // some without a guid of the right shape or without text.
    struct Row
    {
        const char *guid;
        int date, fromMe;
        const char *text;
        const char *service;
    };
    const Row found[] = {
        {"11111111-2222-3333-4444-555555555555", 100, 0, "iMessage text", "iMessage"},
        {"11111111-2222-3333-4444-555555555556", 100, 0, "iMessage text", "iMessage"},
        {"", 200, 1, "sms text", "SMS"},
        {"", 200, 0, "sms text", "SMS"},
        {"broken", 300, 0, "", "SMS"},
        {"", 301, 0, "", "SMS"},
    };
    const char *handles[][2] = {{"+15550001", "SMS"}, {"+15550001", "iMessage"}, {"a@b.example", "iMessage"}};
    auto scan = [&]() {
        db.beginTransaction();
        qint64 src = 0;
        for (const auto &h : handles) {
            _MsgHandle handle;
            handle.id = QLatin1String(h[0]);
            handle.service = QLatin1String(h[1]);
            ++src;
            if (db.handleRowid(handle) == 0)
                db.insertHandle(handle, src);
        }
        for (const Row &row : found) {
            _MsgMessage m;
            carved(m, QLatin1String(row.guid), row.date, row.fromMe, QLatin1String(row.text));
            m.service = QLatin1String(row.service);
            ++src;
            if (db.messageRowid(m) == 0)
                db.insertMessage(m, QStringLiteral("+15550001"), QStringLiteral("+15550001"), src);
        }
        db.endTransaction(true);
    };
    scan();
    // The second iMessage row counts as the first: another guid, but the same
    // date, direction and text.
    const QString countSql = QStringLiteral("select (select count(*) from message), (select count(*) from handle)");
    ASSERT_EQ(rows(countSql), QStringList{QStringLiteral("5|3")});
    const QStringList before = rows(QStringLiteral("select * from message order by rowid"));
    scan();
    scan();
    EXPECT_EQ(rows(countSql), QStringList{QStringLiteral("5|3")});
    EXPECT_EQ(rows(QStringLiteral("select * from message order by rowid")), before);
}

TEST_F(RecycleDbTest, HandlesAreStoredFoundAndReadBack)
{
    MessageRecycleDb db(path());
    // Nothing carved from that rowid: a new handle.
    const QSharedPointer<_MsgHandle> none = db.handleBySrcRowid(42);
    ASSERT_FALSE(none.isNull());
    EXPECT_EQ(none->rowid, 0);
    EXPECT_TRUE(none->id.isEmpty());
    EXPECT_EQ(none->service, QStringLiteral("SMS"));

    _MsgHandle a;
    a.rowid = 900;
    a.id = QStringLiteral("+15550001");
    a.country = QStringLiteral("us");
    a.service = QStringLiteral("iMessage");
    a.uncanonicalized_id = QStringLiteral("5550001");
    a._ct_name = QStringLiteral("Ann");
    EXPECT_EQ(db.insertHandle(a, 42), 1);
    _MsgHandle b;
    b.id = QStringLiteral("+15550001");
    EXPECT_EQ(db.insertHandle(b, 0), 2);
    EXPECT_THROW(db.insertHandle(a, 43), std::runtime_error);
    EXPECT_EQ(rows(QStringLiteral("select rowid, id, country, service, uncanonicalized_id, src_rowid from handle order by rowid")),
              (QStringList{QStringLiteral("1|+15550001|us|iMessage|5550001|42"), QStringLiteral("2|+15550001||SMS||NULL")}));

    EXPECT_EQ(db.handleRowid(a), 1);
    EXPECT_EQ(db.handleRowid(b), 2);
    _MsgHandle c;
    c.id = QStringLiteral("+15550002");
    EXPECT_EQ(db.handleRowid(c), 0);

    const QSharedPointer<_MsgHandle> carved = db.handleBySrcRowid(42);
    EXPECT_EQ(carved->rowid, 42);
    EXPECT_EQ(carved->id, QStringLiteral("+15550001"));
    EXPECT_EQ(carved->service, QStringLiteral("iMessage"));
    EXPECT_EQ(carved->uncanonicalized_id, QStringLiteral("5550001"));
    EXPECT_TRUE(carved->country.isEmpty());
    EXPECT_TRUE(carved->_ct_name.isEmpty());

    const QList<QSharedPointer<_MsgHandle>> all = db.readHandles();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all.at(0)->rowid, 1);
    EXPECT_EQ(all.at(0)->service, QStringLiteral("iMessage"));
    EXPECT_EQ(all.at(0)->uncanonicalized_id, QStringLiteral("5550001"));
    EXPECT_TRUE(all.at(0)->country.isEmpty());
    EXPECT_EQ(all.at(1)->rowid, 2);
    EXPECT_EQ(all.at(1)->service, QStringLiteral("SMS"));
}

TEST_F(RecycleDbTest, SetMessageChatRewritesTheRowThatCountsAsTheSameMessage)
{
    MessageRecycleDb db(path());
    _MsgMessage m;
    carved(m, QString(), 1000, 0, QStringLiteral("hi"));
    db.insertMessage(m, QString(), QString(), 0);
    _MsgMessage other;
    carved(other, QString(), 1001, 0, QStringLiteral("hi"));
    db.setMessageChat(other, QStringLiteral("nobody"), QStringLiteral("nobody"));
    EXPECT_EQ(rows(QStringLiteral("select chat_identifier, handle from message")), QStringList{QStringLiteral("|")});
    db.setMessageChat(m, QStringLiteral("+15550001"), QStringLiteral("+15550002"));
    EXPECT_EQ(rows(QStringLiteral("select chat_identifier, handle from message")),
              QStringList{QStringLiteral("+15550001|+15550002")});
}

TEST_F(RecycleDbTest, ARecycledRowIsAValueThatCopiesEveryField)
{
    _MsgRecycledMessage r;
    int n = 1;
    r.rowid = -2047483649;
    r.guid = QStringLiteral("g");
    r.text = QStringLiteral("t");
    r.service_center = QStringLiteral("sc");
    r.handle_id = 1LL << 40;
    r.subject = QStringLiteral("s");
    r.country = QStringLiteral("c");
    r.attributedBody = QByteArray("ab");
    r.service = QStringLiteral("iMessage");
    r.account = QStringLiteral("a");
    r.account_guid = QStringLiteral("ag");
    r.cache_roomnames = QStringLiteral("rn");
    r.group_title = QStringLiteral("gt");
    r._deleted = true;
    r._key = 5;
    const std::vector<int _MsgMessage::*> ints = {
        &_MsgMessage::replace, &_MsgMessage::version, &_MsgMessage::type, &_MsgMessage::error, &_MsgMessage::date,
        &_MsgMessage::date_read, &_MsgMessage::date_delivered, &_MsgMessage::is_delivered, &_MsgMessage::is_finished,
        &_MsgMessage::is_emote, &_MsgMessage::is_from_me, &_MsgMessage::is_empty, &_MsgMessage::is_delayed,
        &_MsgMessage::is_auto_reply, &_MsgMessage::is_prepared, &_MsgMessage::is_read,
        &_MsgMessage::is_system_message, &_MsgMessage::is_sent, &_MsgMessage::has_dd_results,
        &_MsgMessage::is_service_message, &_MsgMessage::is_forward, &_MsgMessage::was_downgraded,
        &_MsgMessage::is_archive, &_MsgMessage::cache_has_attachments, &_MsgMessage::was_data_detected,
        &_MsgMessage::was_deduplicated, &_MsgMessage::is_audio_message, &_MsgMessage::is_played,
        &_MsgMessage::date_played, &_MsgMessage::item_type, &_MsgMessage::other_handle,
        &_MsgMessage::group_action_type, &_MsgMessage::share_status, &_MsgMessage::share_direction,
        &_MsgMessage::is_expirable, &_MsgMessage::expire_state, &_MsgMessage::message_action_type};
    for (int _MsgMessage::*f : ints)
        r.*f = 100 + n++;
    r.chat_identifier = QStringLiteral("ci");
    r.handle = QStringLiteral("h");
    _MsgHandle handle;
    _MsgChat chat;
    _MsgAttachment attachment;
    r.sender = &handle;
    r.chat = &chat;
    r.other = &handle;
    r.attachments.insert(QStringLiteral("1"), &attachment);

    auto sameData = [&](const _MsgMessage &c) {
        EXPECT_EQ(c.rowid, r.rowid);
        EXPECT_EQ(c.guid, r.guid);
        EXPECT_EQ(c.text, r.text);
        EXPECT_EQ(c.service_center, r.service_center);
        EXPECT_EQ(c.handle_id, r.handle_id);
        EXPECT_EQ(c.subject, r.subject);
        EXPECT_EQ(c.country, r.country);
        EXPECT_EQ(c.attributedBody, r.attributedBody);
        EXPECT_EQ(c.service, r.service);
        EXPECT_EQ(c.account, r.account);
        EXPECT_EQ(c.account_guid, r.account_guid);
        EXPECT_EQ(c.cache_roomnames, r.cache_roomnames);
        EXPECT_EQ(c.group_title, r.group_title);
        EXPECT_EQ(c._deleted, r._deleted);
        EXPECT_EQ(c._key, r._key);
        for (size_t i = 0; i < ints.size(); ++i)
            EXPECT_EQ(c.*ints[i], r.*ints[i]) << "integer field " << i;
    };

    const _MsgRecycledMessage copy(r);
    sameData(copy);
    EXPECT_EQ(copy.chat_identifier, r.chat_identifier);
    EXPECT_EQ(copy.handle, r.handle);
    EXPECT_EQ(copy.sender, &handle);
    EXPECT_EQ(copy.chat, &chat);
    EXPECT_EQ(copy.other, &handle);
    EXPECT_EQ(copy.attachments, r.attachments);

    _MsgRecycledMessage assigned;
    assigned = r;
    sameData(assigned);
    EXPECT_EQ(assigned.handle, r.handle);
    EXPECT_EQ(assigned.chat, &chat);

    // A message for a set: the data, none of the links.
    std::unique_ptr<_MsgMessage> fresh(r.newMessage());
    sameData(*fresh);
    EXPECT_EQ(fresh->sender, nullptr);
    EXPECT_EQ(fresh->chat, nullptr);
    EXPECT_EQ(fresh->other, nullptr);
    EXPECT_TRUE(fresh->attachments.isEmpty());
}

} // namespace
