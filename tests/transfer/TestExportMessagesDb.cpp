#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "DbInspect.h"
#include "ExportMessagesDb.h"
#include "IOS6SmsDbFixture.h"
#include "MessageIdentity.h"
#include "MsgSetBuilder.h"
#include "SampleConversations.h"

namespace
{

class ExportMessagesDbTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QDir target() const { return QDir(dir.filePath(QStringLiteral("local"))); }
    QString smsDb() const { return IOS6SmsDbFixture::smsDbPath(target()); }

    void backUp(const QList<_MsgMessage *> &messages)
    {
        ExportMessagesDb exporter(target(), QString());
        exporter.begin();
        for (const _MsgMessage *m : messages)
            exporter.write(m);
        exporter.end();
    }
    QStringList rows(const QString &sql) const { return queryRows(smsDb(), sql); }
};

// count messages of one conversation, each followed by a copy under another
// guid that only its fingerprint finds.
QList<_MsgMessage *> eachTwice(MsgSetBuilder &b, int count)
{
    _MsgChat *chat = b.chat(1, QStringLiteral("+15550000001"));
    _MsgHandle *h = b.handle(chat, 1, QStringLiteral("+15550000001"));
    QList<_MsgMessage *> twice;
    for (int i = 0; i < count; ++i) {
        _MsgMessage *m = b.message(chat, i + 1, 400000000 + i, QStringLiteral("text %1").arg(i % 7), h);
        m->guid = QStringLiteral("GUID-%1").arg(i);
        _MsgMessage *copy = b.message(chat, 100000 + i, m->date, m->text, h);
        copy->guid = QStringLiteral("COPY-%1").arg(i);
        twice << m << copy;
    }
    return twice;
}

TEST_F(ExportMessagesDbTest, BackingUpTheSameMessagesTwiceChangesNoTable)
{
    SampleConversations sample(dir.filePath(QStringLiteral("files")));
    backUp(sample.messages());
    const QMap<QString, qint64> first = tableRowCounts(smsDb());
    EXPECT_EQ(first.value("message"), 6);
    EXPECT_EQ(first.value("chat"), 2);
    EXPECT_EQ(first.value("handle"), 3);
    EXPECT_EQ(first.value("chat_handle_join"), 4) << "both members of each chat, and the event's other party";
    EXPECT_EQ(first.value("chat_message_join"), 6);
    EXPECT_EQ(first.value("attachment"), 3);
    EXPECT_EQ(first.value("message_attachment_join"), 3);

    backUp(sample.messages());
    EXPECT_EQ(tableRowCounts(smsDb()), first);

    // Read back from another load of the same messages: still nothing new.
    SampleConversations again(dir.filePath(QStringLiteral("files2")));
    backUp(again.messages());
    EXPECT_EQ(tableRowCounts(smsDb()), first);
}

TEST_F(ExportMessagesDbTest, WhatIsWrittenForEachMessage)
{
    SampleConversations sample;
    backUp(sample.messages());
    // Each message is found by its fingerprint, which is stored with it.
    for (const _MsgMessage *m : sample.messages()) {
        EXPECT_EQ(rows(QStringLiteral("select guid from message where logic_hash='%1'").arg(messageFingerprint(m))),
                  QStringList{m->guid});
    }
    // Senders and the event's other party by their rowids in this file.
    EXPECT_EQ(rows("select m.guid, h.id from message as m inner join handle as h on m.handle_id=h.rowid "
                   "where m.guid in ('MSG-1', 'MSG-4')"),
              QStringList({"MSG-1|+15550000001", "MSG-4|bob@example.com"}));
    EXPECT_EQ(rows("select h.id from message as m inner join handle as h on m.other_handle=h.rowid where m.guid='MSG-6'"),
              QStringList{"+15550000003"});
    EXPECT_EQ(rows("select other_handle from message where guid='MSG-1'"), QStringList{"-1"});
    // The chats' last dates are their newest messages'; the group's last
    // addressed handle is the sender of its last message written.
    EXPECT_EQ(rows("select guid, _last, last_addressed_handle from chat order by rowid"),
              QStringList({"SMS;-;+15550000001|400000180|NULL", "iMessage;+;chat000000000000000042|400000360|+15550000001"}));
    EXPECT_EQ(rows("select _ct_name from handle where id='+15550000001'"), QStringList{"Ann"});
    EXPECT_EQ(rows("select cache_has_attachments from message where guid in ('MSG-2','MSG-5') order by guid"),
              QStringList({"1", "1"}));
}

