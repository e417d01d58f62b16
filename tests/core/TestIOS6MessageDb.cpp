#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"

namespace
{

// Column names of a table, in table order, read with a connection of its own.
QStringList columnsOf(const QString &path, const QString &table)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadOnly);
    QStringList names;
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(QStringLiteral("PRAGMA table_info(%1)").arg(table)));
    while (c.moveNext())
        names.append(c.getText(QStringLiteral("name")));
    return names;
}

// type:name of every schema object.
QStringList schemaObjects(const QString &path)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadOnly);
    QStringList names;
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select type, name from sqlite_master order by type, name"));
    while (c.moveNext())
        names.append(c.getText(QStringLiteral("type")) + QLatin1Char(':') + c.getText(QStringLiteral("name")));
    return names;
}

// The whole stored schema; any ALTER or CREATE changes it.
QString schemaText(const QString &path)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadOnly);
    QString text;
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select name, sql from sqlite_master order by name"));
    while (c.moveNext())
        text += c.getText(QStringLiteral("name")) + QLatin1Char('=') + c.getText(QStringLiteral("sql")) + QLatin1Char('\n');
    return text;
}

const QStringList kLaterMessageColumns = {"is_audio_message", "is_played",         "date_played",
                                          "item_type",        "other_handle",      "group_title",
                                          "group_action_type", "share_status",     "share_direction",
                                          "is_expirable",     "expire_state",      "message_action_type"};

class IOS6MessageDbOpenTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QDir root() const { return QDir(dir.path()); }
    QString smsDb() const { return IOS6SmsDbFixture::smsDbPath(root()); }
};

TEST_F(IOS6MessageDbOpenTest, ANewLocalDatabaseGetsTheWholeSchema)
{
    IOS6MessageDb db(root(), QString(), true);
    EXPECT_FALSE(QFileInfo::exists(smsDb())) << "the constructor touches no file";
    db.ensureOpen();
    ASSERT_TRUE(QFileInfo::exists(smsDb()));
    EXPECT_EQ(db.dbFilePath(), smsDb());
    EXPECT_EQ(db.srcDir().absolutePath(), root().absoluteFilePath(QStringLiteral("file-relay")));

    const QStringList message = columnsOf(smsDb(), QStringLiteral("message"));
    ASSERT_EQ(message.size(), 51);
    EXPECT_EQ(message.first(), QStringLiteral("ROWID"));
    EXPECT_EQ(message.last(), QStringLiteral("logic_hash"));
    EXPECT_EQ(message.mid(38, 12), kLaterMessageColumns);
    EXPECT_EQ(columnsOf(smsDb(), QStringLiteral("handle")),
              QStringList({"ROWID", "id", "country", "service", "uncanonicalized_id", "_ct_name", "_photo"}));
    EXPECT_EQ(columnsOf(smsDb(), QStringLiteral("chat")).mid(12),
              QStringList({"display_name", "group_id", "_last"}));
    EXPECT_EQ(columnsOf(smsDb(), QStringLiteral("attachment")).size(), 12);

    const QStringList expected = {
        "index:chat_idx_identifier",
        "index:chat_idx_last",
        "index:chat_message_join_idx_message_id",
        "index:message_idx_handle",
        "index:message_idx_logic_hash",
        "index:sqlite_autoindex_attachment_1",
        "index:sqlite_autoindex_chat_1",
        "index:sqlite_autoindex_chat_handle_join_1",
        "index:sqlite_autoindex_chat_message_join_1",
        "index:sqlite_autoindex_handle_1",
        "index:sqlite_autoindex_handle_2",
        "index:sqlite_autoindex_message_1",
        "index:sqlite_autoindex_message_attachment_join_1",
        "table:attachment",
        "table:chat",
        "table:chat_handle_join",
        "table:chat_message_join",
        "table:handle",
        "table:message",
        "table:message_attachment_join",
        "table:sqlite_sequence",
        "trigger:clean_orphaned_attachments",
        "trigger:clean_orphaned_handles",
        "trigger:clean_orphaned_handles2",
        "trigger:clean_orphaned_messages",
        "trigger:clear_message_has_attachments",
        "trigger:set_message_has_attachments",
    };
    EXPECT_EQ(schemaObjects(smsDb()), expected);

    // The table map holds every table, sqlite_sequence included, and the
    // texts the column probes look for.
    EXPECT_FALSE(db.tableSql(QStringLiteral("sqlite_sequence")).isEmpty());
    EXPECT_TRUE(db.tableSql(QStringLiteral("chat")).contains(QStringLiteral("_last INTEGER")));
    EXPECT_TRUE(db.tableSql(QStringLiteral("handle")).contains(QStringLiteral("_ct_name TEXT")));
    EXPECT_TRUE(db.tableSql(QStringLiteral("handle")).contains(QStringLiteral("_photo BLOB")));
    EXPECT_TRUE(db.hasItemType());
    EXPECT_EQ(db.iosVersion(), 6);
}

