#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "CaseName.h"
#include "IOS6DeletedRecordScan.h"
#include "IOS6MessageDb.h"
#include "IOS11SmsDbFixture.h"
#include "IOS6SmsDbFixture.h"
#include "MsgDataSet.h"
#include "RecordingProgress.h"
#include "Sqlite3DB.h"
#include "SqliteImage.h"

namespace
{

using Row = Sqlite3File::_Row;

// India (MCC 404): ten-digit mobile numbers beginning 7 to 9 get "+91".
const QString kMcc = QStringLiteral("404");

QString number(int n)
{
    return QStringLiteral("98765%1").arg(n, 5, 10, QLatin1Char('0'));
}
QString numberId(int n)
{
    return QStringLiteral("+91") + number(n);
}
QString guidOf(qint64 n)
{
    return QStringLiteral("ABCDEF00-0000-0000-0000-%1").arg(n, 12, 10, QLatin1Char('0'));
}

struct StoredMessage
{
    QString guid;
    QString text;
    QString chatIdentifier;
    QString handle;
    qint64 srcRowid = 0;
};

struct StoredHandle
{
    QString id;
    QString service;
    QString uncanonicalized;
    qint64 srcRowid = 0;
};

// A phone's sms.db of the first iOS 6 layout (38 message columns), or of
// the later one (51).
class IOS6Scan : public ::testing::Test
{
protected:
    explicit IOS6Scan(bool later = false)
        : fx(IOS6SmsDbFixture::smsDbPath(QDir(dir.path())), IOS6SmsDbFixture::Device, later)
    {
        if (later)
            fx.db().executeThrow("ALTER TABLE message ADD COLUMN message_source INTEGER DEFAULT 0");
        keepDeletedBytes(fx.db(), 4096);
    }

    IOS6MessageDb &reader()
    {
        if (!m_reader)
            m_reader = std::make_unique<IOS6MessageDb>(QDir(dir.path()), kMcc, false);
        return *m_reader;
    }

    // The live conversations with their handles, in rowid order.
    QList<_MsgChat *> chats()
    {
        m_set = MsgDataSet::create();
        reader().chats(m_set);
        QList<_MsgChat *> list = m_set.data()->chats.values();
        std::sort(list.begin(), list.end(), [](const _MsgChat *a, const _MsgChat *b) { return a->rowid < b->rowid; });
        return list;
    }

    qint64 message(qint64 chat, qint64 handle, qint64 n, int itemType = 0)
    {
        return fx.addMessage(chat, handle, guidOf(n), QStringLiteral("message %1 %2").arg(n).arg(QString(20, u'z')),
                             400000000 + static_cast<int>(n), static_cast<int>(n % 2), itemType);
    }

    void erase(const QString &table, const QString &where)
    {
        fx.db().executeThrow(Sqlite3Sql(QStringLiteral("DELETE FROM %1 WHERE %2").arg(table, where)));
    }

    std::unique_ptr<Sqlite3DB> recycle()
    {
        auto db = std::make_unique<Sqlite3DB>();
        if (QFileInfo::exists(reader().recycleDb()->path()))
            db->openThrow(reader().recycleDb()->path(), Sqlite3DB::ReadOnly);
        return db;
    }

    QList<StoredMessage> storedMessages()
    {
        QList<StoredMessage> rows;
        auto db = recycle();
        if (!db->isOpen())
            return rows;
        Sqlite3Cursor c = db->queryThrow("select guid, text, chat_identifier, handle, src_rowid from message order by rowid");
        while (c.moveNext())
            rows.append({c.getText(QStringLiteral("guid")), c.getText(QStringLiteral("text")),
                         c.getText(QStringLiteral("chat_identifier")), c.getText(QStringLiteral("handle")),
                         c.getInt64(QStringLiteral("src_rowid"))});
        return rows;
    }

