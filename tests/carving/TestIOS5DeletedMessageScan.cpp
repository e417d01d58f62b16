#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "CaseName.h"
#include "IOS5DbFixture.h"
#include "IOS5DeletedMessageScan.h"
#include "IOS5MessageDb.h"
#include "RealIOS5Files.h"
#include "RecordingProgress.h"
#include "Sqlite3DB.h"
#include "SqliteImage.h"
#include "TestClock.h"

namespace
{

using Row = Sqlite3File::_Row;

// India (MCC 404): ten-digit mobile numbers beginning 7 to 9 get "+91".
const QString kMcc = QStringLiteral("404");
const QString kAsha = QStringLiteral("9876543210");
const QString kAshaId = QStringLiteral("+919876543210");
constexpr qint64 kUnix2001 = 978307200;
// The tests' "now": 2020-01-01 00:00:00 UTC.
const QDateTime kNow = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);

bool guidShaped(const QString &guid)
{
    static const QRegularExpression shape(
        QStringLiteral("^[A-Z0-9]{8}-[A-Z0-9]{4}-[A-Z0-9]{4}-[A-Z0-9]{4}-[A-Z0-9]{12}$"));
    return shape.match(guid).hasMatch();
}

// One row of recycle.db's message table as stored.
struct Stored
{
    QString text;
    qint64 srcRowid = 0; // 0: NULL
    QString chatIdentifier;
    QString handle;
    QString service;
    qint64 date = 0;
    int isFromMe = 0;
    QString guid;
};

class IOS5Scan : public ::testing::Test
{
protected:
    explicit IOS5Scan(IOS5DbFixture::Layout layout = IOS5DbFixture::Full)
        : m_clock(kNow)
        , fx(dir.path(), layout)
    {
        keepDeletedBytes(fx.db(), 4096);
    }

    IOS5MessageDb &reader()
    {
        if (!m_reader)
            m_reader = std::make_unique<IOS5MessageDb>(QDir(dir.path()), kMcc);
        return *m_reader;
    }

    static IOS5DbFixture::Sms sms(qint64 rowid, int flags = 2)
    {
        IOS5DbFixture::Sms s;
        s.rowid = rowid;
        s.address = kAsha;
        s.country = QStringLiteral("in");
        s.date = 1300000000 + rowid * 60;
        s.flags = flags;
        s.groupId = 1;
        s.text = QStringLiteral("sms %1 %2").arg(rowid).arg(QString(30, u'x'));
        return s;
    }
    static QString smsText(qint64 rowid) { return sms(rowid).text; }

    static IOS5DbFixture::IMessage iMessage(qint64 rowid, const QString &room = QString())
    {
        IOS5DbFixture::IMessage m;
        m.rowid = rowid;
        m.date = 320000000 + rowid;
        m.handle = QStringLiteral("Friend@Example.com");
        m.roomName = room;
        m.guid = QStringLiteral("00000000-0000-0000-0000-%1").arg(rowid, 12, 10, QLatin1Char('0'));
        m.account = QStringLiteral("e:me@example.com");
        m.dateDelivered = rowid % 2 ? 320000100 : 0;
        m.text = QStringLiteral("imessage %1 %2").arg(rowid).arg(QString(30, u'y'));
        return m;
    }

    void addSms(qint64 from, qint64 to)
    {
        fx.begin();
        for (qint64 id = from; id <= to; ++id)
            fx.addSms(sms(id, id % 3 == 0 ? 3 : 2));
        fx.commit();
    }

    void erase(const QString &where) { fx.db().executeThrow(Sqlite3Sql(QStringLiteral("DELETE FROM message WHERE ") + where)); }

    QList<Stored> stored()
    {
        QList<Stored> rows;
        const QString path = reader().recycleDb()->path();
        if (!QFileInfo::exists(path))
            return rows;
        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::ReadOnly);
        Sqlite3Cursor c = db.queryThrow("select text, src_rowid, chat_identifier, handle, service, date, is_from_me,"
                                        " guid from message order by rowid");
        while (c.moveNext()) {
            rows.append({c.getText(QStringLiteral("text")), c.getInt64(QStringLiteral("src_rowid")),
                         c.getText(QStringLiteral("chat_identifier")), c.getText(QStringLiteral("handle")),
                         c.getText(QStringLiteral("service")), c.getInt64(QStringLiteral("date")),
                         c.getInt(QStringLiteral("is_from_me")), c.getText(QStringLiteral("guid"))});
        }
        return rows;
    }

    static QSet<QString> textsOf(const QList<Stored> &rows)
    {
        QSet<QString> texts;
        for (const Stored &r : rows)
            texts.insert(r.text);
        return texts;
    }

    QList<quint32> leafPagesOfMessages()
    {
        QList<quint32> pages;
        Sqlite3Cursor c = fx.db().queryThrow(
            "SELECT pageno FROM dbstat WHERE name='message' AND pagetype='leaf' ORDER BY pageno");
        while (c.moveNext())
            pages.append(static_cast<quint32>(c.getInt64(QStringLiteral("pageno"))));
        return pages;
    }

    TestClock m_clock;
    QTemporaryDir dir;
    IOS5DbFixture fx;

