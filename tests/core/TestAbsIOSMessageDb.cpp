#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "AbsIOSMessageDb.h"

namespace
{

// Open descriptors of this process that refer to path (or its journal).
int openDescriptorsOf(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString link = fd.symLinkTarget();
        if (!target.isEmpty() && link.startsWith(target))
            ++n;
    }
    return n;
}

void makeDb(const QString &path, const QStringList &tables)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWriteCreate);
    for (const QString &t : tables)
        db.executeThrow(Sqlite3Sql(QStringLiteral("create table %1(ROWID INTEGER PRIMARY KEY)").arg(t)));
}

class DbVersionTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path(const QString &name = QStringLiteral("sms.db")) const { return dir.filePath(name); }
};

TEST_F(DbVersionTest, GenerationFromTheTables)
{
    const QStringList ios6 = {"chat", "handle", "chat_handle_join", "message", "chat_message_join"};
    struct Case
    {
        const char *label;
        QStringList tables;
        int expected;
    };
    const QList<Case> cases = {
        {"iOS 6 tables", ios6, 6},
        {"iOS 6 tables and more", ios6 + QStringList{"attachment", "message_attachment_join", "_SqliteDatabaseProperties"}, 6},
        {"without chat_message_join", {"chat", "handle", "chat_handle_join", "message"}, 5},
        {"without chat", {"handle", "chat_handle_join", "message", "chat_message_join"}, 5},
        {"iOS 5 tables", {"message", "msg_group", "group_member", "madrid_chat", "madrid_attachment"}, 5},
        {"no tables at all", {}, 5},
    };
    int n = 0;
    for (const Case &c : cases) {
        const QString p = path(QStringLiteral("%1.db").arg(n++));
        makeDb(p, c.tables);
        EXPECT_EQ(AbsIOSMessageDb::dbVersion(p), c.expected) << c.label;
        EXPECT_EQ(openDescriptorsOf(p), 0) << c.label;
    }
}

TEST_F(DbVersionTest, AViewOfTheRightNameIsNoTable)
{
    makeDb(path(), {"chat", "handle", "chat_handle_join", "message", "t"});
    Sqlite3DB db;
    db.openThrow(path(), Sqlite3DB::ReadWrite);
    db.executeThrow("create view chat_message_join as select * from t");
    db.close();
    EXPECT_EQ(AbsIOSMessageDb::dbVersion(path()), 5);
}

TEST_F(DbVersionTest, FilesThatAreNoDatabaseThrowAndLeaveNothingOpen)
{
    struct Case
    {
        const char *label;
        QByteArray content;
    };
    const QList<Case> cases = {
        {"text", QByteArray("this is not a database, just some words in a file\n").repeated(100)},
        {"damaged header", QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\xff')},
        {"property list", QByteArray("bplist00") + QByteArray(200, '\x01')},
    };
    int n = 0;
    for (const Case &c : cases) {
        const QString p = path(QStringLiteral("bad%1.db").arg(n++));
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.content);
        f.close();
        EXPECT_THROW(AbsIOSMessageDb::dbVersion(p), std::runtime_error) << c.label;
        EXPECT_EQ(openDescriptorsOf(p), 0) << c.label;
        // The probe writes nothing into a file it could not read.
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), c.content) << c.label;
    }
}

TEST_F(DbVersionTest, MissingFileEmptyNameAndFolderThrow)
{
    EXPECT_THROW(AbsIOSMessageDb::dbVersion(path()), std::runtime_error);
    EXPECT_FALSE(QFile::exists(path()));
    EXPECT_THROW(AbsIOSMessageDb::dbVersion(QString()), std::runtime_error);
    EXPECT_THROW(AbsIOSMessageDb::dbVersion(dir.path()), std::runtime_error);
}

TEST_F(DbVersionTest, ProbesWhileAnotherConnectionWrites)
{
    makeDb(path(), {"chat", "handle", "chat_handle_join", "message", "chat_message_join"});
    Sqlite3DB other;
    other.openThrow(path(), Sqlite3DB::ReadWrite);
    other.beginTran();
    other.executeThrow("insert into chat values(1)");
    EXPECT_EQ(AbsIOSMessageDb::dbVersion(path()), 6);
    other.commitTran();
    EXPECT_EQ(openDescriptorsOf(path()), 1);
}

// The message-source interface can be implemented and used through its bases.
class FakeSource : public AbsIOSMessageDb
{
public:
    void ensureOpen() override {}
    void chats(MsgDataSet &set) override
    {
        auto *c = new _MsgChat;
        c->rowid = 4;
        set.data()->chats.insert(4, c);
    }
    void messages(MsgDataSet &set, qint64 chatId) override
    {
        chats(set);
        auto *m = new _MsgMessage;
        m->_key = chatId;
        m->chat = set.data()->chats.value(4);
        set.data()->messages.insert(chatId, m);
    }
    int iosVersion() const override { return 6; }
};

TEST(AbsMessageDbTest, SourceFillsASetThroughItsBase)
{
    QSharedPointer<AbsMessageDb> db(new FakeSource);
    MsgDataSet set = MsgDataSet::create();
    db->messages(set, 9);
    ASSERT_EQ(set.messageList().size(), 1);
    EXPECT_EQ(set.messageList().first()->chat, set.data()->chats.value(4));
    EXPECT_EQ(db.dynamicCast<AbsIOSMessageDb>()->iosVersion(), 6);
}

} // namespace