    QList<StoredHandle> storedHandles()
    {
        QList<StoredHandle> rows;
        auto db = recycle();
        if (!db->isOpen())
            return rows;
        Sqlite3Cursor c = db->queryThrow("select id, service, uncanonicalized_id, src_rowid from handle order by rowid");
        while (c.moveNext())
            rows.append({c.getText(QStringLiteral("id")), c.getText(QStringLiteral("service")),
                         c.getText(QStringLiteral("uncanonicalized_id")), c.getInt64(QStringLiteral("src_rowid"))});
        return rows;
    }

    static const StoredMessage *byGuid(const QList<StoredMessage> &rows, const QString &guid)
    {
        for (const StoredMessage &r : rows) {
            if (r.guid == guid)
                return &r;
        }
        return nullptr;
    }

    int leafPagesOf(const QString &table)
    {
        Sqlite3Cursor c = fx.db().queryThrow(
            Sqlite3Sql("SELECT count(*) AS n FROM dbstat WHERE name=? AND pagetype='leaf'").addTextParam(table));
        return c.moveNext() ? c.getInt(QStringLiteral("n")) : 0;
    }

    QTemporaryDir dir;
    IOS6SmsDbFixture fx;

private:
    std::unique_ptr<IOS6MessageDb> m_reader;
    MsgDataSet m_set;
};

class IOS6ScanLater : public IOS6Scan
{
protected:
    IOS6ScanLater()
        : IOS6Scan(true)
    {
    }
};

// --- handles ---------------------------------------------------------------------

TEST_F(IOS6Scan, DeletedHandlesAreStoredOnceWithTheirNumbersNormalised)
{
    fx.begin();
    for (int n = 1; n <= 30; ++n)
        fx.addHandle(number(n), n % 2 ? QStringLiteral("SMS") : QStringLiteral("iMessage"), QStringLiteral("in"));
    const qint64 mail = fx.addHandle(QStringLiteral("Friend@Example.com"), QStringLiteral("iMessage"));
    const qint64 foreign = fx.addHandle(QStringLiteral("0123 456"), QStringLiteral("SMS"), QStringLiteral("zz"));
    const qint64 plain = fx.addHandle(number(77), QStringLiteral("SMS"));
    fx.commit();
    erase(QStringLiteral("handle"),
          QStringLiteral("ROWID IN (4, 5, 6, 17, %1, %2, %3)").arg(mail).arg(foreign).arg(plain));

    readRawHandles(reader(), nullptr);
    const QList<StoredHandle> rows = storedHandles();
    QSet<QString> ids;
    for (const StoredHandle &h : rows) {
        ids.insert(h.id + QLatin1Char('/') + h.service);
        if (h.srcRowid != 0) {
            // A stored rowid is the one the handle had.
            const QString expected = h.srcRowid <= 30 ? numberId(static_cast<int>(h.srcRowid))
                : h.srcRowid == mail              ? QStringLiteral("friend@example.com")
                : h.srcRowid == foreign           ? QStringLiteral("0123 456")
                                                  : numberId(77);
            EXPECT_EQ(h.id, expected);
        }
    }
    EXPECT_EQ(ids, (QSet<QString>{numberId(4) + "/iMessage", numberId(5) + "/SMS", numberId(6) + "/iMessage",
                                  numberId(17) + "/SMS", "friend@example.com/iMessage",
                                  // an unknown country leaves the number as stored
                                  "0123 456/SMS",
                                  // no country: the current one
                                  numberId(77) + "/SMS"}));
    EXPECT_EQ(rows.size(), 7);

    readRawHandles(reader(), nullptr);
    EXPECT_EQ(storedHandles().size(), 7);
    EXPECT_FALSE(reader().recycleDb()->inTransaction());
}

// --- messages --------------------------------------------------------------------

TEST_F(IOS6ScanLater, DeletedMessagesJoinTheConversationOfTheirHandle)
{
    fx.begin();
    const qint64 asha = fx.addHandle(number(1), QStringLiteral("SMS"), QStringLiteral("in"));
    const qint64 bina = fx.addHandle(number(2), QStringLiteral("SMS"), QStringLiteral("in"));
    const qint64 gone = fx.addHandle(number(3), QStringLiteral("SMS"), QStringLiteral("in"));
    const qint64 below = fx.addHandle(number(4), QStringLiteral("SMS"), QStringLiteral("in"));
    fx.addHandle(number(5), QStringLiteral("SMS"), QStringLiteral("in"));
    // The group is made first, so a map in list order meets it first.
    const qint64 group = fx.addChat(QStringLiteral("G"), QStringLiteral("chat900"), QStringLiteral("SMS"), 43);
    fx.joinChatHandle(group, asha);
    fx.joinChatHandle(group, bina);
    const qint64 single = fx.addChat(QStringLiteral("S"), numberId(1));
    fx.joinChatHandle(single, asha);
    // Deleting a few rows from the middle of several full leaf pages leaves
    // them where they are: emptier pages would be merged and rewritten.
    const qint64 fromGone = message(0, gone, 31);
    const qint64 event = message(group, bina, 32, 1);
    for (qint64 n = 1; n <= 30; ++n)
        message(n % 3 == 0 ? group : single, n % 3 == 0 ? bina : asha, n);
    for (qint64 n = 40; n <= 90; ++n)
        message(single, asha, n);
    fx.commit();
    ASSERT_GT(leafPagesOf(QStringLiteral("message")), 2);
    erase(QStringLiteral("message"), QStringLiteral("guid IN ('%1', '%2', '%3', '%4', '%5')")
                                         .arg(guidOf(4), guidOf(9), guidOf(20), guidOf(31), guidOf(32)));
    // A freed cell's first four bytes become the freeblock's link and size,
    // which takes its rowid; the handle's is kept when the cell below it was
    // freed first and the two blocks merge (the cell of handle 5 keeps them
    // off the top of the cell content, which would simply move).
    erase(QStringLiteral("handle"), QStringLiteral("ROWID = %1").arg(below));
    erase(QStringLiteral("handle"), QStringLiteral("ROWID = %1").arg(gone));
    (void)fromGone;
    (void)event;

    readRawHandles(reader(), nullptr);
    readRawMessages(reader(), chats(), nullptr);
    const QList<StoredMessage> rows = storedMessages();
    ASSERT_EQ(rows.size(), 4);
    struct Expect
    {
        qint64 n;
        QString chat;
        QString handle;
    };
    for (const Expect &e : {Expect{4, numberId(1), numberId(1)},  // one-to-one before the group
                            Expect{20, numberId(1), numberId(1)},
                            Expect{9, QStringLiteral("chat900"), numberId(2)}, // the sender, not the first member
                            Expect{31, numberId(3), numberId(3)}}) {           // the recycled handle
        const StoredMessage *m = byGuid(rows, guidOf(e.n));
        ASSERT_NE(m, nullptr) << e.n;
        EXPECT_EQ(m->chatIdentifier, e.chat) << e.n;
        EXPECT_EQ(m->handle, e.handle) << e.n;
        EXPECT_TRUE(m->text.startsWith(QStringLiteral("message %1 ").arg(e.n)));
    }
    EXPECT_EQ(byGuid(rows, guidOf(32)), nullptr); // a group event

    readRawMessages(reader(), chats(), nullptr);
    EXPECT_EQ(storedMessages().size(), 4);
}

// A message of no conversation takes the address of its handle where the
// file still has the handle's row: here the live table.
TEST_F(IOS6Scan, AMessageOfNoConversationTakesTheAddressOfItsLiveHandle)
{
    const qint64 kept = fx.addHandle(number(3), QStringLiteral("SMS"), QStringLiteral("in"));
    for (qint64 n = 1; n <= 5; ++n)
        message(0, kept, n);
    erase(QStringLiteral("message"), QStringLiteral("ROWID = 2"));
    readRawMessages(reader(), chats(), nullptr);
    const QList<StoredMessage> rows = storedMessages();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].guid, guidOf(2));
    EXPECT_EQ(rows[0].chatIdentifier, numberId(3));
    EXPECT_EQ(rows[0].handle, numberId(3));
}