private:
    std::unique_ptr<IOS5MessageDb> m_reader;
};

// A stored rowid, where there is one, is the rowid the message had.
void expectTrueSourceRowids(const QList<Stored> &rows)
{
    static const QRegularExpression number(QStringLiteral("^(?:sms|imessage) (\\d+) "));
    for (const Stored &r : rows) {
        if (r.srcRowid == 0)
            continue;
        const QRegularExpressionMatch m = number.match(r.text);
        ASSERT_TRUE(m.hasMatch()) << r.text.toStdString();
        EXPECT_EQ(m.captured(1).toLongLong(), r.srcRowid) << r.text.toStdString();
    }
}

// --- whole scans ---------------------------------------------------------------

TEST_F(IOS5Scan, DeletedSmsAndIMessagesAreStoredOnceEach)
{
    addSms(1, 40);
    fx.begin();
    for (qint64 id = 41; id <= 60; ++id)
        fx.addIMessage(iMessage(id, id == 50 ? QStringLiteral("chat123") : QString()));
    fx.commit();
    erase(QStringLiteral("ROWID IN (5, 6, 7, 20, 45, 50)"));

    readRawMessages(reader(), nullptr);
    const QList<Stored> rows = stored();
    EXPECT_EQ(textsOf(rows),
              (QSet<QString>{smsText(5), smsText(6), smsText(7), smsText(20), iMessage(45).text, iMessage(50).text}));
    EXPECT_EQ(rows.size(), 6);
    expectTrueSourceRowids(rows);
    for (const Stored &r : rows) {
        if (r.service == QLatin1String("SMS")) {
            EXPECT_EQ(r.chatIdentifier, kAshaId);
            EXPECT_EQ(r.handle, kAshaId);
            EXPECT_TRUE(guidShaped(r.guid));
            const qint64 id = r.text.section(u' ', 1, 1).toLongLong();
            EXPECT_EQ(r.date, sms(id).date - kUnix2001);
            EXPECT_EQ(r.isFromMe, id % 3 == 0 ? 1 : 0);
        } else {
            const qint64 id = r.text.section(u' ', 1, 1).toLongLong();
            EXPECT_EQ(r.service, QStringLiteral("iMessage"));
            EXPECT_EQ(r.guid, iMessage(id).guid);
            EXPECT_EQ(r.date, iMessage(id).date);
            EXPECT_EQ(r.handle, QStringLiteral("friend@example.com"));
            EXPECT_EQ(r.chatIdentifier, id == 50 ? QStringLiteral("chat123") : QStringLiteral("friend@example.com"));
            EXPECT_EQ(r.isFromMe, iMessage(id).dateDelivered > 0 ? 1 : 0);
        }
    }

    // Scanning again finds the same rows and stores none of them again.
    readRawMessages(reader(), nullptr);
    EXPECT_EQ(stored().size(), 6);
    EXPECT_FALSE(reader().recycleDb()->inTransaction());
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The messages of a source folder's recycle.db, oldest first, as
// "text|date|is_from_me|service|chat_identifier|handle|src_rowid".
QStringList recycledRows(const QString &folder)
{
    Sqlite3DB recycle;
    recycle.openThrow(QDir(folder).filePath(QStringLiteral("recycle.db")), Sqlite3DB::ReadOnly);
    Sqlite3Cursor c = recycle.queryThrow(
        "select text, date, is_from_me, service, chat_identifier, handle, src_rowid from message order by date");
    QStringList rows;
    while (c.moveNext())
        rows.append(QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                        .arg(c.getText(QStringLiteral("text")))
                        .arg(c.getInt64(QStringLiteral("date")))
                        .arg(c.getInt(QStringLiteral("is_from_me")))
                        .arg(c.getText(QStringLiteral("service")), c.getText(QStringLiteral("chat_identifier")),
                             c.getText(QStringLiteral("handle")))
                        .arg(c.getInt64(QStringLiteral("src_rowid"))));
    return rows;
}

// The phone's dates count from 1970, the records' from 2001.
const QStringList kRealPhonesDeletedMessages{
    "Hey Johnny. Where did you hide the gun?|351890700|1|SMS|+12096490617|+12096490617|1",
    "In the dumpster behind the store. |351890729|0|SMS|+12096490617|+12096490617|2",
    "Dang foo. Cops are bout to pull me over. Gotta delete that text yo!|351890758|1|SMS|"
    "+12096490617|+12096490617|3",
    "Stop txting me. Call me later to tell me what happened?|351890793|0|SMS|+12096490617|"
    "+12096490617|4",
    "Aight playa|351890800|1|SMS|+12096490617|+12096490617|5",
    "This will be deleted prior to the logical dump. |357177428|1|SMS|+12094030664|"
    "+12094030664|10",
};

// A real iOS 5.1 phone's files (tests/support/real-ios5/SOURCE.md): six
// deleted messages stand whole in older images of the message table's leaf
// in the log, written as the phone writes SMS rows (0 in the madrid numbers,
// flags 1 while a message is sent). The scan takes them and changes neither
// the database nor its log. The phone's MMS "Check it ouy" (message 6, its
// text in msg_pieces) is live: its older images are no deleted message.
TEST(IOS5ScanOfARealPhonesFiles, GivesItsSixDeletedMessagesAndLeavesTheFilesAsTheyWere)
{
    TestClock clock(kNow);
    QTemporaryDir dir;
    const QString smsDb =
        RealIOS5Files::copyInto(QStringLiteral(LARKSPAN_SOURCE_DIR "/tests/support/real-ios5"), dir.path());
    const QByteArray db = fileBytes(smsDb);
    const QByteArray log = fileBytes(smsDb + QStringLiteral("-wal"));
    ASSERT_FALSE(log.isEmpty());
    {
        IOS5MessageDb reader(QDir(dir.path()), QStringLiteral("310"));
        readRawMessages(reader, nullptr);
        readRawMessages(reader, nullptr);
    }
    EXPECT_EQ(fileBytes(smsDb), db);
    EXPECT_EQ(fileBytes(smsDb + QStringLiteral("-wal")), log);
    EXPECT_EQ(recycledRows(dir.path()), kRealPhonesDeletedMessages);
}

// The phone's read() of a message's flags, which its triggers call: 2 once
// read, 3 once sent.
void phoneRead(sqlite3_context *context, int, sqlite3_value **args)
{
    sqlite3_result_int(context, (sqlite3_value_int64(args[0]) & 2) != 0 ? 1 : 0);
}

// The same files with the phone's MMS deleted the way the phone deletes a
// message (its trigger deletes the parts), the log kept as a phone keeps
// it: the MMS is given with the number of its recipients list and the text
// of its deleted text part.
TEST(IOS5ScanOfARealPhonesFiles, ItsMmsDeletedGivesTheRecipientAndTheTextOfItsDeletedPart)
{
    TestClock clock(kNow);
    QTemporaryDir dir;
    const QString smsDb =
        RealIOS5Files::copyInto(QStringLiteral(LARKSPAN_SOURCE_DIR "/tests/support/real-ios5"), dir.path());
    {
        Sqlite3DB phone;
        phone.openThrow(smsDb, Sqlite3DB::ReadWrite);
        ASSERT_EQ(sqlite3_db_config(phone.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_create_function(phone.handle(), "read", 1, SQLITE_UTF8, nullptr, phoneRead, nullptr,
                                          nullptr),
                  SQLITE_OK);
        phone.executeThrow("DELETE FROM message WHERE ROWID=6");
        Sqlite3Cursor parts = phone.queryThrow("select count(*) as n from msg_pieces");
        ASSERT_TRUE(parts.moveNext());
        ASSERT_EQ(parts.getInt64(QStringLiteral("n")), 0);
    }
    ASSERT_TRUE(QFileInfo(smsDb + QStringLiteral("-wal")).size() > 0);
    {
        IOS5MessageDb reader(QDir(dir.path()), QStringLiteral("310"));
        readRawMessages(reader, nullptr);
    }
    QStringList expected = kRealPhonesDeletedMessages;
    expected.insert(5, QStringLiteral("Check it ouy|353124489|1|SMS|+12095981933|+12095981933|6"));
    EXPECT_EQ(recycledRows(dir.path()), expected);
}

TEST_F(IOS5Scan, DeletionsStillInTheWriteAheadLogAreFound)
{
    fx.db().executeThrow("PRAGMA journal_mode=WAL");
    addSms(1, 40);
    erase(QStringLiteral("ROWID IN (11, 12, 30)"));
    ASSERT_TRUE(QFileInfo(fx.dbPath() + QStringLiteral("-wal")).size() > 0);

    readRawMessages(reader(), nullptr);
    EXPECT_EQ(textsOf(stored()), (QSet<QString>{smsText(11), smsText(12), smsText(30)}));
}

TEST_F(IOS5Scan, FreedLeafPagesGiveTheirMessagesWithTheirRowids)
{
    addSms(1, 300);
    // Emptying the table frees its pages with their cells untouched.
    fx.db().executeThrow("DELETE FROM message");

    readRawMessages(reader(), nullptr);
    const QList<Stored> rows = stored();
    expectTrueSourceRowids(rows);
    int withRowid = 0;
    for (const Stored &r : rows)
        withRowid += r.srcRowid > 0;
    // All but what the page that became the freelist trunk lost.
    EXPECT_GT(withRowid, 250);
    EXPECT_EQ(textsOf(rows).size(), rows.size());
}

class IOS5ScanBeforeIMessage : public IOS5Scan
{
protected:
    IOS5ScanBeforeIMessage()
        : IOS5Scan(IOS5DbFixture::BeforeIMessage)
    {
    }
};

TEST_F(IOS5ScanBeforeIMessage, RowsOfTheOldestLayoutAreFoundToo)
{
    addSms(1, 30);
    erase(QStringLiteral("ROWID IN (3, 17)"));
    readRawMessages(reader(), nullptr);
    EXPECT_EQ(textsOf(stored()), (QSet<QString>{smsText(3), smsText(17)}));
}

// The message table and msg_pieces as an iOS 5.1 phone declares them, with
// the write-ahead log a phone keeps: the older images of a page in the log
// hold its deleted rows whole, with their rowids.
class IOS5ScanOfMms : public IOS5Scan
{
protected:
    IOS5ScanOfMms()
        : IOS5Scan(IOS5DbFixture::Phone51)
    {
        fx.db().executeThrow("PRAGMA journal_mode=WAL");
    }

    static IOS5DbFixture::Mms mms(qint64 rowid)
    {
        IOS5DbFixture::Mms m;
        m.rowid = rowid;
        m.date = 1300000000 + rowid * 60;
        m.recipients = IOS5DbFixture::participants({kAsha}, IOS5DbFixture::Xml);
        m.groupId = 1;
        m.country = QStringLiteral("in");
        return m;
    }

    // The parts a phone writes of an MMS with a picture: the layout, the
    // text in two parts, the picture.
    void addParts(qint64 messageId, qint64 firstRowid, const QString &first, const QString &second)
    {
        const auto piece = [&](qint64 n, qint64 part, const char *type, const QByteArray &data, const char *loc) {
            IOS5DbFixture::Piece p;
            p.rowid = firstRowid + n;
            p.messageId = messageId;
            p.partId = part;
            p.contentType = QLatin1String(type);
            p.data = data;
            p.contentId = QString::number(part);
            p.contentLoc = QLatin1String(loc);
            fx.addPiece(p);
        };
        piece(0, 0, "application/smil", QByteArray("<smil><body><par><img src=\"IMG_0001.jpg\"/></par></body></smil>"),
              "smil.xml");
        piece(1, 1, "text/plain;charset=utf-8", first.toUtf8(), "text_0001.txt");
        piece(2, 2, "text/plain", second.toUtf8(), "text_0002.txt");
        piece(3, 3, "image/jpeg", QByteArray(), "IMG_0001.jpg");
    }
};

// A deleted MMS has its text only in its deleted parts (the phone deletes
// them with the message); a live one beside it is no deleted message.
TEST_F(IOS5ScanOfMms, ADeletedMmsTakesItsTextFromItsDeletedParts)
{
    fx.addSms(sms(1));
    fx.addMms(mms(2));
    addParts(2, 1, QStringLiteral("Running late"), QStringLiteral("see the photo"));
    fx.addMms(mms(3));
    addParts(3, 5, QStringLiteral("Still here"), QStringLiteral("and live"));
    erase(QStringLiteral("ROWID=2"));
    Sqlite3Cursor left = fx.db().queryThrow("select count(*) as n from msg_pieces where message_id=2");
    ASSERT_TRUE(left.moveNext());
    ASSERT_EQ(left.getInt64(QStringLiteral("n")), 0);

    readRawMessages(reader(), nullptr);
    const QList<Stored> rows = stored();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].text, QStringLiteral("Running late\nsee the photo"));
    EXPECT_EQ(rows[0].service, QStringLiteral("SMS"));
    EXPECT_EQ(rows[0].chatIdentifier, kAshaId);
    EXPECT_EQ(rows[0].handle, kAshaId);
    EXPECT_EQ(rows[0].srcRowid, 2);
    EXPECT_EQ(rows[0].date, mms(2).date - kUnix2001);
    EXPECT_EQ(rows[0].isFromMe, 1);

    // Scanning again stores it no second time.
    readRawMessages(reader(), nullptr);
    EXPECT_EQ(stored().size(), 1);
}

