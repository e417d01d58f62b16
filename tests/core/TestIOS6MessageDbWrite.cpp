#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "MessageIdentity.h"
#include "MsgSetBuilder.h"

namespace
{

// A local database (the program's schema) or a device's file.
enum class Kind { Local, Device, DeviceLater };

const char *kindName(Kind k)
{
    switch (k) {
    case Kind::Local:
        return "local database";
    case Kind::Device:
        return "device sms.db";
    case Kind::DeviceLater:
        return "device sms.db with later columns";
    }
    return "";
}

class IOS6MessageDbWriteTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    int folders = 0;

    std::unique_ptr<IOS6MessageDb> open(Kind kind)
    {
        const QDir root(dir.filePath(QString::number(folders++)));
        if (kind != Kind::Local)
            IOS6SmsDbFixture(IOS6SmsDbFixture::smsDbPath(root), IOS6SmsDbFixture::Device, kind == Kind::DeviceLater);
        auto db = std::make_unique<IOS6MessageDb>(root, QString(), kind == Kind::Local);
        db->ensureOpen();
        return db;
    }

    static qint64 count(IOS6MessageDb &db, const QString &table)
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(QStringLiteral("select count(*) from %1").arg(table)));
        return c.moveNext() ? c.getInt64(0) : -1;
    }
    // The first row of a query.
    static Sqlite3Row row(IOS6MessageDb &db, const QString &sql)
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
        return c.moveNext() ? c.getRow() : Sqlite3Row();
    }
};

const QList<Kind> kAllKinds = {Kind::Local, Kind::Device, Kind::DeviceLater};

TEST_F(IOS6MessageDbWriteTest, InsertChatRefusesOtherServicesBeforeWritingAnything)
{
    const QStringList services = {"sms", "", "imessage", "Email", "SMS "};
    auto db = open(Kind::Local);
    MsgSetBuilder b;
    int n = 0;
    for (const QString &service : services) {
        ++n;
        _MsgChat *chat = b.chat(n, QStringLiteral("+1555"));
        chat->service_name = service;
        b.handle(chat, n, QStringLiteral("+1555"));
        try {
            db->insertChat(chat);
            ADD_FAILURE() << "accepted " << service.toStdString();
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(QString::fromUtf8(e.what()),
                      QStringLiteral("IOS6MessageDb::insertChat, invalid chat, service_name:") + service);
        }
    }
    EXPECT_EQ(count(*db, QStringLiteral("chat")), 0);
    EXPECT_EQ(count(*db, QStringLiteral("handle")), 0);
    EXPECT_EQ(count(*db, QStringLiteral("chat_handle_join")), 0);
}

TEST_F(IOS6MessageDbWriteTest, InsertChatWritesGroupIdOnlyWhereTheTableHasIt)
{
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(kindName(kind));
        auto db = open(kind);
        MsgSetBuilder b;
        _MsgChat *derived = b.chat(1, QStringLiteral("+1555"));
        derived->display_name = QStringLiteral("Team");
        _MsgChat *given = b.chat(2, QStringLiteral("+1666"));
        given->group_id = QStringLiteral("MY-GROUP");
        const qint64 a = db->insertChat(derived);
        const qint64 g = db->insertChat(given);
        const Sqlite3Row ra = row(*db, QStringLiteral("select * from chat where rowid=%1").arg(a));
        const Sqlite3Row rg = row(*db, QStringLiteral("select * from chat where rowid=%1").arg(g));
        EXPECT_EQ(ra.value("guid").toString(), derived->guid);
        EXPECT_EQ(ra.value("display_name").toString(), QStringLiteral("Team"));
        EXPECT_TRUE(rg.value("display_name").isNull()) << "an empty display name is not written";
        EXPECT_TRUE(ra.value("room_name").isNull());
        if (kind == Kind::Local) {
            EXPECT_EQ(ra.value("group_id").toString(), guidFromData(derived->guid.toUtf8()));
            EXPECT_EQ(rg.value("group_id").toString(), QStringLiteral("MY-GROUP"));
            EXPECT_EQ(ra.value("_last").toInt(), 0);
        } else {
            EXPECT_FALSE(ra.contains("group_id"));
        }
    }
}