TEST_F(IOS6MessageDbOpenTest, ASecondCallOnAnOpenObjectDoesNothing)
{
    IOS6MessageDb db(root(), QString(), true);
    db.ensureOpen();
    sqlite3 *first = db.handle();
    db.ensureOpen();
    EXPECT_EQ(db.handle(), first);
}

TEST_F(IOS6MessageDbOpenTest, AnOldLocalDatabaseGainsTheLaterColumnsOnceAndInOrder)
{
    {
        IOS6SmsDbFixture old(smsDb(), IOS6SmsDbFixture::OldLocal);
    }
    const QStringList before = columnsOf(smsDb(), QStringLiteral("message"));
    ASSERT_EQ(before.size(), 38);
    {
        IOS6MessageDb db(root(), QString(), true);
        db.ensureOpen();
        EXPECT_TRUE(db.hasItemType()) << "the table map is read after the upgrade";
    }
    EXPECT_EQ(columnsOf(smsDb(), QStringLiteral("message")), before + kLaterMessageColumns + QStringList{"logic_hash"});
    EXPECT_TRUE(columnsOf(smsDb(), QStringLiteral("chat")).contains(QStringLiteral("group_id")));
    EXPECT_TRUE(schemaObjects(smsDb()).contains(QStringLiteral("index:message_idx_logic_hash")));
    // Never added by an upgrade (the old file happens to have them).
    EXPECT_EQ(columnsOf(smsDb(), QStringLiteral("chat")).count(QStringLiteral("_last")), 1);

    const QString upgraded = schemaText(smsDb());
    {
        IOS6MessageDb again(root(), QString(), true);
        again.ensureOpen();
    }
    EXPECT_EQ(schemaText(smsDb()), upgraded) << "a second open runs no statement";
}

TEST_F(IOS6MessageDbOpenTest, AFileThatHasLogicHashIsNotGivenTheIndex)
{
    {
        IOS6SmsDbFixture old(smsDb(), IOS6SmsDbFixture::OldLocal);
        old.db().executeThrow("ALTER TABLE message ADD COLUMN logic_hash TEXT");
    }
    IOS6MessageDb db(root(), QString(), true);
    db.ensureOpen();
    EXPECT_FALSE(schemaObjects(smsDb()).contains(QStringLiteral("index:message_idx_logic_hash")));
    EXPECT_EQ(columnsOf(smsDb(), QStringLiteral("message")).count(QStringLiteral("logic_hash")), 1);
}