// Where no image of its parts is left, a deleted MMS keeps what its row
// tells: its other party, date and direction, without text.
TEST_F(IOS5ScanOfMms, ADeletedMmsWhosePartsAreGoneKeepsWhatItsRowTells)
{
    fx.addSms(sms(1));
    fx.addMms(mms(2));
    erase(QStringLiteral("ROWID=2"));

    readRawMessages(reader(), nullptr);
    const QList<Stored> rows = stored();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].text, QString());
    EXPECT_EQ(rows[0].chatIdentifier, kAshaId);
    EXPECT_EQ(rows[0].srcRowid, 2);
    EXPECT_EQ(rows[0].date, mms(2).date - kUnix2001);
}

TEST_F(IOS5Scan, ProgressIsOneStepPerCarvedPage)
{
    qint64 id = 0;
    while (leafPagesOfMessages().size() < 4)
        fx.addSms(sms(++id));
    ASSERT_EQ(leafPagesOfMessages().size(), 4);

    // The table's root (now an interior page) and its four leaves.
    RecordingProgress progress;
    readRawMessages(reader(), &progress);
    EXPECT_EQ(progress.progressValues(), (QList<int>{20, 40, 60, 80, 100}));
    for (const RecordingProgress::Post &p : progress.updates()) {
        EXPECT_TRUE(p.text.isEmpty());
        EXPECT_TRUE(p.progressText.isEmpty());
    }
    EXPECT_TRUE(stored().isEmpty());
    EXPECT_EQ(progress.endings(), 0);
}