TEST_F(IOS6MessageDbWriteTest, InsertChatIntoATableWithoutDisplayNameOrGroupId)
{
    const QString path = dir.filePath(QStringLiteral("bare/sms.db"));
    {
        IOS6SmsDbFixture device(path, IOS6SmsDbFixture::Device);
        device.db().executeThrow("DROP TABLE chat");
        device.db().executeThrow("CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, "
                                 "style INTEGER, state INTEGER, account_id TEXT, properties BLOB, chat_identifier "
                                 "TEXT, service_name TEXT, room_name TEXT, account_login TEXT, is_archived INTEGER)");
    }
    IOS6MessageDb db(QDir(dir.path()), QString(), false);
    db.setDbPath(path);
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, QStringLiteral("+1555"));
    chat->display_name = QStringLiteral("Named");
    EXPECT_GT(db.insertChat(chat), 0);
}

TEST_F(IOS6MessageDbWriteTest, InsertChatReusesKnownHandlesAndJoinsEveryMember)
{
    auto db = open(Kind::Local);
    MsgSetBuilder b;
    _MsgChat *first = b.chat(1, QStringLiteral("+1555"));
    _MsgHandle *known = b.handle(first, 1, QStringLiteral("+1555"));
    const qint64 firstId = db->insertChat(first);
    const qint64 knownId = db->handleRowid(known);
    ASSERT_GT(knownId, 0);

    _MsgChat *group = b.chat(2, QStringLiteral("chat123456789012345678"));
    group->guid = QStringLiteral("iMessage;+;chat123456789012345678");
    group->service_name = QStringLiteral("iMessage");
    group->style = 43;
    group->handles.insert(QStringLiteral("1"), known);
    b.handle(group, 2, QStringLiteral("+1666"));
    const qint64 groupId = db->insertChat(group);
    EXPECT_NE(groupId, firstId);
    EXPECT_EQ(count(*db, QStringLiteral("handle")), 2) << "the known handle is not inserted again";
    EXPECT_TRUE(db->hasChatHandle(groupId, knownId));
    EXPECT_TRUE(db->hasChatHandle(firstId, knownId));
    EXPECT_EQ(count(*db, QStringLiteral("chat_handle_join")), 3);
}

TEST_F(IOS6MessageDbWriteTest, InsertHandleWritesContactColumnsOnlyIntoLocalDatabases)
{
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(kindName(kind));
        auto db = open(kind);
        MsgSetBuilder b;
        _MsgHandle *named = b.handle(nullptr, 1, QStringLiteral("+1555"), QStringLiteral("Ann"));
        named->_photo = QByteArray("\x89PNG", 4);
        named->country = QStringLiteral("us");
        _MsgHandle *bare = b.handle(nullptr, 2, QStringLiteral("bob@example.com"));
        bare->service = QStringLiteral("iMessage");
        const qint64 n = db->insertHandle(named);
        const qint64 e = db->insertHandle(bare);
        const Sqlite3Row rn = row(*db, QStringLiteral("select * from handle where rowid=%1").arg(n));
        const Sqlite3Row re = row(*db, QStringLiteral("select * from handle where rowid=%1").arg(e));
        EXPECT_EQ(rn.value("country").toString(), QStringLiteral("us"));
        EXPECT_TRUE(re.value("country").isNull()) << "an empty country is not written";
        EXPECT_TRUE(re.value("uncanonicalized_id").isNull());
        EXPECT_EQ(re.value("service").toString(), QStringLiteral("iMessage"));
        if (kind == Kind::Local) {
            EXPECT_EQ(rn.value("_ct_name").toString(), QStringLiteral("Ann"));
            EXPECT_EQ(rn.value("_photo").toByteArray(), QByteArray("\x89PNG", 4));
            EXPECT_FALSE(re.value("_ct_name").isNull()) << "written also when empty";
        } else {
            EXPECT_FALSE(rn.contains("_ct_name"));
        }
        EXPECT_EQ(db->handleRowid(bare), e);
        _MsgHandle other;
        other.id = QStringLiteral("bob@example.com");
        EXPECT_EQ(db->handleRowid(&other), 0) << "same id, other service";
    }
}

