#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <algorithm>

#include "BackupSMSThread.h"
#include "DbInspect.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "MsgSetBuilder.h"
#include "RecordingProgress.h"
#include "SampleConversations.h"

namespace
{

class BackupSMSThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    QDir target() const { return QDir(dir.filePath(QStringLiteral("local"))); }
    QString smsDb() const { return IOS6SmsDbFixture::smsDbPath(target()); }
    QString copiedAttachment(int id, const char *name) const
    {
        return target().absoluteFilePath(
            QStringLiteral("file-relay/var/mobile/Library/SMS/Attachments/%1/%2").arg(id, 2, 10, QLatin1Char('0')).arg(QLatin1String(name)));
    }
    // Runs a backup of messages into the target and returns what it posted.
    void run(RecordingProgress &progress, const QList<_MsgMessage *> &messages)
    {
        BackupSMSThread worker(messages, target(), QString(), &progress);
        ASSERT_TRUE(progress.runWorker(worker));
    }

    QTemporaryDir dir;
    QTranslator translator;
};

TEST_F(BackupSMSThreadTest, WritesOldestFirstInOneRunAndReportsTheCount)
{
    SampleConversations sample(dir.filePath(QStringLiteral("files")));
    QList<_MsgMessage *> messages = sample.messages();
    std::reverse(messages.begin(), messages.end());
    RecordingProgress progress;
    run(progress, messages);

    EXPECT_EQ(progress.result(), 1);
    EXPECT_EQ(progress.endings(), 1);
    EXPECT_EQ(progress.successText(), QStringLiteral("Successfully Backup 6 SMS to local Database."));
    EXPECT_EQ(progress.statuses().first(), QStringLiteral("Backing up SMS to Local Database..."));
    EXPECT_EQ(progress.progressValues(), QList<int>({0, 16, 33, 50, 66, 83, 100}));
    EXPECT_EQ(progress.updates().at(1).progressText, QStringLiteral("SMS: 1/6"));
    EXPECT_EQ(progress.updates().last().progressText, QStringLiteral("SMS: 6/6"));
    EXPECT_EQ(queryRows(smsDb(), QStringLiteral("select guid from message order by rowid")),
              QStringList({"MSG-1", "MSG-2", "MSG-3", "MSG-4", "MSG-5", "MSG-6"}));
    EXPECT_TRUE(QFileInfo::exists(copiedAttachment(1, "IMG_0001.JPG")));
}

TEST_F(BackupSMSThreadTest, SkippedAndPresentMessagesStillCount)
{
    SampleConversations sample;
    MsgSetBuilder b(sample.set);
    _MsgMessage *loose = b.message(nullptr, 100, 5, QStringLiteral("no chat"));
    loose->guid = QStringLiteral("LOOSE");
    RecordingProgress first;
    run(first, {sample.message(1), loose});
    EXPECT_EQ(first.successText(), QStringLiteral("Successfully Backup 2 SMS to local Database."));
    RecordingProgress again;
    run(again, {sample.message(1)});
    EXPECT_EQ(again.successText(), QStringLiteral("Successfully Backup 1 SMS to local Database."));
    EXPECT_EQ(tableRowCounts(smsDb()).value("message"), 1);
}

TEST_F(BackupSMSThreadTest, AnEmptyListCommitsNothingAndSucceeds)
{
    RecordingProgress progress;
    run(progress, {});
    EXPECT_EQ(progress.result(), 1);
    EXPECT_EQ(progress.successText(), QStringLiteral("Successfully Backup 0 SMS to local Database."));
    EXPECT_EQ(progress.progressValues(), QList<int>{0});
    EXPECT_EQ(tableRowCounts(smsDb()).value("message"), 0);
}