TEST_F(IOS5Scan, ACancelBeforeTheStartReadsNothingAndCommitsTheEmptyTransaction)
{
    addSms(1, 300);
    fx.db().executeThrow("DELETE FROM message");
    RecordingProgress progress;
    progress.setCancelled(true);
    readRawMessages(reader(), &progress);
    EXPECT_TRUE(progress.posts().isEmpty());
    EXPECT_TRUE(stored().isEmpty());
    EXPECT_FALSE(reader().recycleDb()->inTransaction());
    EXPECT_TRUE(QFileInfo::exists(reader().recycleDb()->path()));
}

TEST_F(IOS5Scan, ACancelPartwayKeepsWhatWasStoredAndALaterScanAddsTheRest)
{
    addSms(1, 300);
    fx.db().executeThrow("DELETE FROM message");
    // The complete result, from a copy of the same file.
    QTemporaryDir other;
    QDir().mkpath(QFileInfo(IOS5DbFixture::smsDbPath(other.path())).absolutePath());
    ASSERT_TRUE(QFile::copy(fx.dbPath(), IOS5DbFixture::smsDbPath(other.path())));
    IOS5MessageDb whole(QDir(other.path()), kMcc);
    readRawMessages(whole, nullptr);
    Sqlite3DB wholeRecycle;
    wholeRecycle.openThrow(whole.recycleDb()->path(), Sqlite3DB::ReadOnly);
    Sqlite3Cursor count = wholeRecycle.queryThrow("select count(*) as n from message");
    ASSERT_TRUE(count.moveNext());
    const qint64 complete = count.getInt64(QStringLiteral("n"));
    ASSERT_GT(complete, 250);

    RecordingProgress progress;
    progress.cancelAfterChecks(5);
    readRawMessages(reader(), &progress);
    const int partial = static_cast<int>(stored().size());
    EXPECT_GT(partial, 0);
    EXPECT_LT(partial, complete);
    EXPECT_FALSE(reader().recycleDb()->inTransaction());

    readRawMessages(reader(), nullptr);
    EXPECT_EQ(stored().size(), complete);
    EXPECT_EQ(textsOf(stored()).size(), complete);
}