TEST_F(IOS6MessageDbWriteTest, InsertMessageWritesTheColumnsEachFileHas)
{
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(kindName(kind));
        auto db = open(kind);
        MsgSetBuilder b;
        _MsgChat *chat = b.chat(1, QStringLiteral("+1555"));
        _MsgHandle *h = b.handle(chat, 1, QStringLiteral("+1555"));
        _MsgMessage *m = b.message(chat, 1, 1000, QStringLiteral("hello"), h);
        m->guid = QStringLiteral("M-1");
        m->service = QStringLiteral("SMS");
        m->is_from_me = 1;
        m->is_audio_message = 1;
        m->date_played = 1200;
        m->group_title = QStringLiteral("Title");
        m->message_action_type = 3;
        m->attributedBody = QByteArray("body");
        const qint64 id = db->insertMessage(m, 7, 9);
        const Sqlite3Row r = row(*db, QStringLiteral("select * from message where rowid=%1").arg(id));
        EXPECT_EQ(r.value("guid").toString(), QStringLiteral("M-1"));
        EXPECT_EQ(r.value("text").toString(), QStringLiteral("hello"));
        EXPECT_EQ(r.value("handle_id").toLongLong(), 7) << "the argument, not the record's handle_id";
        EXPECT_EQ(r.value("date").toInt(), 1000);
        EXPECT_EQ(r.value("is_from_me").toInt(), 1);
        EXPECT_EQ(r.value("attributedBody").toByteArray(), QByteArray("body"));
        EXPECT_TRUE(r.value("subject").isNull());
        EXPECT_TRUE(r.value("service_center").isNull());
        EXPECT_FALSE(r.value("cache_roomnames").isNull()) << "written also when empty";
        const bool later = kind != Kind::Device;
        EXPECT_EQ(r.contains("is_audio_message"), later);
        if (later) {
            EXPECT_EQ(r.value("is_audio_message").toInt(), 1);
            EXPECT_EQ(r.value("date_played").toInt(), 1200);
            EXPECT_EQ(r.value("other_handle").toLongLong(), 9);
            EXPECT_EQ(r.value("group_title").toString(), QStringLiteral("Title"));
            EXPECT_EQ(r.value("message_action_type").toInt(), 3);
        }
        EXPECT_EQ(r.contains("logic_hash"), kind == Kind::Local);
        if (kind == Kind::Local) {
            EXPECT_EQ(r.value("logic_hash").toString(), messageFingerprint(m));
        }
        EXPECT_EQ(db->messageRowid(QStringLiteral("M-1")), id);
        EXPECT_EQ(db->messageRowidByLogicHash(m), kind == Kind::Local ? id : 0);
    }
}