TEST_F(IOS6Scan, WithoutTheHandleScanAMessageOfADeletedHandleHasNoAddress)
{
    fx.addHandle(number(1), QStringLiteral("SMS"), QStringLiteral("in"));
    const qint64 gone = fx.addHandle(number(3), QStringLiteral("SMS"), QStringLiteral("in"));
    fx.addHandle(number(4), QStringLiteral("SMS"), QStringLiteral("in"));
    for (qint64 n = 1; n <= 5; ++n)
        message(0, gone, n);
    erase(QStringLiteral("message"), QStringLiteral("ROWID = 2"));
    erase(QStringLiteral("handle"), QStringLiteral("ROWID = %1").arg(gone));
    readRawMessages(reader(), chats(), nullptr);
    const QList<StoredMessage> rows = storedMessages();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].guid, guidOf(2));
    EXPECT_TRUE(rows[0].chatIdentifier.isEmpty());
    EXPECT_TRUE(rows[0].handle.isEmpty());
}

TEST_F(IOS6Scan, DeletionsStillInTheWriteAheadLogAreFound)
{
    fx.db().executeThrow("PRAGMA journal_mode=WAL");
    const qint64 h = fx.addHandle(number(1), QStringLiteral("SMS"), QStringLiteral("in"));
    fx.addHandle(number(2), QStringLiteral("SMS"), QStringLiteral("in"));
    const qint64 chat = fx.addChat(QStringLiteral("S"), numberId(1));
    fx.joinChatHandle(chat, h);
    for (qint64 n = 1; n <= 10; ++n)
        message(chat, h, n);
    erase(QStringLiteral("message"), QStringLiteral("ROWID = 4"));
    erase(QStringLiteral("handle"), QStringLiteral("ROWID = %1").arg(h));

    readRawHandles(reader(), nullptr);
    readRawMessages(reader(), chats(), nullptr);
    ASSERT_EQ(storedMessages().size(), 1);
    EXPECT_EQ(storedMessages()[0].guid, guidOf(4));
    ASSERT_EQ(storedHandles().size(), 1);
    EXPECT_EQ(storedHandles()[0].id, numberId(1));
}