// A freed interior page still points at pages the table uses again: those
// rows are live and stay out of the recycle database.
TEST_F(IOS5Scan, StaleChildPointersOfFreedPagesLeadToNoLiveRows)
{
    addSms(1, 20);
    const QList<quint32> leaves = leafPagesOfMessages();
    ASSERT_EQ(leaves.size(), 1);
    fx.db().close();

    // Two pages more: a trunk listing one freed interior page whose right
    // child is the live leaf.
    const QString path = fx.dbPath();
    QByteArray bytes = readWholeFile(path);
    const int pageSize = 4096;
    const quint32 trunk = static_cast<quint32>(bytes.size() / pageSize + 1);
    QByteArray trunkPage(pageSize, '\0');
    QByteArray interior(pageSize, '\0');
    const auto be32 = [](QByteArray &b, int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    be32(trunkPage, 4, 1);
    be32(trunkPage, 8, trunk + 1);
    interior[0] = 5;
    interior[5] = static_cast<char>(0x10); // content start 4096
    be32(interior, 8, leaves.first());
    bytes += trunkPage + interior;
    be32(bytes, 28, static_cast<quint32>(bytes.size() / pageSize));
    be32(bytes, 32, trunk);
    be32(bytes, 36, 2);
    writeWholeFile(path, bytes);

    readRawMessages(reader(), nullptr);
    EXPECT_TRUE(stored().isEmpty());
}

TEST_F(IOS5Scan, ALoopingTrunkChainEnds)
{
    addSms(1, 20);
    erase(QStringLiteral("ROWID = 4"));
    fx.db().close();
    const QString path = fx.dbPath();
    QByteArray bytes = readWholeFile(path);
    const int pageSize = 4096;
    const quint32 trunk = static_cast<quint32>(bytes.size() / pageSize + 1);
    QByteArray trunkPage(pageSize, '\0');
    const auto be32 = [](QByteArray &b, int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    be32(trunkPage, 0, trunk); // the next trunk is itself
    be32(trunkPage, 4, 0xFFFFFFFF); // and it claims every page as a leaf
    bytes += trunkPage;
    be32(bytes, 28, static_cast<quint32>(bytes.size() / pageSize));
    be32(bytes, 32, trunk);
    be32(bytes, 36, 1);
    writeWholeFile(path, bytes);

    readRawMessages(reader(), nullptr);
    EXPECT_EQ(textsOf(stored()), QSet<QString>{smsText(4)});
}

TEST(IOS5ScanErrors, AMissingDatabaseFailsBeforeAnythingIsWritten)
{
    QTemporaryDir dir;
    IOS5MessageDb db(QDir(dir.path()), kMcc);
    EXPECT_THROW(readRawMessages(db, nullptr), std::runtime_error);
    EXPECT_FALSE(db.recycleDb()->inTransaction());
    EXPECT_FALSE(QFileInfo::exists(db.recycleDb()->path()));
}

// --- filter and conversion -------------------------------------------------------

// A carved row of the 17-, 32- or 33-column layout holding an SMS, values
// to be overwritten by each case.
Row smsRow(int columns)
{
    Row row;
    row.rowid = 12;
    row.values = QList<QVariant>(columns);
    row.values[1] = kAsha;
    row.values[2] = 1300000000;
    row.values[3] = QStringLiteral("hello");
    row.values[4] = 3;
    row.values[5] = 0;
    row.values[10] = 4;
    row.values[11] = 7;
    row.values[13] = QStringLiteral("in");
    row.values[16] = 1;
    if (columns > 29)
        row.values[29] = 0;
    return row;
}

Row iMessageRow()
{
    Row row = smsRow(33);
    row.values[1] = QVariant();
    row.values[2] = 320000000;
    row.values[4] = 0;
    row.values[18] = QStringLiteral("9876543210");
    row.values[20] = QStringLiteral("ABCDEFAB-0000-1111-2222-333344445555");
    row.values[22] = QVariant();
    row.values[23] = QStringLiteral("Madrid");
    row.values[24] = QStringLiteral("e:me@example.com");
    row.values[28] = 4;
    row.values[29] = 1;
    row.values[30] = 320000050;
    row.values[31] = 320000060;
    row.values[32] = QStringLiteral("ACCOUNT-GUID");
    return row;
}

QByteArray recipients(const QStringList &ids)
{
    return IOS5DbFixture::participants(ids, IOS5DbFixture::Xml);
}

QByteArray recipientsPlist(const char *body)
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">") + body +
           QByteArray("</plist>\n");
}