TEST_F(ExportMessagesDbTest, AKnownGuidWithAnotherFingerprintAddsOnlyAttachmentJoins)
{
    SampleConversations sample;
    backUp({sample.message(1)});
    const QMap<QString, qint64> before = tableRowCounts(smsDb());

    // The same message as another source has it: edited text, an attachment.
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, QStringLiteral("+15550000001"));
    _MsgHandle *h = b.handle(chat, 1, QStringLiteral("+15550000001"));
    _MsgMessage *edited = b.message(chat, 1, sample.message(1)->date, QStringLiteral("Hello!"), h);
    edited->guid = sample.message(1)->guid;
    b.attachment(edited, 7, QStringLiteral("~/Library/SMS/Attachments/07/x.jpg"));
    ASSERT_NE(messageFingerprint(edited), messageFingerprint(sample.message(1)));
    backUp({edited});

    QMap<QString, qint64> expected = before;
    expected["attachment"] += 1;
    expected["message_attachment_join"] += 1;
    QMap<QString, qint64> after = tableRowCounts(smsDb());
    // The first attachment row starts its sequence.
    expected.remove("sqlite_sequence");
    after.remove("sqlite_sequence");
    EXPECT_EQ(after, expected);
    EXPECT_EQ(rows("select m.text from message_attachment_join as j inner join message as m on j.message_id=m.rowid"),
              QStringList{"Hello"}) << "joined to the row already there, whose text is kept";
}

TEST_F(ExportMessagesDbTest, TheSameFingerprintUnderAnotherGuidCountsAsPresent)
{
    SampleConversations sample;
    backUp({sample.message(3)});
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, QStringLiteral("+15550000001"));
    _MsgHandle *h = b.handle(chat, 1, QStringLiteral("+15550000001"));
    _MsgMessage *copy = b.message(chat, 1, sample.message(3)->date, sample.message(3)->text, h);
    copy->guid = QStringLiteral("ANOTHER-GUID");
    ASSERT_EQ(messageFingerprint(copy), messageFingerprint(sample.message(3)));
    backUp({copy});
    EXPECT_EQ(rows("select guid from message"), QStringList{"MSG-3"});
}

TEST_F(ExportMessagesDbTest, DuplicatesInOneRunIntoANewDatabaseAreFoundAsAcrossRuns)
{
    // The same guid with another fingerprint, and the same fingerprint under
    // another guid, each after its first: in one run into a new database, and
    // one run each into another; both files hold the same rows.
    SampleConversations sample;
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, QStringLiteral("+15550000001"));
    _MsgHandle *h = b.handle(chat, 1, QStringLiteral("+15550000001"));
    _MsgMessage *edited = b.message(chat, 1, sample.message(1)->date, QStringLiteral("Hello!"), h);
    edited->guid = sample.message(1)->guid;
    b.attachment(edited, 7, QStringLiteral("~/Library/SMS/Attachments/07/x.jpg"));
    _MsgMessage *copy = b.message(chat, 2, sample.message(3)->date, sample.message(3)->text, h);
    copy->guid = QStringLiteral("ANOTHER-GUID");
    ASSERT_EQ(messageFingerprint(copy), messageFingerprint(sample.message(3)));
    const QList<_MsgMessage *> all = {sample.message(1), edited, sample.message(3), copy};

    backUp(all);
    const QDir separate(dir.filePath(QStringLiteral("separate")));
    for (const _MsgMessage *m : all) {
        ExportMessagesDb exporter(separate, QString());
        exporter.begin();
        exporter.write(m);
        exporter.end();
    }
    const QString other = IOS6SmsDbFixture::smsDbPath(separate);
    for (const char *sql : {"select rowid, guid, text, handle_id, logic_hash from message order by rowid",
                            "select chat_id, message_id from chat_message_join order by 1, 2",
                            "select message_id, attachment_id from message_attachment_join order by 1, 2",
                            "select rowid, guid, filename from attachment order by rowid"})
        EXPECT_EQ(rows(QString::fromLatin1(sql)), queryRows(other, QString::fromLatin1(sql))) << sql;
    EXPECT_EQ(rows("select guid from message order by rowid"), (QStringList{"MSG-1", "MSG-3"}));
}

