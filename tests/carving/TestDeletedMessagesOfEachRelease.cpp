#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "IOS5DeletedMessageScan.h"
#include "IOS5MessageDb.h"
#include "IOS6DeletedRecordScan.h"
#include "IOS6MessageDb.h"
#include "MsgDataSet.h"
#include "ReleaseSmsDbWriter.h"
#include "Sqlite3DB.h"
#include "TestClock.h"
#include "WriteAheadLog.h"

namespace
{

using Writer = ReleaseSmsDbWriter;

// India (MCC 404): ten-digit mobile numbers beginning 7 to 9 get "+91".
const QString kMcc = QStringLiteral("404");
const QDateTime kNow = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);

struct Stored
{
    QString text;
    qint64 date = 0;
    int isFromMe = 0;
    QString service;
    QString chatIdentifier;
    QString handle;
    qint64 srcRowid = 0;

    bool operator==(const Stored &o) const
    {
        return text == o.text && date == o.date && isFromMe == o.isFromMe && service == o.service
            && chatIdentifier == o.chatIdentifier && handle == o.handle;
    }
};

void PrintTo(const Stored &s, std::ostream *os)
{
    *os << s.service.toStdString() << " " << s.date << " " << s.isFromMe << " [" << s.text.toStdString() << "] "
        << s.chatIdentifier.toStdString() << "/" << s.handle.toStdString() << " #" << s.srcRowid;
}

// The other parties: numbers as an iOS 5 phone stores them and as the
// normalised address the recycle database holds, and one mail address.
QString storedNumber(int i, bool ios5)
{
    return (ios5 ? QString() : QStringLiteral("+91")) + QStringLiteral("98765000%1").arg(i, 2, 10, QLatin1Char('0'));
}
QString normalisedNumber(int i)
{
    return QStringLiteral("+9198765000%1").arg(i, 2, 10, QLatin1Char('0'));
}
const QString kMail = QStringLiteral("friend@example.com");

// A small sms.db of one release and mode on which deletions are made, and
// the recycle database a scan fills from it.
class ReleaseScan
{
public:
    ReleaseScan(Writer::Release release, Writer::Mode mode)
        : m_clock(kNow)
        , writer(dir.path(), release, mode)
    {
    }

    Writer::Message message(int n) const
    {
        Writer::Message m;
        m.iMessage = n % 4 == 3;
        m.address = m.iMessage ? kMail : storedNumber(n % 3, writer.isIOS5());
        m.date = 400000000 + n * 97;
        m.fromMe = n % 2 == 0;
        m.text = QStringLiteral("message %1 %2").arg(n).arg(QString(10 + (n * 7) % 60, QChar(u'a' + n % 26)));
        m.guid = QStringLiteral("5E2A%1-1B2C-4D3E-8F40-A1B2C3D4E5F6").arg(n, 4, 10, QLatin1Char('0'));
        return m;
    }

    Stored expected(int n) const
    {
        const Writer::Message m = message(n);
        const QString address = m.iMessage ? kMail : normalisedNumber(n % 3);
        return {m.text, m.date, m.fromMe ? 1 : 0, m.iMessage ? "iMessage" : "SMS", address, address, 0};
    }

    void add(int from, int to)
    {
        for (int n = from; n <= to; ++n)
            writer.addMessage(message(n));
    }

    void scan()
    {
        if (writer.isIOS5()) {
            IOS5MessageDb db(QDir(dir.path()), kMcc);
            readRawMessages(db, nullptr);
        } else {
            IOS6MessageDb db(QDir(dir.path()), kMcc, false);
            readRawHandles(db, nullptr);
            MsgDataSet set = MsgDataSet::create();
            db.chats(set);
            readRawMessages(db, set.chatList(), nullptr);
        }
    }

    QList<Stored> stored() const
    {
        QList<Stored> rows;
        const QString path = QDir(dir.path()).filePath(QStringLiteral("recycle.db"));
        if (!QFileInfo::exists(path))
            return rows;
        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::ReadOnly);
        Sqlite3Cursor c = db.queryThrow(
            "select text, date, is_from_me, service, chat_identifier, handle, src_rowid from message order by date");
        while (c.moveNext())
            rows.append({c.getText(QStringLiteral("text")), c.getInt64(QStringLiteral("date")),
                         c.getInt(QStringLiteral("is_from_me")), c.getText(QStringLiteral("service")),
                         c.getText(QStringLiteral("chat_identifier")), c.getText(QStringLiteral("handle")),
                         c.getInt64(QStringLiteral("src_rowid"))});
        return rows;
    }

    QList<Stored> expectedAll(const QList<int> &numbers) const
    {
        QList<Stored> out;
        for (const int n : numbers)
            out.append(expected(n));
        return out;
    }

    TestClock m_clock;
    QTemporaryDir dir;
    Writer writer;
};

struct ReleaseCase
{
    Writer::Release release;
    Writer::Mode mode;
};

