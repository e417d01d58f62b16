#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

#include "DbInspect.h"
#include "DeleteMessagesThread.h"
#include "ExportMessagesDb.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "MsgSetBuilder.h"
#include "RecordingProgress.h"
#include "SampleConversations.h"

namespace
{

// A local database holding the sample conversations, loaded as the window
// holds it.
class DeleteMessagesThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
        {
            SampleConversations sample;
            ExportMessagesDb exporter(root(), QString());
            exporter.begin();
            for (const _MsgMessage *m : sample.messages())
                exporter.write(m);
            exporter.end();
        }
        db = std::make_unique<IOS6MessageDb>(root(), QString(), true);
        db->messages(loaded, 0);
        ASSERT_EQ(loaded.data()->messages.size(), 6);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    QDir root() const { return QDir(dir.filePath(QStringLiteral("local"))); }
    QString smsDb() const { return IOS6SmsDbFixture::smsDbPath(root()); }
    QList<_MsgMessage *> messagesOf(const QString &chatGuid) const
    {
        QList<_MsgMessage *> list;
        for (_MsgMessage *m : loaded.messageList()) {
            if (m->chat && m->chat->guid == chatGuid)
                list.append(m);
        }
        return list;
    }
    int runDelete(RecordingProgress &progress, const QList<_MsgMessage *> &messages)
    {
        DeleteMessagesThread worker(db.get(), &messages, &progress);
        EXPECT_TRUE(progress.runWorker(worker));
        committed = worker.committed();
        return worker.deletedCount();
    }

    QTemporaryDir dir;
    QTranslator translator;
    std::unique_ptr<IOS6MessageDb> db;
    MsgDataSet loaded = MsgDataSet::create();
    bool committed = false;
};

TEST_F(DeleteMessagesThreadTest, DeletingAWholeConversationRemovesItAndItsJoins)
{
    const QList<_MsgMessage *> chat = messagesOf(QStringLiteral("SMS;-;+15550000001"));
    ASSERT_EQ(chat.size(), 3);
    RecordingProgress progress;
    EXPECT_EQ(runDelete(progress, chat), 3);
    EXPECT_TRUE(committed);
    EXPECT_EQ(progress.result(), 1);
    EXPECT_EQ(progress.successText(), QStringLiteral("Successfully Deleted 3 SMS."));
    EXPECT_EQ(progress.statuses(), QStringList{QStringLiteral("Deleting SMS...")});
    EXPECT_EQ(progress.progressValues(), QList<int>({0, 33, 66, 100}));
    EXPECT_EQ(progress.updates().at(1).progressText, QString());

    db->close();
    const QMap<QString, qint64> counts = tableRowCounts(smsDb());
    EXPECT_EQ(counts.value("message"), 3);
    EXPECT_EQ(counts.value("chat"), 1);
    EXPECT_EQ(counts.value("chat_message_join"), 3);
    EXPECT_EQ(queryRows(smsDb(), QStringLiteral("select count(*) from chat_handle_join where chat_id not in "
                                                 "(select rowid from chat)")),
              QStringList{"0"});
    EXPECT_EQ(counts.value("attachment"), 2) << "attachment 1 went with its message";
    // Ann is still a member of the group; nobody else lost a handle.
    EXPECT_EQ(counts.value("handle"), 3);
}

TEST_F(DeleteMessagesThreadTest, TheCountSaysHowManyRowsWereReallyDeleted)
{
    MsgSetBuilder b(loaded);
    _MsgMessage *recycled = b.message(loaded.data()->chats.value(1), 2047483649, 10, QStringLiteral("carved"));
    recycled->rowid = -2047483649;
    recycled->_deleted = true;
    recycled->guid = QStringLiteral("MSG-1");
    RecordingProgress progress;
    EXPECT_EQ(runDelete(progress, {loaded.data()->messages.value(1), recycled}), 1);
    EXPECT_EQ(progress.successText(), QStringLiteral("Successfully Deleted 1 SMS."));
    db->close();
    EXPECT_EQ(tableRowCounts(smsDb()).value("message"), 5);
}

TEST_F(DeleteMessagesThreadTest, AnEmptyListSucceedsWithZero)
{
    RecordingProgress progress;
    EXPECT_EQ(runDelete(progress, {}), 0);
    EXPECT_EQ(progress.successText(), QStringLiteral("Successfully Deleted 0 SMS."));
    EXPECT_FALSE(db->inTransaction());
}

TEST_F(DeleteMessagesThreadTest, ACancelHalfWayLeavesEveryMessageInPlace)
{
    db->close();
    const QByteArray before = fileDigest(smsDb());
    RecordingProgress progress;
    progress.cancelAfterChecks(2);
    EXPECT_EQ(runDelete(progress, messagesOf(QStringLiteral("SMS;-;+15550000001"))), 0);
    EXPECT_EQ(progress.endings(), 0);
    EXPECT_FALSE(committed);
    EXPECT_FALSE(db->inTransaction());
    db->close();
    EXPECT_EQ(fileDigest(smsDb()), before);
}

TEST_F(DeleteMessagesThreadTest, AnErrorRollsBackAndIsReported)
{
    db->executeThrow("CREATE TRIGGER refuse BEFORE DELETE ON message WHEN OLD.guid='MSG-3' "
                     "BEGIN SELECT RAISE(ABORT, 'refused by test'); END");
    db->close();
    const QByteArray before = fileDigest(smsDb());
    RecordingProgress progress;
    EXPECT_EQ(runDelete(progress, messagesOf(QStringLiteral("SMS;-;+15550000001"))), 0);
    EXPECT_EQ(progress.result(), 0);
    EXPECT_EQ(progress.errorText(), QStringLiteral("refused by test"));
    EXPECT_FALSE(committed);
    EXPECT_FALSE(db->inTransaction());
    db->close();
    EXPECT_EQ(fileDigest(smsDb()), before);
}

} // namespace