TEST_F(ExportMessagesDbTest, SkippedMessages)
{
    MsgSetBuilder b;
    _MsgChat *known = b.chat(1, QStringLiteral("+1555"));
    _MsgHandle *h = b.handle(known, 1, QStringLiteral("+1555"));
    _MsgChat *unknown = b.chat(-2047483647, QStringLiteral("unknown7"));
    unknown->guid = QStringLiteral("SMS;-;unknown7");
    _MsgChat *recycled = b.chat(-1947483650, QStringLiteral("+1666"));
    recycled->guid = QStringLiteral("SMS;-;+1666");

    struct Case
    {
        const char *label;
        _MsgChat *chat;
        int itemType;
        bool written;
    };
    const QList<Case> cases = {
        {"ordinary message", known, 0, true},
        {"no chat", nullptr, 0, false},
        {"recycled chat without identifier", unknown, 0, false},
        {"recycled chat with identifier", recycled, 0, true},
        {"group event where the table has item_type", known, 2, true},
    };
    qint64 key = 0;
    QList<_MsgMessage *> messages;
    for (const Case &c : cases) {
        ++key;
        _MsgMessage *m = b.message(c.chat, key, 1000 + int(key), QString::fromLatin1(c.label), h);
        m->guid = QStringLiteral("G-%1").arg(key);
        m->item_type = c.itemType;
        messages.append(m);
    }
    backUp(messages);
    for (int i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(rows(QStringLiteral("select 1 from message where guid='G-%1'").arg(i + 1)).size(),
                  cases[i].written ? 1 : 0)
            << cases[i].label;
    }
    EXPECT_EQ(rows("select guid from chat order by guid"), QStringList({"SMS;-;+1555", "SMS;-;+1666"}));
}

TEST_F(ExportMessagesDbTest, GroupEventsAreSkippedWhereTheTableHasNoItemType)
{
    // Spelt so that the upgrade takes the column as present while the
    // case-sensitive probe does not find item_type.
    {
        IOS6SmsDbFixture old(smsDb(), IOS6SmsDbFixture::OldLocal);
        old.db().executeThrow("ALTER TABLE message ADD COLUMN ITEM_TYPE INTEGER DEFAULT 0");
    }
    SampleConversations sample;
    backUp(sample.messages());
    EXPECT_EQ(rows("select guid from message order by rowid"),
              QStringList({"MSG-1", "MSG-2", "MSG-3", "MSG-4", "MSG-5"}));
}

TEST_F(ExportMessagesDbTest, AnInvalidChatServiceThrowsAndAbortLeavesTheFileAsItWas)
{
    SampleConversations sample(dir.filePath(QStringLiteral("files")));
    backUp({sample.message(1)});
    const QByteArray before = fileDigest(smsDb());

    MsgSetBuilder b;
    _MsgChat *bad = b.chat(9, QStringLiteral("x@example.com"));
    bad->guid = QStringLiteral("Email;-;x@example.com");
    bad->service_name = QStringLiteral("Email");
    _MsgMessage *m = b.message(bad, 9, 5000, QStringLiteral("mail"));
    m->guid = QStringLiteral("BAD");

    ExportMessagesDb exporter(target(), QString());
    exporter.begin();
    exporter.write(sample.message(2)); // copies attachment 1's file
    exporter.write(sample.message(4));
    const QString copied = target().absoluteFilePath(QStringLiteral("file-relay/var/mobile/Library/SMS/Attachments/01/IMG_0001.JPG"));
    EXPECT_TRUE(QFileInfo::exists(copied));
    try {
        exporter.write(m);
        FAIL() << "an Email chat was written";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "IOS6MessageDb::insertChat, invalid chat, service_name:Email");
    }
    exporter.abort();
    EXPECT_FALSE(exporter.db().isOpen());
    EXPECT_EQ(fileDigest(smsDb()), before);
    EXPECT_FALSE(QFileInfo::exists(copied)) << "the files of an aborted run go with it";
}