TEST_F(IOS6MessageDbWriteTest, EveryMessageFieldReadsBackAsItWasWritten)
{
    // Each field gets a value of its own, so a column the writer names but the
    // reader does not (or the other way round), or two columns swapped, shows.
    struct IntField
    {
        const char *name;
        int _MsgMessage::*field;
    };
    const IntField ints[] = {
        {"replace", &_MsgMessage::replace},
        {"version", &_MsgMessage::version},
        {"type", &_MsgMessage::type},
        {"error", &_MsgMessage::error},
        {"date", &_MsgMessage::date},
        {"date_read", &_MsgMessage::date_read},
        {"date_delivered", &_MsgMessage::date_delivered},
        {"is_delivered", &_MsgMessage::is_delivered},
        {"is_finished", &_MsgMessage::is_finished},
        {"is_emote", &_MsgMessage::is_emote},
        {"is_from_me", &_MsgMessage::is_from_me},
        {"is_empty", &_MsgMessage::is_empty},
        {"is_delayed", &_MsgMessage::is_delayed},
        {"is_auto_reply", &_MsgMessage::is_auto_reply},
        {"is_prepared", &_MsgMessage::is_prepared},
        {"is_read", &_MsgMessage::is_read},
        {"is_system_message", &_MsgMessage::is_system_message},
        {"is_sent", &_MsgMessage::is_sent},
        {"has_dd_results", &_MsgMessage::has_dd_results},
        {"is_service_message", &_MsgMessage::is_service_message},
        {"is_forward", &_MsgMessage::is_forward},
        {"was_downgraded", &_MsgMessage::was_downgraded},
        {"is_archive", &_MsgMessage::is_archive},
        {"cache_has_attachments", &_MsgMessage::cache_has_attachments},
        {"was_data_detected", &_MsgMessage::was_data_detected},
        {"was_deduplicated", &_MsgMessage::was_deduplicated},
        {"is_audio_message", &_MsgMessage::is_audio_message},
        {"is_played", &_MsgMessage::is_played},
        {"date_played", &_MsgMessage::date_played},
        {"item_type", &_MsgMessage::item_type},
        {"group_action_type", &_MsgMessage::group_action_type},
        {"share_status", &_MsgMessage::share_status},
        {"share_direction", &_MsgMessage::share_direction},
        {"is_expirable", &_MsgMessage::is_expirable},
        {"expire_state", &_MsgMessage::expire_state},
        {"message_action_type", &_MsgMessage::message_action_type},
    };
    struct TextField
    {
        const char *name;
        QString _MsgMessage::*field;
    };
    const TextField texts[] = {
        {"guid", &_MsgMessage::guid},
        {"text", &_MsgMessage::text},
        {"service_center", &_MsgMessage::service_center},
        {"subject", &_MsgMessage::subject},
        {"country", &_MsgMessage::country},
        {"service", &_MsgMessage::service},
        {"account", &_MsgMessage::account},
        {"account_guid", &_MsgMessage::account_guid},
        {"cache_roomnames", &_MsgMessage::cache_roomnames},
        {"group_title", &_MsgMessage::group_title},
    };
    for (Kind kind : {Kind::Local, Kind::DeviceLater}) {
        SCOPED_TRACE(kindName(kind));
        auto db = open(kind);
        MsgSetBuilder b;
        _MsgChat *chat = b.chat(1, QStringLiteral("+1555"));
        _MsgHandle *h = b.handle(chat, 1, QStringLiteral("+1555"));
        _MsgHandle *other = b.handle(chat, 2, QStringLiteral("+1666"));
        _MsgMessage *m = b.message(chat, 1, 1000, QStringLiteral("hello"), h);
        int value = 11;
        for (const IntField &f : ints)
            m->*f.field = value++;
        for (const TextField &f : texts)
            m->*f.field = QStringLiteral("%1 value").arg(QLatin1String(f.name));
        m->attributedBody = QByteArray("body bytes");

        // The chat brings its members' handles.
        const qint64 chatId = db->insertChat(chat);
        const qint64 handleId = db->handleRowid(h);
        const qint64 otherId = db->handleRowid(other);
        ASSERT_GT(handleId, 0);
        ASSERT_GT(otherId, 0);
        db->addChatMessage(chatId, db->insertMessage(m, handleId, otherId));

        MsgDataSet loaded = MsgDataSet::create();
        db->chats(loaded);
        db->messages(loaded, 0);
        ASSERT_EQ(loaded.data()->messages.size(), 1);
        const _MsgMessage *r = *loaded.data()->messages.cbegin();
        for (const IntField &f : ints)
            EXPECT_EQ(r->*f.field, m->*f.field) << f.name;
        for (const TextField &f : texts)
            EXPECT_EQ(r->*f.field, m->*f.field) << f.name;
        EXPECT_EQ(r->attributedBody, m->attributedBody);
        EXPECT_EQ(r->handle_id, handleId);
        EXPECT_EQ(r->other_handle, otherId);
    }
}

TEST_F(IOS6MessageDbWriteTest, OtherHandleAndLogicHashArguments)
{
    struct Case
    {
        const char *label;
        qint64 other;
        QString logicHash;
        qint64 storedOther;
        bool fingerprint; // else the logicHash argument
    };
    const QList<Case> cases = {
        {"no other handle", 0, QString(), -1, true},
        {"negative other handle", -5, QString(), -1, true},
        {"other handle", 12, QString(), 12, true},
        {"given logic hash", 0, QStringLiteral("0123456789abcdef0123456789abcdef"), -1, false},
    };
    auto db = open(Kind::Local);
    MsgSetBuilder b;
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ++n;
        _MsgMessage *m = b.message(nullptr, n, 100 + n, QStringLiteral("x"));
        m->guid = QStringLiteral("G-%1").arg(n);
        const qint64 id = db->insertMessage(m, 0, c.other, c.logicHash);
        const Sqlite3Row r = row(*db, QStringLiteral("select * from message where rowid=%1").arg(id));
        EXPECT_EQ(r.value("other_handle").toLongLong(), c.storedOther);
        EXPECT_EQ(r.value("logic_hash").toString(), c.fingerprint ? messageFingerprint(m) : c.logicHash);
    }
}