// A phone from iOS 11 on keeps a message's dates in nanoseconds since 2001:
// a deleted one is stored with the seconds they hold, as a live one reads.
TEST(IOS6ScanDates, DatesInNanosecondsOfADeletedMessageAreStoredAsSeconds)
{
    QTemporaryDir dir;
    {
        IOS11SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(QDir(dir.path())));
        keepDeletedBytes(sms.db(), 4096);
        const qint64 ann = sms.addHandle(QStringLiteral("ann@example.com"));
        const qint64 chat = sms.addChat(ann, QStringLiteral("ann@example.com"));
        for (int n = 1; n <= 3; ++n) {
            IOS11SmsDbFixture::Message m;
            m.chat = chat;
            m.handle = ann;
            m.guid = guidOf(n);
            m.text = QStringLiteral("message %1 %2").arg(n).arg(QString(20, u'z'));
            m.date = 531234567891234567 + n * 1000000000LL;
            m.dateRead = 531234600123456789 + n * 1000000000LL;
            sms.addMessage(m);
        }
        sms.db().executeThrow("DELETE FROM message WHERE ROWID = 2");
    }
    IOS6MessageDb reader(QDir(dir.path()), kMcc, false);
    MsgDataSet set = MsgDataSet::create();
    reader.chats(set);
    readRawMessages(reader, set.data()->chats.values(), nullptr);

    Sqlite3DB recycled;
    recycled.openThrow(reader.recycleDb()->path(), Sqlite3DB::ReadOnly);
    Sqlite3Cursor c = recycled.queryThrow("select guid, date, date_read from message");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getText(QStringLiteral("guid")), guidOf(2));
    EXPECT_EQ(c.getInt64(QStringLiteral("date")), 531234569);
    EXPECT_EQ(c.getInt64(QStringLiteral("date_read")), 531234602);
    EXPECT_FALSE(c.moveNext());
}