TEST_F(ExportMessagesDbTest, AttachmentFilesAreCopiedUnderTheFilesFolder)
{
    SampleConversations sample(dir.filePath(QStringLiteral("files")));
    const QDir files(target().absoluteFilePath(QStringLiteral("file-relay")));
    // A copy already in place is kept as it is.
    const QString kept = files.absoluteFilePath(QStringLiteral("var/mobile/Library/SMS/Attachments/02/IMG_0002.JPG"));
    QDir().mkpath(QFileInfo(kept).absolutePath());
    {
        QFile f(kept);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old copy");
    }
    // Part of a copy that a stopped run left behind is replaced.
    const QString stale = files.absoluteFilePath(QStringLiteral("var/mobile/Library/SMS/Attachments/01/IMG_0001.JPG.larkspan-part"));
    QDir().mkpath(QFileInfo(stale).absolutePath());
    {
        QFile f(stale);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("half");
    }
    backUp(sample.messages());
    EXPECT_FALSE(QFileInfo::exists(stale));

    QFile copied(files.absoluteFilePath(QStringLiteral("var/mobile/Library/SMS/Attachments/01/IMG_0001.JPG")));
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), QByteArray("attachment IMG_0001.JPG"));
    QFile old(kept);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old copy"));
    // The attachment whose file is missing still gets its row and join.
    EXPECT_FALSE(QFileInfo::exists(files.absoluteFilePath(QStringLiteral("var/mobile/Library/SMS/Attachments/03/clip.mov"))));
    EXPECT_EQ(rows("select a.transfer_name from message_attachment_join as j inner join attachment as a on "
                   "j.attachment_id=a.rowid inner join message as m on j.message_id=m.rowid where m.guid='MSG-5' "
                   "order by a.rowid"),
              QStringList({"IMG_0002.JPG", "clip.mov"}));
}

TEST_F(ExportMessagesDbTest, AttachmentPathsNeverLeaveTheFilesFolder)
{
    struct Case
    {
        QString filename;
        QString relative; // empty: refused
    };
    const QList<Case> cases = {
        {"~/Library/SMS/Attachments/ab/IMG_1.JPG", "var/mobile/Library/SMS/Attachments/ab/IMG_1.JPG"},
        {"/var/mobile/Library/SMS/x.jpg", "var/mobile/Library/SMS/x.jpg"},
        {"Library/a:b*c?d\"e<f>g|h\\i.jpg", "Library/abcdefghi.jpg"},
        {"/private/tmp/pic.png", "private/tmp/pic.png"},
        {"a/./b.png", "a/./b.png"},
        {"...png", "...png"},
        {"~/../../etc/passwd", ""},
        {"/etc/passwd", "etc/passwd"},
        {"~", "~"},
        {"~/", ""},
        {"../outside.jpg", ""},
        {"Library/../../outside.jpg", ""},
        {"//etc/passwd", ""},
        {"/~/x", "var/mobile/x"},
        {"..", ""},
        {"a/..", ""},
        {".\\.\\/x", ""},
        {"", ""},
        {"/", ""},
        {"Library/folder/", ""},
        {"?*", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ExportMessagesDb::attachmentRelativePath(c.filename), c.relative) << c.filename.toStdString();

    // Written through the exporter: the row is kept, the file is not copied.
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, QStringLiteral("+1555"));
    _MsgMessage *m = b.message(chat, 1, 10, QStringLiteral("x"));
    m->guid = QStringLiteral("G");
    const QString source = dir.filePath(QStringLiteral("evil.jpg"));
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    b.attachment(m, 1, QStringLiteral("~/../../../escaped.jpg"))->_local_path = source;
    backUp({m});
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("escaped.jpg"))));
    EXPECT_FALSE(QFileInfo::exists(target().absoluteFilePath(QStringLiteral("escaped.jpg"))));
    EXPECT_EQ(rows("select filename from attachment"), QStringList{"~/../../../escaped.jpg"});
}