TEST_F(IOS6MessageDbOpenTest, ADeviceCopyIsNeverAlteredButGetsFunctionsAndTableMap)
{
    for (bool later : {false, true}) {
        SCOPED_TRACE(later ? "with the later columns" : "iOS 6 columns only");
        qint64 message = 0;
        {
            IOS6SmsDbFixture device(smsDb(), IOS6SmsDbFixture::Device, later);
            const qint64 h = device.addHandle(QStringLiteral("+4915112345678"));
            const qint64 c = device.addChat(QStringLiteral("SMS;-;+4915112345678"), QStringLiteral("+4915112345678"));
            message = device.addMessage(c, h, QStringLiteral("G1"), QStringLiteral("hi"), 100, 0);
            device.addAttachment(message, QStringLiteral("A1"), QStringLiteral("~/Library/SMS/Attachments/a.jpg"),
                                 QStringLiteral("image/jpeg"));
            // The phone's triggers need the phone's functions.
            QString error;
            EXPECT_NE(device.db().exec(QStringLiteral("delete from attachment"), error), 0);
            EXPECT_TRUE(error.contains(QStringLiteral("no such function"))) << error.toStdString();
        }
        const QString before = schemaText(smsDb());

        IOS6MessageDb db(root(), QStringLiteral("262"), false);
        db.ensureOpen();
        EXPECT_EQ(schemaText(smsDb()), before);
        EXPECT_FALSE(db.tableSql(QStringLiteral("message")).isEmpty());
        EXPECT_EQ(db.hasItemType(), later);
        // Both trigger functions run and answer 0.
        Sqlite3Cursor c = db.queryThrow(
            Sqlite3Sql("select delete_attachment_path('x') as a, before_delete_attachment_path(1, 'y') as b"));
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getInt(QStringLiteral("a")), 0);
        EXPECT_EQ(c.getInt(QStringLiteral("b")), 0);
        c = Sqlite3Cursor();
        db.executeThrow("delete from attachment");
        EXPECT_EQ(db.selectAll(QStringLiteral("attachment")).size(), 0);
        db.close();
        QFile::remove(smsDb());
    }
}

TEST_F(IOS6MessageDbOpenTest, AFailingUpgradeStepReportsItsLineAndClosesTheConnection)
{
    {
        // A message "table" that is a view cannot take a column.
        IOS6SmsDbFixture old(smsDb(), IOS6SmsDbFixture::OldLocal);
        old.db().executeThrow("ALTER TABLE message RENAME TO message_rows");
        old.db().executeThrow("CREATE VIEW message AS SELECT * FROM message_rows");
    }
    IOS6MessageDb db(root(), QString(), true);
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        try {
            db.ensureOpen();
            FAIL() << "the upgrade should fail";
        } catch (const std::runtime_error &e) {
            const QString text = QString::fromUtf8(e.what());
            EXPECT_TRUE(text.startsWith(QStringLiteral(
                "line:127, sql:ALTER TABLE message ADD COLUMN is_audio_message INTEGER DEFAULT 0;, error:")))
                << e.what();
            EXPECT_GT(text.size(), 90) << "the error text of the statement follows";
        }
        // Not left half open: the next call starts over.
        EXPECT_FALSE(db.isOpen());
        EXPECT_TRUE(db.tableSql(QStringLiteral("chat")).isEmpty());
        EXPECT_FALSE(db.hasItemType());
    }
    // The step before the failing one stays applied.
    EXPECT_TRUE(columnsOf(smsDb(), QStringLiteral("chat")).contains(QStringLiteral("group_id")));
    EXPECT_TRUE(QFileInfo::exists(smsDb())) << "an existing file is never removed";
}

TEST_F(IOS6MessageDbOpenTest, ANewFileWhoseScriptFailedIsRemovedAndTheNextCallRetries)
{
    // The journal cannot be created where a folder of its name stands, so the
    // first statement of the script fails.
    const QString journal = smsDb() + QStringLiteral("-journal");
    ASSERT_TRUE(QDir().mkpath(journal));
    IOS6MessageDb db(root(), QString(), true);
    try {
        db.ensureOpen();
        FAIL() << "the script should fail";
    } catch (const std::runtime_error &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(QStringLiteral("create IOS6MessageDb error. ")))
            << e.what();
    }
    EXPECT_FALSE(db.isOpen());
    EXPECT_FALSE(QFileInfo::exists(smsDb())) << "a partly built file would pass for a database next time";

    ASSERT_TRUE(QDir(journal).removeRecursively());
    db.ensureOpen();
    EXPECT_EQ(columnsOf(smsDb(), QStringLiteral("message")).size(), 51);
}