TEST_F(IOS6MessageDbWriteTest, InsertAttachmentWritesOptionalColumnsWhereTheyExist)
{
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(kindName(kind));
        auto db = open(kind);
        MsgSetBuilder b;
        _MsgAttachment *a = b.attachment(nullptr, 1, QStringLiteral("~/Library/SMS/Attachments/a.jpg"),
                                         QStringLiteral("image/jpeg"));
        a->transfer_name = QStringLiteral("a.jpg");
        a->total_bytes = 5000000000LL;
        a->user_info = QByteArray("info");
        a->_local_path = QStringLiteral("/somewhere/a.jpg");
        _MsgAttachment *plain = b.attachment(nullptr, 2, QStringLiteral("b.txt"));
        const qint64 id = db->insertAttachment(a);
        const qint64 pid = db->insertAttachment(plain);
        const Sqlite3Row r = row(*db, QStringLiteral("select * from attachment where rowid=%1").arg(id));
        const Sqlite3Row rp = row(*db, QStringLiteral("select * from attachment where rowid=%1").arg(pid));
        EXPECT_EQ(r.value("filename").toString(), a->filename);
        EXPECT_EQ(r.value("transfer_state").toInt(), 5);
        const bool extras = kind != Kind::Device;
        EXPECT_EQ(r.contains("total_bytes"), extras);
        if (extras) {
            EXPECT_EQ(r.value("total_bytes").toLongLong(), 5000000000LL);
            EXPECT_EQ(r.value("transfer_name").toString(), QStringLiteral("a.jpg"));
            EXPECT_EQ(r.value("user_info").toByteArray(), QByteArray("info"));
            EXPECT_TRUE(rp.value("transfer_name").isNull());
            EXPECT_TRUE(rp.value("user_info").isNull());
        }
        EXPECT_EQ(db->attachmentRowid(a), id);
    }
}

TEST_F(IOS6MessageDbWriteTest, LookUpsOfAbsentKeysGiveZero)
{
    auto db = open(Kind::Local);
    MsgSetBuilder b;
    _MsgAttachment *a = b.attachment(nullptr, 1, QStringLiteral("x"));
    _MsgHandle *h = b.handle(nullptr, 1, QStringLiteral("+1"));
    _MsgMessage *m = b.message(nullptr, 1, 1, QStringLiteral("t"));
    EXPECT_EQ(db->chatRowid(QStringLiteral("nope")), 0);
    EXPECT_EQ(db->messageRowid(QStringLiteral("nope")), 0);
    EXPECT_EQ(db->attachmentRowid(a), 0);
    EXPECT_EQ(db->handleRowid(h), 0);
    EXPECT_FALSE(db->hasChatHandle(1, 1));
    EXPECT_EQ(db->messageRowidByLogicHash(m), 0);
}

