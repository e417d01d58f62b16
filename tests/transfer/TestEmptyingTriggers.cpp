#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "EmptyingTriggers.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"

namespace
{

QStringList triggersOf(Sqlite3DB &db)
{
    QStringList sql;
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select sql from sqlite_master where type='trigger' order by name"));
    while (c.moveNext())
        sql << c.getText(0);
    return sql;
}

} // namespace

// The triggers a phone's sms.db has on the tables a merge empties remove
// orphaned rows of those tables and call the attachment-path functions.
TEST(EmptyingTriggers, ThePhonesOwnTriggersOnlyEmpty)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir root(dir.path());
    QStringList triggers;
    {
        IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(root), IOS6SmsDbFixture::Device, true);
        triggers = triggersOf(sms.db());
    }
    ASSERT_EQ(triggers.size(), 5);
    for (const QString &sql : std::as_const(triggers))
        EXPECT_TRUE(EmptyingTriggers::onlyEmpties(sql)) << qPrintable(sql);
    IOS6MessageDb db(root, QString(), false);
    db.ensureOpen();
    EXPECT_TRUE(EmptyingTriggers::doOnlyEmpty(db));
}

TEST(EmptyingTriggers, ATriggerThatMayDoMoreIsToldApart)
{
    struct Case
    {
        const char *sql;
        bool onlyEmpties;
    };
    const Case cases[] = {
        {"CREATE TRIGGER t AFTER DELETE ON chat_message_join BEGIN DELETE FROM message WHERE (SELECT 1 FROM "
         "chat_message_join WHERE message_id = message.ROWID LIMIT 1) IS NULL; END",
         true},
        {"create trigger t after delete on message begin update chat set last_read_message_timestamp = 0; end", true},
        {"CREATE TRIGGER t AFTER DELETE ON attachment BEGIN SELECT delete_attachment_path(OLD.filename); END;", true},
        // Another table, an insert, a function that is not known or takes other
        // arguments, RAISE.
        {"create trigger t after delete on chat begin delete from keepers; end", false},
        {"create trigger t after delete on message begin insert into deleted_log(guid) values (old.guid); end", false},
        {"CREATE TRIGGER t AFTER DELETE ON attachment BEGIN SELECT unlink_file(OLD.filename); END", false},
        {"CREATE TRIGGER t AFTER DELETE ON attachment BEGIN SELECT delete_attachment_path(OLD.filename, 1); END",
         false},
        {"create trigger t before delete on message begin select raise(abort, no); end", false},
        {"create trigger t after delete on message when length(old.text) > 0 begin delete from chat; end", false},
        // Texts the reading does not follow: quotes, brackets, comments.
        {"create trigger t after delete on message begin delete from chat where guid='x; insert'; end", false},
        {"create trigger t after delete on message begin delete from [chat]; end", false},
        {"create trigger t after delete on message begin delete from chat; -- x\n end", false},
        {"create trigger t after delete on message begin delete from chat /* x */; end", false},
        {"create view v as select 1", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(EmptyingTriggers::onlyEmpties(QString::fromLatin1(c.sql)), c.onlyEmpties) << c.sql;
}

// One trigger on an emptied table that may do more keeps them all on; one on
// a table the merge keeps does not count, and a temporary one of the
// connection does.
TEST(EmptyingTriggers, OneTriggerThatMayDoMoreOnAnEmptiedTableCounts)
{
    struct Case
    {
        const char *name;
        const char *sql;
        bool onlyEmpty;
    };
    const Case cases[] = {
        {"on an emptied table", "create trigger more after delete on message begin insert into log values (1); end",
         false},
        {"on a kept table", "create trigger more after delete on log begin insert into log values (1); end", true},
        {"temporary", "create temp trigger more after delete on main.chat begin insert into log values (1); end",
         false},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QDir root(dir.path());
        {
            IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(root), IOS6SmsDbFixture::Device, true);
            sms.db().executeThrow(Sqlite3Sql("create table log(n integer)"));
        }
        IOS6MessageDb db(root, QString(), false);
        db.ensureOpen();
        db.executeThrow(Sqlite3Sql(c.sql));
        EXPECT_EQ(EmptyingTriggers::doOnlyEmpty(db), c.onlyEmpty) << c.name;
    }
}