TEST_F(IOS6Scan, OldCopiesOfLiveMessagesAreNotCarved)
{
    const qint64 h = fx.addHandle(number(1), QStringLiteral("SMS"), QStringLiteral("in"));
    const qint64 chat = fx.addChat(QStringLiteral("S"), numberId(1));
    for (qint64 n = 1; n <= 10; ++n)
        message(chat, h, n);
    // A longer text moves the row: its old cell stays in the free space.
    fx.db().executeThrow(Sqlite3Sql("UPDATE message SET text=? WHERE ROWID=5").addTextParam(QString(300, u'w')));
    readRawMessages(reader(), chats(), nullptr);
    EXPECT_TRUE(storedMessages().isEmpty());
}

TEST_F(IOS6Scan, FreedLeafPagesGiveTheirMessagesWithTheirRowids)
{
    const qint64 h = fx.addHandle(number(1), QStringLiteral("SMS"), QStringLiteral("in"));
    const qint64 chat = fx.addChat(QStringLiteral("S"), numberId(1));
    fx.begin();
    for (qint64 n = 1; n <= 400; ++n)
        fx.addMessage(0, h, guidOf(n), QStringLiteral("message %1").arg(n), 400000000 + static_cast<int>(n), 0);
    fx.commit();
    fx.db().executeThrow("DELETE FROM message");
    // The conversation is known by its handle even though no join is left.
    fx.joinChatHandle(chat, h);

    readRawMessages(reader(), chats(), nullptr);
    const QList<StoredMessage> rows = storedMessages();
    int withRowid = 0;
    for (const StoredMessage &r : rows) {
        if (r.srcRowid == 0)
            continue;
        ++withRowid;
        EXPECT_EQ(r.guid, guidOf(r.srcRowid));
        EXPECT_EQ(r.chatIdentifier, numberId(1));
    }
    EXPECT_GT(withRowid, 330);
    QSet<QString> guids;
    for (const StoredMessage &r : rows)
        guids.insert(r.guid);
    EXPECT_EQ(guids.size(), rows.size());
}

// A leaf page that was copied elsewhere and freed still holds rows the live
// table has: those are no deleted messages and are not stored, whatever the
// readers would later hide. Once one of them is deleted, its freed copy is
// the message.
TEST_F(IOS6Scan, AFreedCopyOfALiveLeafPageGivesOnlyTheMessagesDeletedSince)
{
    const qint64 h = fx.addHandle(number(1), QStringLiteral("SMS"), QStringLiteral("in"));
    const qint64 chat = fx.addChat(QStringLiteral("S"), numberId(1));
    fx.joinChatHandle(chat, h);
    for (qint64 n = 1; n <= 5; ++n)
        message(chat, h, n);
    Sqlite3Cursor c = fx.db().queryThrow("SELECT rootpage FROM sqlite_master WHERE name='message'");
    ASSERT_TRUE(c.moveNext());
    const int root = c.getInt(QStringLiteral("rootpage"));
    c = Sqlite3Cursor();
    fx.db().close();

    // Two pages more: a trunk, and a copy of the message leaf as its leaf.
    const QString path = IOS6SmsDbFixture::smsDbPath(QDir(dir.path()));
    QByteArray bytes = readWholeFile(path);
    const int pageSize = 4096;
    const auto be32 = [](QByteArray &b, int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    const quint32 trunk = static_cast<quint32>(bytes.size() / pageSize + 1);
    QByteArray trunkPage(pageSize, '\0');
    be32(trunkPage, 4, 1);
    be32(trunkPage, 8, trunk + 1);
    bytes += trunkPage + bytes.mid((root - 1) * pageSize, pageSize);
    be32(bytes, 28, static_cast<quint32>(bytes.size() / pageSize));
    be32(bytes, 32, trunk);
    be32(bytes, 36, 2);
    writeWholeFile(path, bytes);

    readRawMessages(reader(), chats(), nullptr);
    EXPECT_TRUE(storedMessages().isEmpty());

    {
        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::ReadWrite);
        db.executeThrow("DELETE FROM message WHERE ROWID = 3");
    }
    readRawMessages(reader(), chats(), nullptr);
    const QList<StoredMessage> rows = storedMessages();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].srcRowid, 3);
    EXPECT_EQ(rows[0].guid, guidOf(3));
    EXPECT_EQ(rows[0].chatIdentifier, numberId(1));
}