// The stored guids and logic hashes are visited once each, with their rows,
// over many batches of rows; a logic hash that is NULL or a blob is left out.
TEST_F(IOS6MessageDbWriteTest, VisitsGiveEveryStoredGuidAndTextLogicHash)
{
    auto db = open(Kind::Local);
    using Pair = std::pair<qint64, QByteArray>;
    std::vector<Pair> guids;
    std::vector<Pair> hashes;
    db->beginTran();
    for (int i = 0; i < 1300; ++i) {
        const QByteArray guid = "guid-\xc3\xa9-" + QByteArray::number(i);
        Sqlite3Sql sql("insert into message(guid, logic_hash) values(?, ?)");
        sql.addTextParam(QString::fromUtf8(guid));
        QByteArray hash;
        switch (i % 5) {
        case 0:
            sql.addNullParam();
            break;
        case 1:
            // The column's text affinity stores it as its decimal text.
            hash = QByteArray::number(i);
            sql.addInt64Param(i);
            break;
        case 2:
            sql.addBlobParam(QByteArray("\x01\x02", 2));
            break;
        case 3:
            hash = "";
            sql.addTextParam(QString(""));
            break;
        default:
            hash = QByteArray::number(i * 7919, 16);
            sql.addTextParam(QString::fromLatin1(hash));
        }
        db->executeThrow(sql);
        const qint64 rowid = db->lastInsertId();
        guids.emplace_back(rowid, guid);
        if (i % 5 == 1 || i % 5 >= 3)
            hashes.emplace_back(rowid, hash);
    }
    db->commitTran();

    std::vector<Pair> seen;
    db->visitMessageGuids([&](qint64 rowid, QByteArrayView guid) { seen.emplace_back(rowid, guid.toByteArray()); });
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, guids);
    seen.clear();
    db->visitMessageLogicHashes([&](qint64 rowid, QByteArrayView hash) {
        EXPECT_FALSE(hash.isNull()) << rowid;
        seen.emplace_back(rowid, hash.toByteArray());
    });
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, hashes);
    // The connection is free for the caller again.
    EXPECT_EQ(count(*db, QStringLiteral("message")), 1300);
}

TEST_F(IOS6MessageDbWriteTest, JoinsAreKeptOnceAndLastDateOnlyRises)
{
    for (Kind kind : {Kind::Local, Kind::Device}) {
        SCOPED_TRACE(kindName(kind));
        auto db = open(kind);
        MsgSetBuilder b;
        const qint64 chat = db->insertChat(b.chat(1, QStringLiteral("+1555")));
        for (int i = 0; i < 2; ++i) {
            db->addChatHandle(chat, 4);
            db->addChatMessage(chat, 5);
            db->addMessageAttachment(5, 6);
        }
        EXPECT_EQ(count(*db, QStringLiteral("chat_handle_join")), 1);
        EXPECT_EQ(count(*db, QStringLiteral("chat_message_join")), 1);
        EXPECT_EQ(count(*db, QStringLiteral("message_attachment_join")), 1);

        db->setLastAddressedHandle(chat, QStringLiteral("+1777"));
        EXPECT_EQ(row(*db, QStringLiteral("select last_addressed_handle from chat")).value("last_addressed_handle").toString(),
                  QStringLiteral("+1777"));

        // Without a _last column the updates do nothing and fail on nothing.
        const QList<QPair<int, int>> steps = {{500, 500}, {300, 500}, {500, 500}, {900, 900}, {-1, 900}};
        for (const auto &step : steps) {
            db->updateChatLast(chat, step.first);
            if (kind == Kind::Local) {
                EXPECT_EQ(row(*db, QStringLiteral("select _last from chat")).value("_last").toInt(), step.second)
                    << step.first;
            }
        }
    }
}

class IOS6MessageDbDeleteTest : public IOS6MessageDbWriteTest
{
protected:
    // A local database holding chat A (messages 1 and 2 from +1555, message 2
    // with an attachment) and chat B (message 3 from +1666), all read back
    // into a set as the window would hold them.
    void SetUp() override
    {
        db = open(Kind::Local);
        MsgSetBuilder b;
        _MsgChat *a = b.chat(1, QStringLiteral("+1555"));
        _MsgHandle *ha = b.handle(a, 1, QStringLiteral("+1555"));
        _MsgChat *c = b.chat(2, QStringLiteral("+1666"));
        _MsgHandle *hb = b.handle(c, 2, QStringLiteral("+1666"));
        const qint64 ca = db->insertChat(a);
        const qint64 cb = db->insertChat(c);
        const QList<std::tuple<qint64, _MsgHandle *, int>> msgs = {{ca, ha, 1}, {ca, ha, 2}, {cb, hb, 3}};
        for (const auto &[chatId, h, n] : msgs) {
            _MsgMessage *m = b.message(nullptr, n, n * 100, QStringLiteral("m%1").arg(n), h);
            m->guid = QStringLiteral("G-%1").arg(n);
            const qint64 id = db->insertMessage(m, db->handleRowid(h), 0);
            db->addChatMessage(chatId, id);
            if (n == 2) {
                _MsgAttachment *att = b.attachment(m, 1, QStringLiteral("a.jpg"));
                db->addMessageAttachment(id, db->insertAttachment(att));
            }
        }
        db->chats(loaded);
        db->messages(loaded, 0);
        ASSERT_EQ(loaded.data()->messages.size(), 3);
    }
    _MsgMessage *loadedMessage(int n) const { return loaded.data()->messages.value(n); }

