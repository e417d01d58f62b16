#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTranslator>

#include <gtest/gtest.h>

#include "AppFolders.h"
#include "DbInspect.h"
#include "IOS6SmsDbFixture.h"
#include "LocalDbUpdateThread.h"
#include "MessageIdentity.h"
#include "OldLocalDbFixture.h"
#include "RecordingProgress.h"
#include "Sqlite3DB.h"

namespace
{

// Seconds from 1970-01-01 to 2001-01-01.
constexpr qint64 kOffset = 978307200;

class LocalDbUpdateThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
        folder = localDatabasesDir();
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    QString path(const QString &name) const { return folder.absoluteFilePath(name); }
    QString smsDb(const QString &name) const { return IOS6SmsDbFixture::smsDbPath(QDir(path(name))); }

    // Four rows of one correspondent, a duplicate of the first among them.
    void writeOld(const QString &name)
    {
        OldLocalDbFixture old(path(name), LocalDbUpdateThread::bodyKey());
        old.add(QStringLiteral("+1 (555) 000-0001"), QStringLiteral("Hello \u2713"), QStringLiteral("Ann"),
                kOffset + 1000, 0);
        old.add(QStringLiteral("+1 (555) 000-0001"), QStringLiteral("Bye"), QStringLiteral("Ann"), kOffset + 2000, 1);
        old.add(QStringLiteral("+1 (555) 000-0001"), QString(), QStringLiteral("Ann"), kOffset + 3000, 1);
        old.add(QStringLiteral("+1 (555) 000-0001"), QStringLiteral("Hello \u2713"), QStringLiteral("Ann"),
                kOffset + 1000, 0);
    }
    void run(RecordingProgress &progress)
    {
        LocalDbUpdateThread worker(&progress);
        ASSERT_TRUE(progress.runWorker(worker));
    }

    QDir folder;
    QTranslator translator;
};

TEST_F(LocalDbUpdateThreadTest, AnOldFileBecomesAFolderWithTheConvertedMessages)
{
    writeOld(QStringLiteral("abc"));
    RecordingProgress progress;
    run(progress);
    EXPECT_EQ(progress.result(), 1);
    EXPECT_EQ(progress.successText(), QStringLiteral("Successfully updated local database. Please restart software."));
    EXPECT_EQ(progress.statuses(), QStringList{QStringLiteral("Updating local database 'abc'...")});
    EXPECT_EQ(progress.progressValues(), QList<int>({0, 25, 50, 75, 100}));
    EXPECT_EQ(progress.updates().at(1).progressText, QStringLiteral("SMS: 1/4"));

    EXPECT_TRUE(QFileInfo(path("abc")).isDir());
    EXPECT_TRUE(QFileInfo::exists(smsDb("abc")));
    EXPECT_TRUE(folder.entryList(QDir::Files | QDir::Hidden).isEmpty()) << "neither the old file nor its temporary name";

    const QString db = smsDb("abc");
    EXPECT_EQ(queryRows(db, "select id, service, _ct_name, country from handle"),
              QStringList{"+15550000001|SMS|Ann|NULL"});
    EXPECT_EQ(queryRows(db, "select guid, style, state, chat_identifier, service_name, account_login, _last, group_id "
                            "from chat"),
              QStringList{QStringLiteral("SMS;-;+15550000001|45|3|+15550000001|SMS|E:|3000|%1")
                              .arg(guidFromData("SMS;-;+15550000001"))});
    EXPECT_EQ(queryRows(db, "select text, date, date_read, date_delivered, is_from_me, is_sent, is_read, is_finished, "
                            "is_prepared, is_delivered, was_data_detected, version, type, service, account, replace, "
                            "error from message order by date"),
              QStringList({QStringLiteral("Hello \u2713|1000|1000|1000|0|1|1|1|1|0|1|10|0|SMS|e:|0|0"),
                           QStringLiteral("Bye|2000|2000|2000|1|1|1|1|1|0|1|10|0|SMS|e:|0|0"),
                           QStringLiteral("|3000|3000|3000|1|1|1|1|1|0|1|10|0|SMS|e:|0|0")}));
    // The guid follows from the fingerprint, which is stored with it.
    for (const QString &row : queryRows(db, "select guid, logic_hash from message")) {
        const QStringList parts = row.split(QLatin1Char('|'));
        EXPECT_EQ(parts.at(0), guidFromData(parts.at(1).toUtf8()));
    }
}