TEST_F(ExportMessagesDbTest, CopiedFilesHoldEveryByteOrAreNotThereAtAll)
{
    struct Case
    {
        const char *label;
        int size;
        bool blocked; // a plain file stands where the copy's folder belongs
    };
    const Case cases[] = {
        {"an empty file", 0, false},
        {"a small picture", 2048, false},
        {"a video larger than any buffer", 3 * 65536 + 17, false},
        {"a copy that cannot be written", 4096, true},
    };
    auto copyPath = [this](qint64 id) {
        return target().absoluteFilePath(QStringLiteral("file-relay/var/mobile/Library/SMS/Attachments/%1/file").arg(id));
    };
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, QStringLiteral("+1555"));
    QList<_MsgMessage *> messages;
    QList<QByteArray> contents;
    qint64 id = 0;
    for (const Case &c : cases) {
        ++id;
        QByteArray bytes(c.size, Qt::Uninitialized);
        for (int i = 0; i < c.size; ++i)
            bytes[i] = char((i * 131 + int(id)) & 0xFF);
        const QString source = dir.filePath(QStringLiteral("source%1").arg(id));
        {
            QFile f(source);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            ASSERT_EQ(f.write(bytes), bytes.size());
        }
        if (c.blocked) {
            const QString folder = QFileInfo(copyPath(id)).absolutePath();
            QDir().mkpath(QFileInfo(folder).absolutePath());
            QFile f(folder);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        _MsgMessage *m = b.message(chat, id, 100 + int(id), QString::fromLatin1(c.label));
        m->guid = QStringLiteral("G%1").arg(id);
        b.attachment(m, id, QStringLiteral("~/Library/SMS/Attachments/%1/file").arg(id))->_local_path = source;
        messages.append(m);
        contents.append(bytes);
    }
    backUp(messages);
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.label);
        QFile f(copyPath(i + 1));
        if (c.blocked) {
            EXPECT_FALSE(f.exists());
        } else {
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), contents.at(i));
        }
        EXPECT_FALSE(QFileInfo::exists(copyPath(i + 1) + QStringLiteral(".larkspan-part")));
    }
    EXPECT_EQ(tableRowCounts(smsDb()).value("message_attachment_join"), 4) << "every row is written";
}

} // namespace

// Rows another program or an older version left in the file: a message is
// the same as a stored one exactly when the database's own comparison of the
// logic_hash text, or else of the guid, says so; of two rows with its
// fingerprint the first one is meant.
TEST_F(ExportMessagesDbTest, StoredRowsAreMatchedAsTheDatabaseComparesThem)
{
    struct Case
    {
        const char *label;
        // Rows put in first, (guid, logic_hash SQL value with %1 for the
        // fingerprint); the first row's attachment join shows which row is
        // found.
        QList<QPair<QString, QString>> stored;
        QStringList messageGuids;   // after the run, by rowid
        QStringList joinedGuids;    // the attachment's joins, by message rowid
    };
    const QString other = QStringLiteral("OTHER-GUID");
    const QString second = QStringLiteral("SECOND-GUID");
    const QList<Case> cases = {
        {"the first of two rows with the fingerprint",
         {{other, "'%1'"}, {second, "'%1'"}},
         {other, second},
         {other}},
        {"the fingerprint in capitals is another text",
         {{other, "upper('%1')"}},
         {other, "NEW"},
         {"NEW"}},
        {"the fingerprint stored as a blob is not a text",
         {{other, "cast('%1' as blob)"}},
         {other, "NEW"},
         {"NEW"}},
        {"a text of another form", {{other, "'not a fingerprint'"}}, {other, "NEW"}, {"NEW"}},
        {"no logic hash under the same guid", {{"NEW", "NULL"}}, {"NEW"}, {"NEW"}},
        {"the same guid after another row", {{other, "NULL"}, {"NEW", "'0123'"}}, {other, "NEW"}, {"NEW"}},
    };
    for (const Case &c : cases) {
        QTemporaryDir caseDir;
        const QDir folder(caseDir.path());
        MsgSetBuilder b;
        _MsgChat *chat = b.chat(1, QStringLiteral("+15550000001"));
        _MsgHandle *h = b.handle(chat, 1, QStringLiteral("+15550000001"));
        _MsgMessage *m = b.message(chat, 1, 400000000, QStringLiteral("Look"), h);
        m->guid = QStringLiteral("NEW");
        _MsgAttachment *a = b.attachment(m, 7, QStringLiteral("~/Library/SMS/Attachments/07/x.jpg"));
        {
            // Creates the file.
            ExportMessagesDb exporter(folder, QString());
            exporter.begin();
            exporter.end();
        }
        const QString path = IOS6SmsDbFixture::smsDbPath(folder);
        {
            Sqlite3DB db;
            db.openThrow(path, Sqlite3DB::ReadWrite);
            for (const auto &row : c.stored)
                db.executeThrow(Sqlite3Sql(QStringLiteral("insert into message(guid, logic_hash) values(?, %1)")
                                               .arg(row.second.arg(messageFingerprint(m))))
                                    .addTextParam(row.first));
            // Known by its guid, so that it is joined to whichever row is found.
            db.executeThrow(Sqlite3Sql("insert into attachment(guid, filename) values(?, ?)")
                                .addTextParam(a->guid)
                                .addTextParam(a->filename));
        }
        ExportMessagesDb exporter(folder, QString());
        exporter.begin();
        exporter.write(m);
        exporter.end();
        EXPECT_EQ(queryRows(path, QStringLiteral("select guid from message order by rowid")), c.messageGuids)
            << c.label;
        EXPECT_EQ(queryRows(path, QStringLiteral("select m.guid from message_attachment_join as j inner join message "
                                                 "as m on j.message_id=m.rowid order by m.rowid")),
                  c.joinedGuids)
            << c.label;
    }
}