    std::unique_ptr<IOS6MessageDb> db;
    MsgDataSet loaded = MsgDataSet::create();
};

TEST_F(IOS6MessageDbDeleteTest, OneOfSeveralKeepsTheChat)
{
    EXPECT_TRUE(db->deleteMessage(loadedMessage(1)));
    EXPECT_EQ(count(*db, QStringLiteral("message")), 2);
    EXPECT_EQ(count(*db, QStringLiteral("chat")), 2);
    EXPECT_EQ(count(*db, QStringLiteral("chat_message_join")), 2);
    EXPECT_EQ(count(*db, QStringLiteral("handle")), 2) << "the handle still has a message";
}

TEST_F(IOS6MessageDbDeleteTest, EveryMessageOfAChatRemovesTheChatAndItsJoins)
{
    EXPECT_TRUE(db->deleteMessage(loadedMessage(1)));
    EXPECT_TRUE(db->deleteMessage(loadedMessage(2)));
    EXPECT_EQ(db->chatRowid(QStringLiteral("SMS;-;+1555")), 0);
    EXPECT_EQ(row(*db, QStringLiteral("select count(*) as n from chat_handle_join where chat_id=1")).value("n").toInt(), 0);
    EXPECT_EQ(count(*db, QStringLiteral("message_attachment_join")), 0);
    EXPECT_EQ(count(*db, QStringLiteral("attachment")), 0);
    // The handle of the removed chat is referred to by nothing any more.
    EXPECT_EQ(count(*db, QStringLiteral("handle")), 1);
    EXPECT_EQ(count(*db, QStringLiteral("chat")), 1);
    EXPECT_EQ(count(*db, QStringLiteral("message")), 1);
}

TEST_F(IOS6MessageDbDeleteTest, AMessageWithoutAChatLeavesTheChats)
{
    _MsgMessage *m = loadedMessage(3);
    _MsgChat *chat = m->chat;
    m->chat = nullptr;
    EXPECT_TRUE(db->deleteMessage(m));
    m->chat = chat;
    EXPECT_EQ(count(*db, QStringLiteral("message")), 2);
    EXPECT_EQ(count(*db, QStringLiteral("chat_message_join")), 2);
    EXPECT_EQ(count(*db, QStringLiteral("chat")), 2) << "without a chat no chat is touched";
}

TEST_F(IOS6MessageDbDeleteTest, RecordsWithoutARowHereDeleteNothing)
{
    MsgSetBuilder b;
    _MsgMessage *recycled = b.message(loadedMessage(1)->chat, 2047483649, 100, QStringLiteral("m1"));
    recycled->rowid = -2047483649;
    recycled->_deleted = true;
    recycled->guid = QStringLiteral("G-1");
    _MsgMessage *recycledPositive = b.message(loadedMessage(1)->chat, 1, 100, QStringLiteral("m1"));
    recycledPositive->_deleted = true;
    recycledPositive->guid = QStringLiteral("G-1");
    // Another source's message that happens to share rowid 1.
    _MsgMessage *foreign = b.message(loadedMessage(1)->chat, 2, 100, QStringLiteral("m1"));
    foreign->rowid = 1;
    foreign->guid = QStringLiteral("OTHER");
    _MsgMessage *gone = b.message(loadedMessage(1)->chat, 99, 100, QStringLiteral("gone"));
    gone->guid = QStringLiteral("G-99");

    for (_MsgMessage *m : {recycled, recycledPositive, foreign, gone})
        EXPECT_FALSE(db->deleteMessage(m)) << m->guid.toStdString() << " " << m->rowid;
    EXPECT_FALSE(db->deleteMessage(nullptr));
    EXPECT_EQ(count(*db, QStringLiteral("message")), 3);
    EXPECT_EQ(count(*db, QStringLiteral("chat_message_join")), 3);
    EXPECT_EQ(count(*db, QStringLiteral("chat")), 2);
}