TEST_F(LocalDbUpdateThreadTest, ARerunOverTheSameRowsAddsNothing)
{
    writeOld(QStringLiteral("abc"));
    RecordingProgress first;
    run(first);
    const QMap<QString, qint64> counts = tableRowCounts(smsDb("abc"));
    // A run that stopped after the move left the file under its temporary name.
    writeOld(QStringLiteral("abc.__tmp"));
    RecordingProgress again;
    run(again);
    EXPECT_EQ(again.result(), 1);
    EXPECT_EQ(tableRowCounts(smsDb("abc")), counts);
    EXPECT_FALSE(QFileInfo::exists(path("abc.__tmp")));
}

TEST_F(LocalDbUpdateThreadTest, FolderNamesFollowTheFileNames)
{
    struct Case
    {
        QString file;
        QString folder;
    };
    const QList<Case> cases = {{"abc", "abc"}, {"abc.db", "abc.db"}, {"x.__tmp", "x"}, {"y.__TMP", "y"}, {"z.db.__Tmp", "z.db"}};
    for (const Case &c : cases)
        writeOld(c.file);
    RecordingProgress progress;
    run(progress);
    EXPECT_EQ(progress.result(), 1);
    for (const Case &c : cases) {
        EXPECT_TRUE(QFileInfo::exists(smsDb(c.folder))) << c.file.toStdString();
        EXPECT_EQ(tableRowCounts(smsDb(c.folder)).value("message"), 3) << c.file.toStdString();
    }
    EXPECT_TRUE(folder.entryList(QDir::Files).isEmpty());
}

TEST_F(LocalDbUpdateThreadTest, AFileThatIsNoOldDatabaseStopsTheRunUnderItsTemporaryName)
{
    {
        QFile notes(path("notes"));
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
        notes.write("just some notes, not a database at all");
    }
    {
        // A database, but without view_sms.
        Sqlite3DB other;
        other.openThrow(path("other"), Sqlite3DB::ReadWriteCreate);
        other.executeThrow("create table t(x)");
    }
    for (const char *name : {"notes", "other"}) {
        RecordingProgress progress;
        run(progress);
        EXPECT_EQ(progress.result(), 0) << name;
        EXPECT_EQ(progress.endings(), 1);
        EXPECT_FALSE(progress.errorText().isEmpty());
        EXPECT_TRUE(QFileInfo::exists(path(QLatin1String(name) + QStringLiteral(".__tmp")))) << name;
        EXPECT_FALSE(QFileInfo::exists(path(name))) << "no empty local database is made of it";
        QFile::remove(path(QLatin1String(name) + QStringLiteral(".__tmp")));
    }
}

TEST_F(LocalDbUpdateThreadTest, AFailedMoveEndsTheRunWithItsText)
{
    writeOld(QStringLiteral("abc"));
    ASSERT_TRUE(folder.mkdir(QStringLiteral("abc.__tmp")));
    RecordingProgress progress;
    run(progress);
    EXPECT_EQ(progress.result(), 0);
    EXPECT_EQ(progress.errorText(), QStringLiteral("can not rename %1.").arg(path("abc")));
    EXPECT_TRUE(QFileInfo(path("abc")).isFile()) << "files not handled stay as they are";
}

TEST_F(LocalDbUpdateThreadTest, FoldersAndHiddenFilesAreLeftAlone)
{
    ASSERT_TRUE(folder.mkpath(QStringLiteral("current")));
    writeOld(QStringLiteral(".hidden"));
    RecordingProgress progress;
    run(progress);
    EXPECT_EQ(progress.result(), 1);
    EXPECT_EQ(progress.statuses(), QStringList());
    EXPECT_TRUE(QFileInfo(path(".hidden")).isFile());
    EXPECT_TRUE(QDir(path("current")).isEmpty());
}

} // namespace