// A carved MMS row of the 33-column layout as a phone writes it: no address,
// no text, its recipients list, 0 in the madrid numbers.
Row mmsRow(const QByteArray &recipientsList)
{
    Row row = smsRow(33);
    row.values[1] = QVariant();
    row.values[3] = QVariant();
    row.values[10] = 0;
    row.values[15] = recipientsList;
    for (const int i : {19, 21, 28, 30, 31})
        row.values[i] = 0;
    return row;
}

struct FilterCase
{
    std::string name;
    Row row;
    bool accepted;
};

Row with(Row row, int index, const QVariant &value)
{
    row.values[index] = value;
    return row;
}

class IOS5RowFilter : public ::testing::TestWithParam<FilterCase>
{
};

TEST_P(IOS5RowFilter, KeepsRowsThatCanBeMessages)
{
    EXPECT_EQ(isRawIOS5MessageRow(GetParam().row), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IOS5RowFilter,
    ::testing::Values(FilterCase{"seventeen_values", smsRow(17), true},
                      FilterCase{"sixteen_values", Row{1, smsRow(17).values.mid(0, 16)}, false},
                      FilterCase{"read_2", with(smsRow(17), 16, 2), false},
                      FilterCase{"read_minus_1", with(smsRow(17), 16, -1), false},
                      FilterCase{"read_null_counts_as_0", with(smsRow(17), 16, QVariant()), true},
                      FilterCase{"read_past_32_bits", with(smsRow(17), 16, qlonglong(0x100000001LL)), false},
                      FilterCase{"uiflags_0", with(smsRow(17), 10, 0), true},
                      FilterCase{"uiflags_3", with(smsRow(17), 10, 3), false},
                      FilterCase{"uiflags_5", with(smsRow(17), 10, 5), true},
                      FilterCase{"uiflags_6", with(smsRow(17), 10, 6), true},
                      FilterCase{"uiflags_7", with(smsRow(17), 10, 7), false},
                      // Every layout with madrid columns says the row's kind in is_madrid.
                      FilterCase{"is_madrid_5_in_32", with(smsRow(32), 29, 5), false},
                      FilterCase{"is_madrid_0_in_32", smsRow(32), true},
                      FilterCase{"is_madrid_2_in_33", with(smsRow(33), 29, 2), false},
                      FilterCase{"is_madrid_1_in_33", iMessageRow(), true}),
    CaseName());

struct ConvertCase
{
    std::string name;
    Row row;
    bool accepted;
    QString service;
    QString chatIdentifier;
    QString handle;
    qint64 date;
    int isFromMe;
};

class IOS5RowConversion : public ::testing::TestWithParam<ConvertCase>
{
};

TEST_P(IOS5RowConversion, TurnsRowsIntoMessagesOrRefusesThem)
{
    const ConvertCase &c = GetParam();
    TestClock clock(kNow);
    QTemporaryDir dir;
    IOS5MessageDb db(QDir(dir.path()), kMcc);
    _MsgRecycledMessage m;
    ASSERT_EQ(rawRowToIOS5Message(db, c.row, m), c.accepted);
    if (!c.accepted)
        return;
    EXPECT_EQ(m.rowid, c.row.rowid);
    EXPECT_EQ(m.service, c.service);
    EXPECT_EQ(m.chat_identifier, c.chatIdentifier);
    EXPECT_EQ(m.handle, c.handle);
    EXPECT_EQ(m.date, c.date);
    EXPECT_EQ(m.is_from_me, c.isFromMe);
    EXPECT_EQ(m.text, c.row.values[3].toString());
    EXPECT_EQ(m.version, 7);
    EXPECT_EQ(m.is_finished, 1);
    EXPECT_EQ(m.is_sent, 1);
    EXPECT_EQ(m.was_data_detected, 1);
    if (c.service == QLatin1String("SMS")) {
        EXPECT_TRUE(guidShaped(m.guid));
        EXPECT_EQ(m.account, QStringLiteral("e:"));
        EXPECT_EQ(m.date_read, c.date);
        EXPECT_EQ(m.date_delivered, c.date);
    } else {
        EXPECT_EQ(m.guid, QStringLiteral("ABCDEFAB-0000-1111-2222-333344445555"));
        EXPECT_EQ(m.account, QStringLiteral("e:me@example.com"));
        EXPECT_EQ(m.account_guid, c.row.values.size() > 32 ? QStringLiteral("ACCOUNT-GUID") : QString());
        EXPECT_EQ(m.error, 4);
        EXPECT_EQ(m.date_read, 320000050);
    }
}

const qint64 kSmsDate = 1300000000 - kUnix2001;
const qint64 kLatest = 1577836800 - kUnix2001; // kNow in 2001 seconds

INSTANTIATE_TEST_SUITE_P(
    Cases, IOS5RowConversion,
    ::testing::Values(
        ConvertCase{"sms_sent", smsRow(17), true, "SMS", kAshaId, kAshaId, kSmsDate, 1},
        ConvertCase{"sms_received", with(smsRow(17), 4, 2), true, "SMS", kAshaId, kAshaId, kSmsDate, 0},
        ConvertCase{"sms_of_32_columns", smsRow(32), true, "SMS", kAshaId, kAshaId, kSmsDate, 1},
        // A 32-column row is an iMessage when it says so, and no SMS then.
        ConvertCase{"is_madrid_1_without_madrid_service_in_32", with(smsRow(32), 29, 1), false, "", "", "", 0, 0},
        ConvertCase{"imessage_of_32_columns", Row{12, iMessageRow().values.mid(0, 32)}, true, "iMessage", kAshaId,
                    kAshaId, 320000000, 1},
        ConvertCase{"sms_of_33_columns", smsRow(33), true, "SMS", kAshaId, kAshaId, kSmsDate, 1},
        ConvertCase{"empty_country_is_the_current_one", with(smsRow(17), 13, QVariant()), true, "SMS", kAshaId,
                    kAshaId, kSmsDate, 1},
        ConvertCase{"upper_case_country", with(smsRow(17), 13, QStringLiteral("IN")), true, "SMS", kAshaId, kAshaId,
                    kSmsDate, 1},
        ConvertCase{"unknown_country", with(smsRow(17), 13, QStringLiteral("zz")), false, "", "", "", 0, 0},
        ConvertCase{"sixteen_values", Row{1, smsRow(17).values.mid(0, 16)}, false, "", "", "", 0, 0},
        ConvertCase{"read_2", with(smsRow(17), 16, 2), false, "", "", "", 0, 0},
        ConvertCase{"uiflags_3", with(smsRow(17), 10, 3), false, "", "", "", 0, 0},
        ConvertCase{"sms_without_address", with(smsRow(17), 1, QVariant()), false, "", "", "", 0, 0},
        ConvertCase{"sms_of_2001", with(smsRow(17), 2, int(kUnix2001)), false, "", "", "", 0, 0},
        ConvertCase{"sms_just_after_2001", with(smsRow(17), 2, int(kUnix2001 + 1)), true, "SMS", kAshaId, kAshaId, 1,
                    1},
        ConvertCase{"sms_now", with(smsRow(17), 2, 1577836800), true, "SMS", kAshaId, kAshaId, kLatest, 1},
        ConvertCase{"sms_in_the_future", with(smsRow(17), 2, 1577836801), false, "", "", "", 0, 0},
        ConvertCase{"sms_of_the_lowest_date", with(smsRow(17), 2, qlonglong(-9000000000000LL)), false, "", "", "", 0,
                    0},
        ConvertCase{"sms_row_with_a_madrid_guid", with(smsRow(33), 20, QStringLiteral("G")), false, "", "", "", 0, 0},
        ConvertCase{"sms_row_with_a_madrid_date", with(smsRow(33), 31, 5), false, "", "", "", 0, 0},
        ConvertCase{"is_madrid_2", with(smsRow(33), 29, 2), false, "", "", "", 0, 0},
        ConvertCase{"imessage", iMessageRow(), true, "iMessage", kAshaId, kAshaId, 320000000, 1},
        ConvertCase{"imessage_in_a_room", with(iMessageRow(), 22, QStringLiteral("chat42")), true, "iMessage",
                    "chat42", kAshaId, 320000000, 1},
        ConvertCase{"imessage_not_delivered", with(iMessageRow(), 31, 0), true, "iMessage", kAshaId, kAshaId,
                    320000000, 0},
        ConvertCase{"imessage_service_in_lower_case", with(iMessageRow(), 23, QStringLiteral("madrid")), false, "",
                    "", "", 0, 0},
        ConvertCase{"imessage_dated_0", with(iMessageRow(), 2, 0), false, "", "", "", 0, 0},
        // An MMS has its other party in its recipients list.
        ConvertCase{"mms_with_an_xml_recipients_list", mmsRow(recipients({kAsha, "9123456789"})), true, "SMS",
                    kAshaId, kAshaId, kSmsDate, 1},
        ConvertCase{"mms_with_a_binary_recipients_list",
                    mmsRow(IOS5DbFixture::participants({kAsha}, IOS5DbFixture::Binary)), true, "SMS", kAshaId,
                    kAshaId, kSmsDate, 1},
        ConvertCase{"mms_received", with(mmsRow(recipients({kAsha})), 4, 2), true, "SMS", kAshaId, kAshaId,
                    kSmsDate, 0},
        ConvertCase{"mms_with_an_empty_recipients_list", mmsRow(recipients({})), false, "", "", "", 0, 0},
        ConvertCase{"mms_with_an_empty_recipient", mmsRow(recipients({""})), false, "", "", "", 0, 0},
        ConvertCase{"mms_whose_recipients_are_no_list", mmsRow(recipientsPlist("<string>9876543210</string>")), false,
                    "", "", "", 0, 0},
        ConvertCase{"mms_whose_first_recipient_is_a_number",
                    mmsRow(recipientsPlist("<array><integer>9876543210</integer><string>9876543210</string></array>")),
                    false, "", "", "", 0, 0},
        ConvertCase{"mms_whose_recipients_are_cut", mmsRow(recipients({kAsha}).left(120)), false, "", "", "", 0, 0},
        ConvertCase{"mms_whose_recipients_are_no_blob", with(mmsRow(recipients({kAsha})), 15, 7), false, "", "", "",
                    0, 0},
        // A row with an address of its own, even an empty one, is an SMS.
        ConvertCase{"empty_address_with_recipients", with(mmsRow(recipients({kAsha})), 1, QString("")), false, "",
                    "", "", 0, 0},
        ConvertCase{"mms_with_a_text_of_its_own", with(mmsRow(recipients({kAsha})), 3, QStringLiteral("hi")), false,
                    "", "", "", 0, 0}),
    CaseName());

} // namespace