TEST_F(IOS6MessageDbWriteTest, DeletingFromADeviceFileRunsItsTriggers)
{
    auto db = open(Kind::Device);
    // Written by the program: the attachment triggers call the phone's
    // functions when the attachment row goes.
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, QStringLiteral("+1555"));
    _MsgHandle *h = b.handle(chat, 1, QStringLiteral("+1555"));
    _MsgMessage *m = b.message(chat, 1, 10, QStringLiteral("pic"), h);
    m->guid = QStringLiteral("G-1");
    const qint64 chatId = db->insertChat(chat);
    m->rowid = db->insertMessage(m, db->handleRowid(h), 0);
    db->addChatMessage(chatId, m->rowid);
    db->addMessageAttachment(m->rowid, db->insertAttachment(b.attachment(m, 1, QStringLiteral("a.jpg"))));
    chat->rowid = chatId;
    EXPECT_TRUE(db->deleteMessage(m));
    EXPECT_EQ(count(*db, QStringLiteral("attachment")), 0);
    EXPECT_EQ(count(*db, QStringLiteral("chat")), 0);
    EXPECT_EQ(count(*db, QStringLiteral("handle")), 0);
}

} // namespace

namespace
{

// Deleting in a batch holds the orphan trigger back and sweeps once; the
// file must end up exactly as deleting one by one with the trigger leaves it.
TEST_F(IOS6MessageDbDeleteTest, ABatchOfDeletionsEndsLikeOneByOne)
{
    // A message joined to no conversation: the trigger sweeps it away with
    // the first deletion of a join row.
    db->executeThrow("insert into message(guid, text, handle_id, date) values('ORPHAN', 'x', 2, 1)");
    const QString path = db->dbFilePath();
    const QString copy = dir.filePath(QStringLiteral("copy.db"));
    db->close();
    ASSERT_TRUE(QFile::copy(path, copy));
    auto dump = [](IOS6MessageDb &d) {
        QStringList all;
        for (const char *table : {"message", "chat", "handle", "chat_handle_join", "chat_message_join",
                                  "message_attachment_join", "attachment"}) {
            Sqlite3Cursor c = d.queryThrow(Sqlite3Sql(QStringLiteral("select * from %1").arg(QLatin1String(table))));
            while (c.moveNext()) {
                QStringList values;
                const Sqlite3Row r = c.getRow();
                for (const auto &item : r.items())
                    values.append(item.second.toString());
                all.append(QLatin1String(table) + QLatin1Char(':') + values.join(QLatin1Char('|')));
            }
        }
        Sqlite3Cursor t = d.queryThrow(Sqlite3Sql("select sql from sqlite_master where name='clean_orphaned_messages'"));
        all.append(t.moveNext() ? t.getText(QStringLiteral("sql")) : QStringLiteral("no trigger"));
        return all;
    };

    const QList<_MsgMessage *> doomed = {loadedMessage(1), loadedMessage(2)};
    db->beginTransaction();
    for (_MsgMessage *m : doomed)
        EXPECT_TRUE(db->deleteMessage(m));
    db->endTransaction(true);
    const QStringList oneByOne = dump(*db);
    EXPECT_FALSE(oneByOne.join(QLatin1Char('\n')).contains(QStringLiteral("ORPHAN")));

    IOS6MessageDb batch(QDir(dir.path()), QString(), true);
    batch.setDbPath(copy);
    batch.beginTransaction();
    batch.beginDeletes();
    EXPECT_EQ(batch.queryThrow(Sqlite3Sql("select 1 from sqlite_master where name='clean_orphaned_messages'")).moveNext(),
              false)
        << "held back while the batch runs";
    for (_MsgMessage *m : doomed)
        EXPECT_TRUE(batch.deleteMessage(m));
    batch.endDeletes();
    batch.endTransaction(true);
    EXPECT_EQ(dump(batch), oneByOne);

    // Rolled back, the trigger is there again as it was.
    batch.beginTransaction();
    batch.beginDeletes();
    batch.deleteMessage(loadedMessage(3));
    batch.endTransaction(false);
    batch.deletesRolledBack();
    EXPECT_EQ(dump(batch), oneByOne);
}

} // namespace