std::string caseName(const ::testing::TestParamInfo<ReleaseCase> &info)
{
    const char *names[] = {"ios5_0", "ios5_1", "ios6", "later"};
    return std::string(names[info.param.release]) + (info.param.mode == Writer::Wal ? "_wal" : "_journal");
}

class DeletedMessagesOfEachRelease : public ::testing::TestWithParam<ReleaseCase>
{
};

// Deletions in the middle of a leaf page leave cells whose first four bytes
// became a freeblock's link and size. In log mode the deleting transaction
// zeroes them (so they stand only in the log's older frames), and the log is
// then started again, so that some of those frames belong to an earlier
// generation.
TEST_P(DeletedMessagesOfEachRelease, AreRecoveredExactlyAndNothingElse)
{
    ReleaseScan s(GetParam().release, GetParam().mode);
    s.add(1, 60);
    const QList<int> gone{7, 8, 15, 23, 31, 42};
    if (GetParam().mode == Writer::Wal)
        s.writer.setSecureDelete(true);
    for (const int n : gone)
        s.writer.deleteMessage(n);
    if (GetParam().mode == Writer::Wal) {
        s.writer.setSecureDelete(false);
        s.writer.restartLog();
        s.add(61, 61);
        const WriteAheadLog log = WriteAheadLog::read(s.writer.dbPath() + QStringLiteral("-wal"));
        ASSERT_TRUE(log.valid());
        ASSERT_TRUE(std::any_of(log.frames().begin(), log.frames().end(),
                                [&](const WriteAheadLog::Frame &f) { return f.salt1 != log.salt1(); }));
    }

    s.scan();
    QList<Stored> rows = s.stored();
    EXPECT_EQ(rows, s.expectedAll(gone));
    // A message taken from a whole cell keeps its rowid.
    if (GetParam().mode == Writer::Wal) {
        for (const Stored &r : rows)
            EXPECT_EQ(r.srcRowid, r.text.section(u' ', 1, 1).toLongLong()) << r.text.toStdString();
    }
    // Again: nothing twice.
    s.scan();
    EXPECT_EQ(s.stored().size(), gone.size());
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeletedMessagesOfEachRelease,
                         ::testing::Values(ReleaseCase{Writer::IOS50, Writer::Journal},
                                           ReleaseCase{Writer::IOS50, Writer::Wal},
                                           ReleaseCase{Writer::IOS51, Writer::Journal},
                                           ReleaseCase{Writer::IOS51, Writer::Wal},
                                           ReleaseCase{Writer::IOS6, Writer::Journal},
                                           ReleaseCase{Writer::IOS6, Writer::Wal},
                                           ReleaseCase{Writer::Later, Writer::Journal},
                                           ReleaseCase{Writer::Later, Writer::Wal}),
                         caseName);

// A 5.0 table that the update to 5.1 gave its account guid: the column comes
// last, and the rows written before have one value less.
TEST(DeletedMessagesOfAnUpdatedTable, RowsFromBeforeAndAfterTheNewColumnAreFound)
{
    ReleaseScan s(Writer::IOS50, Writer::Journal);
    s.add(1, 30);
    s.writer.db().executeThrow("ALTER TABLE message ADD COLUMN madrid_account_guid TEXT");
    s.add(31, 60);
    const QList<int> gone{5, 6, 19, 27, 35, 44, 51};
    for (const int n : gone)
        s.writer.deleteMessage(n);
    s.scan();
    EXPECT_EQ(s.stored(), s.expectedAll(gone));
}

// --- the precision rules, each on the smallest file that shows it ----------------

// The engine takes a new cell from the end of a freeblock, so the block
// keeps the start of the deleted record while the new cell overwrote the
// rest of its body: what is left of the deleted message is no message.
TEST(DeletedMessagePrecision, ARowWhoseBodyRunsPastItsRangeIsNotStored)
{
    for (const Writer::Release release : {Writer::IOS51, Writer::IOS6}) {
        ReleaseScan s(release, Writer::Journal);
        s.add(1, 5);
        Writer::Message longOne = s.message(6);
        longOne.text = QStringLiteral("a long deleted text ") + QString(300, u'q');
        s.writer.addMessage(longOne);
        s.add(7, 12);
        s.writer.deleteMessage(6);
        s.writer.addMessage(s.message(13));
        s.scan();
        EXPECT_TRUE(s.stored().isEmpty()) << Writer::releaseName(release).toStdString();
    }
}

TEST(DeletedMessagePrecision, AnOldCopyOfALiveIOS5MessageIsNotStored)
{
    ReleaseScan s(Writer::IOS51, Writer::Journal);
    s.add(1, 12);
    // A longer row moves: its old cell stays in the page's free space.
    s.writer.db().executeThrow("UPDATE message SET subject = '" + QString(200, u's') + "' WHERE ROWID = 6");
    s.scan();
    EXPECT_TRUE(s.stored().isEmpty());
}