TEST_F(IOS6ScanLater, RecordsOfTheLaterLayoutAreStoredOnce)
{
    const qint64 h = fx.addHandle(number(1), QStringLiteral("SMS"), QStringLiteral("in"));
    const qint64 chat = fx.addChat(QStringLiteral("S"), numberId(1));
    fx.joinChatHandle(chat, h);
    for (qint64 n = 1; n <= 10; ++n)
        message(chat, h, n);
    erase(QStringLiteral("message"), QStringLiteral("ROWID IN (3, 7)"));

    readRawMessages(reader(), chats(), nullptr);
    const QList<StoredMessage> rows = storedMessages();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_NE(byGuid(rows, guidOf(3)), nullptr);
    EXPECT_NE(byGuid(rows, guidOf(7)), nullptr);
    readRawMessages(reader(), chats(), nullptr);
    EXPECT_EQ(storedMessages().size(), 2);
}

TEST_F(IOS6Scan, ProgressCancelAndAnEmptyFreelist)
{
    const qint64 h = fx.addHandle(number(1), QStringLiteral("SMS"), QStringLiteral("in"));
    qint64 n = 0;
    while (leafPagesOf(QStringLiteral("message")) < 4)
        message(0, h, ++n);
    ASSERT_EQ(leafPagesOf(QStringLiteral("message")), 4);

    // The table's root (now an interior page) and its four leaves.
    RecordingProgress progress;
    readRawMessages(reader(), chats(), &progress);
    EXPECT_EQ(progress.progressValues(), (QList<int>{20, 40, 60, 80, 100}));
    EXPECT_TRUE(storedMessages().isEmpty());

    RecordingProgress handles;
    readRawHandles(reader(), &handles);
    EXPECT_EQ(handles.progressValues(), QList<int>{100}); // the one leaf of the handle table

    erase(QStringLiteral("message"), QStringLiteral("ROWID < 20"));
    RecordingProgress cancelled;
    cancelled.setCancelled(true);
    readRawMessages(reader(), chats(), &cancelled);
    readRawHandles(reader(), &cancelled);
    EXPECT_TRUE(cancelled.posts().isEmpty());
    EXPECT_TRUE(storedMessages().isEmpty());
    EXPECT_FALSE(reader().recycleDb()->inTransaction());

    readRawMessages(reader(), chats(), nullptr);
    EXPECT_EQ(storedMessages().size(), 19);
}