TEST_F(IOS6MessageDbOpenTest, AnOpenThatFailsLeavesNothingAndIsRetried)
{
    // A file where the folder "file-relay" should be.
    QFile blocker(root().absoluteFilePath(QStringLiteral("file-relay")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    IOS6MessageDb db(root(), QString(), true);
    EXPECT_THROW(db.ensureOpen(), std::runtime_error);
    EXPECT_FALSE(db.isOpen());
    ASSERT_TRUE(QFile::remove(blocker.fileName()));
    db.ensureOpen();
    EXPECT_TRUE(db.isOpen());
}

// Device and backup copies are opened without upgrades: a file that is not
// there is an error that says so, and neither the file nor its folders are
// made, however the path was chosen.
TEST_F(IOS6MessageDbOpenTest, WithoutUpgradesAMissingFileIsAnErrorAndNothingIsCreated)
{
    const QString other = root().absoluteFilePath(QStringLiteral("copy/sms.db"));
    for (const QString &path : {QString(), other}) {
        SCOPED_TRACE(path.toStdString());
        IOS6MessageDb db(root(), QString(), false);
        if (!path.isEmpty())
            db.setDbPath(path);
        const QString expected = path.isEmpty() ? smsDb() : path;
        try {
            db.ensureOpen();
            ADD_FAILURE() << "opened a file that is not there";
        } catch (const std::runtime_error &e) {
            const QString text = QString::fromUtf8(e.what());
            EXPECT_TRUE(text.contains(QDir::toNativeSeparators(expected))) << e.what();
            EXPECT_TRUE(text.contains(QStringLiteral("does not exist"))) << e.what();
        }
        EXPECT_FALSE(db.isOpen());
        EXPECT_TRUE(root().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
            << root().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(' ').toStdString();

        // Once the file is there, the same object opens it.
        {
            IOS6SmsDbFixture device(expected, IOS6SmsDbFixture::Device);
        }
        db.ensureOpen();
        EXPECT_TRUE(db.isOpen());
        db.close();
        ASSERT_TRUE(QDir(root().absoluteFilePath(path.isEmpty() ? QStringLiteral("file-relay") : QStringLiteral("copy")))
                        .removeRecursively());
    }
}

TEST_F(IOS6MessageDbOpenTest, AFileThatIsNoDatabaseFailsAndStays)
{
    for (bool allowUpgrade : {false, true}) {
        SCOPED_TRACE(allowUpgrade);
        QDir().mkpath(QFileInfo(smsDb()).absolutePath());
        QFile f(smsDb());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        IOS6MessageDb db(root(), QString(), allowUpgrade);
        EXPECT_THROW(db.ensureOpen(), std::runtime_error);
        EXPECT_FALSE(db.isOpen());
        EXPECT_EQ(QFileInfo(smsDb()).size(), 4096);
    }
}

TEST_F(IOS6MessageDbOpenTest, SetDbPathChoosesTheFileToOpen)
{
    const QString other = root().absoluteFilePath(QStringLiteral("copy/sms.db"));
    {
        IOS6SmsDbFixture device(other, IOS6SmsDbFixture::Device);
    }
    IOS6MessageDb db(root(), QString(), false);
    db.setDbPath(other);
    db.ensureOpen();
    EXPECT_EQ(db.dbFilePath(), other);
    EXPECT_FALSE(QFileInfo::exists(smsDb()));
    EXPECT_FALSE(db.hasItemType());
}

} // namespace