// The newest image of the page has the deleted cell as a freeblock (its
// rowid overwritten); an older frame of the log still has it whole.
TEST(DeletedMessagePrecision, OfTwoImagesOfAMessageTheWholeOneIsStored)
{
    for (const Writer::Release release : {Writer::IOS51, Writer::IOS6}) {
        ReleaseScan s(release, Writer::Wal);
        s.add(1, 12);
        s.writer.deleteMessage(6);
        s.scan();
        const QList<Stored> rows = s.stored();
        ASSERT_EQ(rows, s.expectedAll({6})) << Writer::releaseName(release).toStdString();
        EXPECT_EQ(rows[0].srcRowid, 6);
    }
}

// A wholly deleted conversation takes its handle with it; the log's older
// frames still hold the handle's row with its rowid.
TEST(DeletedMessagePrecision, AMessageWhoseHandleRowSurvivesKeepsItsAddress)
{
    ReleaseScan s(Writer::IOS6, Writer::Wal);
    s.add(1, 30);
    s.writer.setSecureDelete(true);
    s.writer.deleteConversation(storedNumber(1, false), false);
    s.scan();
    QList<Stored> rows = s.stored();
    QList<int> gone;
    for (int n = 1; n <= 30; ++n) {
        if (n % 4 != 3 && n % 3 == 1)
            gone.append(n);
    }
    EXPECT_EQ(rows, s.expectedAll(gone));
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A handle row deleted from a page that stays in use loses its rowid with
// its first bytes (a freeblock's link and size overwrite them); the entry of
// the table's UNIQUE (id, service) index still names it, so the messages of
// the wholly deleted conversation keep their address.
class AWhollyDeletedConversation : public ::testing::TestWithParam<ReleaseCase>
{
};

TEST_P(AWhollyDeletedConversation, KeepsItsAddressThroughTheHandlesIndexEntry)
{
    ReleaseScan s(GetParam().release, GetParam().mode);
    s.add(1, 30);
    s.writer.deleteConversation(storedNumber(1, false), false);
    // A deletion that rebalances the table's leaves writes their pages anew,
    // and the rows deleted on them are gone from the files: only those whose
    // text still stands there are asked for.
    const QByteArray bytes = bytesOf(s.writer.dbPath()) + bytesOf(s.writer.dbPath() + QStringLiteral("-wal"));
    s.scan();
    QList<int> gone;
    for (int n = 1; n <= 30; ++n) {
        if (n % 4 != 3 && n % 3 == 1 && bytes.contains(s.message(n).text.toUtf8()))
            gone.append(n);
    }
    EXPECT_GE(gone.size(), 4);
    EXPECT_EQ(s.stored(), s.expectedAll(gone));
}

INSTANTIATE_TEST_SUITE_P(Releases, AWhollyDeletedConversation,
                         ::testing::Values(ReleaseCase{Writer::IOS6, Writer::Journal},
                                           ReleaseCase{Writer::Later, Writer::Journal},
                                           ReleaseCase{Writer::IOS6, Writer::Wal}),
                         caseName);

} // namespace

// --- where deleted rows stand, each on the smallest file that shows it ------------


// A deletion in log mode writes its page to the log once, at the commit:
// when the page stood in the file before, the file's page is the only whole
// copy of the rows deleted in that transaction. The scan carves it and
// leaves both files as they were (a checkpoint would overwrite that page).
TEST(DeletedMessagePlaces, TheFilesOwnOlderPageUnderTheLog)
{
    for (const Writer::Release release : {Writer::IOS51, Writer::IOS6}) {
        ReleaseScan s(release, Writer::Wal);
        s.add(1, 12);
        s.writer.restartLog();
        s.writer.setSecureDelete(true);
        s.writer.beginBatch();
        s.writer.deleteMessage(5);
        s.writer.deleteMessage(6);
        s.writer.endBatch();
        const QByteArray db = bytesOf(s.writer.dbPath());
        const QByteArray log = bytesOf(s.writer.dbPath() + QStringLiteral("-wal"));
        ASSERT_FALSE(log.isEmpty());

        s.scan();
        const QList<Stored> rows = s.stored();
        EXPECT_EQ(rows, s.expectedAll({5, 6})) << Writer::releaseName(release).toStdString();
        for (const Stored &r : rows)
            EXPECT_EQ(r.srcRowid, r.text.section(u' ', 1, 1).toLongLong());
        EXPECT_EQ(bytesOf(s.writer.dbPath()), db);
        EXPECT_EQ(bytesOf(s.writer.dbPath() + QStringLiteral("-wal")), log);
    }
}

// When a table outgrows its root leaf, the engine moves the leaf's cells to
// a new child and makes the root an interior page, whose unallocated area
// still holds them. Deleted from the child later (its bytes zeroed), a
// message stands only there.
TEST(DeletedMessagePlaces, TheUnallocatedAreaOfAnInteriorPage)
{
    for (const Writer::Release release : {Writer::IOS51, Writer::IOS6}) {
        ReleaseScan s(release, Writer::Journal);
        s.add(1, 60);
        s.writer.setSecureDelete(true);
        s.writer.deleteMessage(9);
        s.writer.deleteMessage(13);
        s.scan();
        EXPECT_EQ(s.stored(), s.expectedAll({9, 13})) << Writer::releaseName(release).toStdString();
    }
}