TEST(IOS6ScanErrors, AFileThatCannotBeReadFailsBeforeAnythingIsWritten)
{
    QTemporaryDir dir;
    const QString path = IOS6SmsDbFixture::smsDbPath(QDir(dir.path()));
    {
        IOS6SmsDbFixture fx(path, IOS6SmsDbFixture::Device);
    }
    IOS6MessageDb db(QDir(dir.path()), kMcc, false);
    db.ensureOpen();
    // The engine keeps its connection; the page reader meets a header with
    // a page size SQLite never writes.
    patchFile(path, 16, QByteArray::fromHex("0300"));
    EXPECT_THROW(
        {
            try {
                readRawHandles(db, nullptr);
            } catch (const std::runtime_error &e) {
                EXPECT_STREQ(e.what(), "invalid page size.");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_FALSE(db.recycleDb()->inTransaction());
    EXPECT_FALSE(QFileInfo::exists(db.recycleDb()->path()));
}

// --- filters and conversion ---------------------------------------------------------

Row messageRow(int count)
{
    Row row;
    row.rowid = 44;
    row.values = QList<QVariant>(count);
    row.values[1] = QStringLiteral("GUID");
    row.values[2] = QStringLiteral("text");
    row.values[3] = 1;
    row.values[4] = QStringLiteral("center");
    row.values[5] = qlonglong(5000000000LL);
    row.values[6] = QStringLiteral("subject");
    row.values[7] = QStringLiteral("in");
    row.values[8] = QByteArray("body");
    row.values[9] = 10;
    row.values[10] = 2;
    row.values[11] = QStringLiteral("iMessage");
    row.values[12] = QStringLiteral("e:me");
    row.values[13] = QStringLiteral("acct");
    for (int i = 14; i <= 34; ++i)
        row.values[i] = 100 + i;
    row.values[35] = QStringLiteral("rooms");
    row.values[36] = 1;
    row.values[37] = 1;
    for (int i = 38; i < count; ++i)
        row.values[i] = 200 + i;
    if (count > 43)
        row.values[43] = QStringLiteral("title");
    return row;
}

Row with(Row row, int index, const QVariant &value)
{
    row.values[index] = value;
    return row;
}

TEST(IOS6RowConversion, MessagesTakeEveryColumnTheRowHas)
{
    _MsgMessage m;
    ASSERT_TRUE(rawRowToIOS6Message(messageRow(50), m));
    EXPECT_EQ(m.rowid, 44);
    EXPECT_EQ(m.guid, QStringLiteral("GUID"));
    EXPECT_EQ(m.text, QStringLiteral("text"));
    EXPECT_EQ(m.replace, 1);
    EXPECT_EQ(m.service_center, QStringLiteral("center"));
    EXPECT_EQ(m.handle_id, 5000000000LL);
    EXPECT_EQ(m.subject, QStringLiteral("subject"));
    EXPECT_EQ(m.country, QStringLiteral("in"));
    EXPECT_EQ(m.attributedBody, QByteArray("body"));
    EXPECT_EQ(m.version, 10);
    EXPECT_EQ(m.type, 2);
    EXPECT_EQ(m.service, QStringLiteral("iMessage"));
    EXPECT_EQ(m.account, QStringLiteral("e:me"));
    EXPECT_EQ(m.account_guid, QStringLiteral("acct"));
    EXPECT_EQ(m.error, 114);
    EXPECT_EQ(m.date, 115);
    EXPECT_EQ(m.date_read, 116);
    EXPECT_EQ(m.date_delivered, 117);
    EXPECT_EQ(m.is_delivered, 118);
    EXPECT_EQ(m.is_from_me, 121);
    EXPECT_EQ(m.cache_has_attachments, 134);
    EXPECT_EQ(m.cache_roomnames, QStringLiteral("rooms"));
    EXPECT_EQ(m.was_data_detected, 1);
    EXPECT_EQ(m.was_deduplicated, 1);
    EXPECT_EQ(m.is_audio_message, 238);
    EXPECT_EQ(m.date_played, 240);
    EXPECT_EQ(m.item_type, 241);
    EXPECT_EQ(m.other_handle, 242);
    EXPECT_EQ(m.group_title, QStringLiteral("title"));
    EXPECT_EQ(m.share_direction, 246);
    EXPECT_EQ(m.message_action_type, 249);

    // 38 to 49 values: the later fields keep their defaults.
    for (int count : {38, 49}) {
        _MsgMessage s;
        ASSERT_TRUE(rawRowToIOS6Message(messageRow(count), s)) << count;
        EXPECT_EQ(s.was_deduplicated, 1);
        EXPECT_EQ(s.item_type, 0) << count;
        EXPECT_EQ(s.other_handle, -1) << count;
        EXPECT_TRUE(s.group_title.isEmpty()) << count;
    }
}

struct RowCase
{
    std::string name;
    Row row;
    bool filter;
    bool converts;
};

class IOS6MessageRows : public ::testing::TestWithParam<RowCase>
{
};

TEST_P(IOS6MessageRows, FilterAndConversionAgree)
{
    const RowCase &c = GetParam();
    EXPECT_EQ(isRawIOS6MessageRow(c.row), c.filter);
    _MsgMessage m;
    EXPECT_EQ(rawRowToIOS6Message(c.row, m), c.converts);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IOS6MessageRows,
    ::testing::Values(RowCase{"sms", with(messageRow(38), 11, QStringLiteral("SMS")), true, true},
                      RowCase{"imessage", messageRow(51), true, true},
                      RowCase{"thirty_seven_values", Row{1, messageRow(38).values.mid(0, 37)}, false, false},
                      RowCase{"lower_case_sms", with(messageRow(38), 11, QStringLiteral("sms")), false, false},
                      RowCase{"no_service", with(messageRow(38), 11, QVariant()), false, false},
                      RowCase{"service_as_bytes", with(messageRow(38), 11, QByteArray("SMS")), true, true}),
    CaseName());

struct HandleCase
{
    std::string name;
    QList<QVariant> values;
    bool filter;
    bool converts;
    QString id;
};

class IOS6HandleRows : public ::testing::TestWithParam<HandleCase>
{
};

TEST_P(IOS6HandleRows, FilterAndConversionAgree)
{
    const HandleCase &c = GetParam();
    const Row row{7, c.values};
    EXPECT_EQ(isRawIOS6HandleRow(row), c.filter);
    QTemporaryDir dir;
    IOS6MessageDb db(QDir(dir.path()), kMcc, false);
    _MsgHandle h;
    ASSERT_EQ(rawRowToIOS6Handle(db, row, h), c.converts);
    if (c.converts) {
        EXPECT_EQ(h.rowid, 7);
        EXPECT_EQ(h.id, c.id);
        EXPECT_EQ(h.country, c.values[2].toString());
        EXPECT_EQ(h.service, c.values[3].toString());
        EXPECT_EQ(h.uncanonicalized_id, c.values[4].toString());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IOS6HandleRows,
    ::testing::Values(
        HandleCase{"number_of_its_country", {QVariant(), number(1), "in", "SMS", "u"}, true, true, numberId(1)},
        HandleCase{"upper_case_country", {QVariant(), number(1), "IN", "iMessage", "u"}, true, true, numberId(1)},
        HandleCase{"no_country_is_the_current_one", {QVariant(), number(1), QVariant(), "SMS", "u"}, true, true,
                   numberId(1)},
        HandleCase{"unknown_country_keeps_the_number", {QVariant(), "0123 456", "zz", "SMS", "u"}, true, true,
                   "0123 456"},
        HandleCase{"mail_address", {QVariant(), "A@B.example", "", "iMessage", "u"}, true, true, "a@b.example"},
        HandleCase{"no_address", {QVariant(), QVariant(), "in", "SMS", "u"}, true, false, ""},
        HandleCase{"other_service", {QVariant(), number(1), "in", "Madrid", "u"}, false, false, ""},
        HandleCase{"four_values", {QVariant(), number(1), "in", "SMS"}, false, false, ""}),
    CaseName());

} // namespace