TEST_F(BackupSMSThreadTest, ACancelHalfWayLeavesTheFileAsItWas)
{
    SampleConversations sample(dir.filePath(QStringLiteral("files")));
    {
        RecordingProgress seed;
        run(seed, {sample.message(1)});
    }
    const QByteArray before = fileDigest(smsDb());
    RecordingProgress progress;
    // Messages 1 to 3 are written (2 copies a file), then the user cancels.
    progress.cancelAfterChecks(3);
    run(progress, sample.messages());
    EXPECT_EQ(progress.endings(), 0) << "a cancel posts nothing";
    EXPECT_EQ(progress.cancelChecks(), 4);
    EXPECT_EQ(fileDigest(smsDb()), before);
    EXPECT_FALSE(QFileInfo::exists(copiedAttachment(1, "IMG_0001.JPG")));
    EXPECT_FALSE(QFileInfo::exists(smsDb() + QStringLiteral("-journal")));
}

TEST_F(BackupSMSThreadTest, AnInvalidChatServiceIsReportedAndLeavesTheFileAsItWas)
{
    SampleConversations sample;
    {
        RecordingProgress seed;
        run(seed, {sample.message(1)});
    }
    const QByteArray before = fileDigest(smsDb());
    sample.chat(2)->service_name = QStringLiteral("Email");
    RecordingProgress progress;
    run(progress, sample.messages());
    EXPECT_EQ(progress.result(), 0);
    EXPECT_EQ(progress.endings(), 1);
    EXPECT_EQ(progress.errorText(), QStringLiteral("IOS6MessageDb::insertChat, invalid chat, service_name:Email"));
    EXPECT_EQ(fileDigest(smsDb()), before);
}

TEST_F(BackupSMSThreadTest, ADeviceDatabaseRoundTripsThroughALocalDatabase)
{
    const QDir device(dir.filePath(QStringLiteral("device")));
    {
        IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(device), IOS6SmsDbFixture::Device);
        const qint64 ann = sms.addHandle(QStringLiteral("+15550000001"));
        const qint64 bob = sms.addHandle(QStringLiteral("bob@example.com"), QStringLiteral("iMessage"));
        const qint64 one = sms.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
        sms.joinChatHandle(one, ann);
        const qint64 group = sms.addChat(QStringLiteral("iMessage;+;chat1"), QStringLiteral("chat1"),
                                         QStringLiteral("iMessage"), 43);
        sms.joinChatHandle(group, ann);
        sms.joinChatHandle(group, bob);
        sms.addMessage(one, ann, QStringLiteral("D1"), QStringLiteral("first"), 1000, 0);
        sms.addMessage(one, ann, QStringLiteral("D2"), QStringLiteral("second"), 1100, 1);
        sms.addMessage(group, bob, QStringLiteral("D3"), QStringLiteral("group"), 1200, 0, 0, -1,
                       QStringLiteral("iMessage"));
    }
    IOS6MessageDb source(device, QString(), false);
    MsgDataSet read = MsgDataSet::create();
    source.messages(read, 0);
    ASSERT_EQ(read.data()->messages.size(), 3);

    RecordingProgress progress;
    run(progress, read.messageList());
    ASSERT_EQ(progress.result(), 1) << progress.errorText().toStdString();

    IOS6MessageDb local(target(), QString(), true);
    MsgDataSet back = MsgDataSet::create();
    local.messages(back, 0);
    auto describe = [](const MsgDataSet &set) {
        QStringList lines;
        for (const _MsgMessage *m : set.messageList()) {
            lines.append(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                             .arg(m->guid, m->text)
                             .arg(m->date)
                             .arg(m->is_from_me)
                             .arg(m->sender ? m->sender->id : QString(), m->chat ? m->chat->guid : QString())
                             .arg(m->chat ? m->chat->_last : -1));
        }
        lines.sort();
        return lines;
    };
    EXPECT_EQ(describe(back), describe(read));
    EXPECT_EQ(describe(back).first(), QStringLiteral("D1 first 1000 0 +15550000001 SMS;-;+15550000001 1100"));
}

} // namespace