TEST_F(ExportMessagesDbTest, ThousandsOfMessagesEachTwiceInARunAreWrittenOnce)
{
    // More messages than the first size of what a run keeps of them, so that
    // it grows while the run writes and while the next reads them back.
    MsgSetBuilder b;
    const QList<_MsgMessage *> twice = eachTwice(b, 3000);
    backUp(twice);
    const QStringList first = rows("select rowid, guid, logic_hash from message order by rowid");
    ASSERT_EQ(first.size(), 3000);
    backUp(twice);
    EXPECT_EQ(rows("select rowid, guid, logic_hash from message order by rowid"), first);
    EXPECT_EQ(rows("select count(*) from chat_message_join"), QStringList{"3000"});
}

// A run told which messages come takes their fingerprints ahead; told
// wrongly (another order, other messages) it takes them itself. Either way
// the same rows are written, and found again by the next run.
TEST_F(ExportMessagesDbTest, FingerprintsTakenAheadChangeNothingWritten)
{
    MsgSetBuilder b;
    const QList<_MsgMessage *> twice = eachTwice(b, 2500);
    QList<_MsgMessage *> reversed(twice.rbegin(), twice.rend());
    const QList<_MsgMessage *> others = twice.mid(1);

    struct Case
    {
        const char *name;
        const QList<_MsgMessage *> *expected; // null: not told
    };
    const Case cases[] = {{"not told", nullptr}, {"told", &twice}, {"other order", &reversed}, {"one short", &others}};
    QStringList written;
    for (const Case &c : cases) {
        const QDir folder(dir.filePath(QString::fromLatin1(c.name)));
        const QString db = IOS6SmsDbFixture::smsDbPath(folder);
        for (int run = 0; run < 2; ++run) {
            ExportMessagesDb exporter(folder, QString());
            exporter.begin();
            if (c.expected)
                exporter.expectMessages(*c.expected);
            for (const _MsgMessage *m : std::as_const(twice))
                exporter.write(m);
            exporter.end();
        }
        const QStringList now = queryRows(db, "select rowid, guid, logic_hash from message order by rowid")
            + queryRows(db, "select chat_id, message_id from chat_message_join order by rowid");
        ASSERT_EQ(now.size(), 5000) << c.name;
        if (written.isEmpty())
            written = now;
        EXPECT_EQ(now, written) << c.name;
    }
}
