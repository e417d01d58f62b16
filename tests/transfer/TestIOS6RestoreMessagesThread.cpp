#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#include "BackupGenerator.h"
#include "DbInspect.h"
#include "FolderSnapshot.h"
#include "IOS6MessageDb.h"
#include "IOS6RestoreMessagesThread.h"
#include "MbdbFile.h"
#include "MergeBackupFixture.h"
#include "MsgSetBuilder.h"
#include "RecordingProgress.h"
#include "SampleConversations.h"
#include "Sqlite3DB.h"
#include "TestClock.h"

namespace
{

const QString kIdentifier = QStringLiteral("+15550000001");
const QString kChatGuid = QStringLiteral("SMS;-;+15550000001");
const QDateTime kNow(QDate(2013, 3, 2), QTime(8, 0), Qt::UTC);

QString stamp()
{
    return QString::number(kNow.toSecsSinceEpoch());
}

// The file's bytes; "<missing>" when it cannot be read.
QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray sha1Of(const QString &path)
{
    return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1);
}

QString mediaFileId(const QString &path)
{
    return BackupGenerator::storedName(QStringLiteral("MediaDomain"), path);
}

// Counts the log lines of one text, from whatever thread they come.
class LogLineCounter
{
public:
    explicit LogLineCounter(const char *text)
    {
        s_text = text;
        s_count = 0;
        m_previous = qInstallMessageHandler(&LogLineCounter::handler);
    }
    ~LogLineCounter() { qInstallMessageHandler(m_previous); }
    int count() const { return s_count.load(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (type == QtDebugMsg && text == QLatin1String(s_text))
            ++s_count;
    }
    static inline const char *s_text = nullptr;
    static inline std::atomic<int> s_count{0};
    QtMessageHandler m_previous = nullptr;
};

// The backup's own conversation: chat 1 with handle 1 (+15550000001) and a
// message per (guid, date) in rowid order; the message "B2", when there,
// has an attachment.
void fillBackup(IOS6SmsDbFixture &sms, const QList<QPair<QString, int>> &rows)
{
    sms.begin();
    const qint64 handle = sms.addHandle(kIdentifier);
    const qint64 chat = sms.addChat(kChatGuid, kIdentifier);
    sms.db().executeThrow(Sqlite3Sql("update chat set properties=x'62706c697374'"));
    sms.joinChatHandle(chat, handle);
    for (const auto &row : rows) {
        const qint64 m = sms.addMessage(chat, handle, row.first, QStringLiteral("text ") + row.first, row.second, 0);
        if (row.first == QLatin1String("B2"))
            sms.addAttachment(m, QStringLiteral("ATT-B2"), QStringLiteral("~/Library/SMS/Attachments/0b/b2.jpg"),
                              QStringLiteral("image/jpeg"));
    }
    sms.commit();
}

const QList<QPair<QString, int>> kBackupRows = {{"B1", 1000}, {"B2", 3000}, {"B3", 5000}};

// Chosen messages of the backup's conversation, as a reader of another
// source would give them.
struct Chosen
{
    Chosen()
    {
        chat = b.chat(1, kIdentifier);
        ann = b.handle(chat, 1, kIdentifier);
    }
    _MsgMessage *add(qint64 key, int date, const QString &guid)
    {
        _MsgMessage *m = b.message(chat, key, date, QStringLiteral("text ") + guid, ann);
        m->guid = guid;
        m->service = QStringLiteral("SMS");
        list.append(m);
        return m;
    }
    MsgSetBuilder b;
    _MsgChat *chat;
    _MsgHandle *ann;
    QList<_MsgMessage *> list;
};

struct Outcome
{
    int result = -1;
    int endings = 0;
    QString error;
    QString success;
    QStringList statuses;
    QList<int> progress;
    int merged = 0;
    int written = 0;
    int noChat = 0;
    int cancelChecks = 0;
};

class IOS6RestoreMessagesThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    std::unique_ptr<MergeBackupFixture> backup(const char *name, const QList<QPair<QString, int>> &rows = kBackupRows,
                                               bool laterColumns = true, const QString &guidColumn = QString())
    {
        auto fx = std::make_unique<MergeBackupFixture>(dir.filePath(QLatin1String(name)), laterColumns, guidColumn);
        fillBackup(fx->sms(), rows);
        return fx;
    }

    // Merges messages into the backup of fx from its cache; cancelAfter >= 0
    // cancels after that many reads of the flag.
    Outcome merge(MergeBackupFixture &fx, const QList<_MsgMessage *> &messages, int cancelAfter = -1,
                  const QString &country = QString())
    {
        IOS6MessageDb source(fx.cacheDir(), QString(), false);
        RecordingProgress progress;
        if (cancelAfter >= 0)
            progress.cancelAfterChecks(cancelAfter);
        IOS6RestoreMessagesThread worker(country, messages, &source, fx.backupDir(), &progress);
        Outcome o;
        EXPECT_TRUE(progress.runWorker(worker));
        o.result = progress.result();
        o.endings = progress.endings();
        o.error = progress.errorText();
        o.success = progress.successText();
        o.statuses = progress.statuses();
        o.progress = progress.progressValues();
        o.merged = worker.mergedCount();
        o.written = worker.writtenCount();
        o.noChat = worker.noChatCount();
        o.cancelChecks = progress.cancelChecks();
        EXPECT_FALSE(source.isOpen()) << "the worker leaves the source closed";
        return o;
    }

    QStringList storedRows(MergeBackupFixture &fx, const char *sql)
    {
        return queryRows(fx.storedSmsDb(), QLatin1String(sql));
    }

    // Merged copies the run left in the cache folder.
    QStringList mergedCopies(MergeBackupFixture &fx)
    {
        QDir sms(QFileInfo(fx.cachedSmsDb()).absolutePath());
        return sms.entryList({QStringLiteral("sms.db?*")}, QDir::Files | QDir::Hidden);
    }

    QTemporaryDir dir;
    QTranslator translator;
    TestClock clock{kNow};
};

TEST_F(IOS6RestoreMessagesThreadTest, MergesTheChosenMessagesInDateOrderWithTheBackupsOwn)
{
    struct Pick
    {
        qint64 key;
        int date;
        const char *guid;
    };
    struct Case
    {
        const char *name;
        QList<Pick> picks;
        QStringList order; // guids by new rowid
    };
    const Case cases[] = {
        {"interleaved", {{101, 2000, "C1"}, {102, 4000, "C2"}, {103, 6000, "C3"}},
         {"B1", "C1", "B2", "C2", "B3", "C3"}},
        {"all older than the backup's", {{101, 10, "C1"}, {102, 20, "C2"}}, {"C1", "C2", "B1", "B2", "B3"}},
        {"given newest first", {{103, 6000, "C3"}, {101, 2000, "C1"}, {102, 4000, "C2"}},
         {"B1", "C1", "B2", "C2", "B3", "C3"}},
        {"same key and date as a backup row: the backup's first", {{2, 3000, "C1"}}, {"B1", "B2", "C1", "B3"}},
        {"close in key and date: by key, though older", {{3, 2990, "C1"}}, {"B1", "B2", "C1", "B3"}},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto fx = backup(QByteArray("order").append(QByteArray::number(++n)).constData());
        fx->writeBackup();
        Chosen chosen;
        for (const Pick &p : c.picks)
            chosen.add(p.key, p.date, QLatin1String(p.guid));
        const Outcome o = merge(*fx, chosen.list);
        ASSERT_EQ(o.result, 1) << o.error.toStdString();
        EXPECT_EQ(o.endings, 1);
        EXPECT_EQ(o.merged, c.picks.size());
        EXPECT_EQ(o.written, c.picks.size());
        EXPECT_EQ(storedRows(*fx, "select guid from message order by rowid"), c.order);
        // Fresh rowids from 1, each message in the conversation once.
        EXPECT_EQ(storedRows(*fx, "select min(rowid), max(rowid), count(*) from message"),
                  QStringList(QStringLiteral("1|%1|%1").arg(c.order.size())));
        EXPECT_EQ(storedRows(*fx, "select count(*), count(distinct message_id) from chat_message_join where chat_id=1"),
                  QStringList(QStringLiteral("%1|%1").arg(c.order.size())));
        // The backup's conversation (without its properties), handle and
        // attachment keep their rowids; the attachment follows its message
        // to the new rowid.
        EXPECT_EQ(storedRows(*fx, "select rowid, guid, properties is null from chat"),
                  QStringList({"1|SMS;-;+15550000001|1"}));
        EXPECT_EQ(storedRows(*fx, "select rowid, id from handle"), QStringList({"1|+15550000001"}));
        EXPECT_EQ(storedRows(*fx, "select m.guid as message, a.rowid as id, a.guid as attachment from "
                                  "message_attachment_join j join message m on m.rowid=j.message_id join attachment a "
                                  "on a.rowid=j.attachment_id"),
                  QStringList({"B2|1|ATT-B2"}));
        EXPECT_EQ(storedRows(*fx, "select count(distinct handle_id) from message"), QStringList({"1"}));
    }
}

TEST_F(IOS6RestoreMessagesThreadTest, PostsTheStatusAndProgressAndSucceedsWithoutText)
{
    struct Case
    {
        int chosen;
        QList<int> progress;
    };
    const Case cases[] = {{1, {0, 99}}, {3, {0, 33, 66, 99}}};
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.chosen);
        auto fx = backup(QByteArray("progress").append(QByteArray::number(++n)).constData(), {});
        fx->writeBackup();
        Chosen chosen;
        for (int i = 1; i <= c.chosen; ++i)
            chosen.add(100 + i, 1000 * i, QStringLiteral("C%1").arg(i));
        const Outcome o = merge(*fx, chosen.list);
        EXPECT_EQ(o.result, 1) << o.error.toStdString();
        EXPECT_EQ(o.success, QString());
        EXPECT_EQ(o.statuses, QStringList({"Saving SMS to iPhone..."}));
        EXPECT_EQ(o.progress, c.progress);
        // A backup without messages: the first chosen message gets rowid 1.
        EXPECT_EQ(storedRows(*fx, "select rowid, guid from message order by rowid").first(), QStringLiteral("1|C1"));
        // The merged copy stays beside the cached sms.db after a success.
        EXPECT_EQ(mergedCopies(*fx), QStringList(QStringLiteral("sms.db") + stamp()));
    }
}

TEST_F(IOS6RestoreMessagesThreadTest, MessagesWithoutAUsableConversationAreLeftOutAndCounted)
{
    struct Case
    {
        const char *name;
        std::optional<qint64> chatRowid; // nullopt: no conversation
        bool merged;
    };
    const Case cases[] = {
        {"no conversation", std::nullopt, false},
        {"recycled conversation without identifier", -2047483647, false},
        {"lowest conversation without identifier", -2147483646, false},
        {"recycled conversation with identifier", -2047483646, true},
        {"conversation of the source", 7, true},
    };
    auto fx = backup("skip");
    fx->writeBackup();
    MsgSetBuilder b;
    _MsgChat *good = b.chat(1, kIdentifier);
    _MsgHandle *ann = b.handle(good, 1, kIdentifier);
    QList<_MsgMessage *> messages;
    int expectMerged = 1;
    int expectSkipped = 0;
    _MsgMessage *first = b.message(good, 1000, 2000, QStringLiteral("kept"), ann);
    first->guid = QStringLiteral("KEPT");
    messages.append(first);
    QStringList expectGuids = {"B1", "KEPT", "B2", "B3"};
    qint64 key = 2000;
    for (const Case &c : cases) {
        _MsgChat *chat = nullptr;
        if (c.chatRowid)
            chat = b.chat(*c.chatRowid, QStringLiteral("+1555%1").arg(++key));
        ++key;
        _MsgMessage *m = b.message(chat, key, 6000 + int(key), QLatin1String(c.name), nullptr);
        m->guid = QStringLiteral("G%1").arg(key);
        messages.append(m);
        if (c.merged) {
            ++expectMerged;
            expectGuids.append(m->guid);
        } else {
            ++expectSkipped;
        }
    }
    LogLineCounter log("IOS6RestoreMessagesThread skip message with unknown chat.");
    const Outcome o = merge(*fx, messages);
    ASSERT_EQ(o.result, 1) << o.error.toStdString();
    EXPECT_EQ(o.merged, expectMerged);
    EXPECT_EQ(o.noChat, expectSkipped);
    EXPECT_EQ(log.count(), expectSkipped);
    EXPECT_EQ(storedRows(*fx, "select guid from message order by rowid"), expectGuids);
    EXPECT_EQ(storedRows(*fx, "select count(*) from chat"), QStringList({"3"}));
}

TEST_F(IOS6RestoreMessagesThreadTest, SystemMessagesAreLeftOutSilentlyWhereTheBackupCannotHoldThem)
{
    for (bool laterColumns : {false, true}) {
        SCOPED_TRACE(laterColumns);
        auto fx = backup(laterColumns ? "events-later" : "events-early", kBackupRows, laterColumns);
        fx->writeBackup();
        Chosen chosen;
        chosen.add(101, 2000, QStringLiteral("C1"));
        chosen.add(102, 4000, QStringLiteral("EVENT"))->item_type = 1;
        LogLineCounter log("IOS6RestoreMessagesThread skip message with unknown chat.");
        const Outcome o = merge(*fx, chosen.list);
        ASSERT_EQ(o.result, 1) << o.error.toStdString();
        EXPECT_EQ(o.merged, laterColumns ? 2 : 1);
        EXPECT_EQ(o.noChat, 0);
        EXPECT_EQ(log.count(), 0);
        EXPECT_EQ(storedRows(*fx, "select count(*) from message where guid='EVENT'"),
                  QStringList(laterColumns ? "1" : "0"));
    }
}

TEST_F(IOS6RestoreMessagesThreadTest, AMessageTheBackupHoldsAlreadyIsWrittenOnce)
{
    struct Case
    {
        const char *name;
        int date; // the chosen copy's date; the backup's B2 is at 3000
        bool twice; // chosen twice in the list
    };
    const Case cases[] = {
        {"chosen copy dated before the backup's", 2000, false},
        {"chosen copy dated after the backup's", 4000, false},
        {"same date", 3000, false},
        {"chosen twice", 4500, true},
    };
    // The backup's guids are found in memory where they compare as bytes
    // under a unique index, and by asking the copy otherwise: both ways
    // agree.
    const QString guidColumns[] = {QString(), QStringLiteral("TEXT UNIQUE NOT NULL COLLATE NOCASE"),
                                   QStringLiteral("TEXT NOT NULL")};
    int n = 0;
    for (const QString &guidColumn : guidColumns) {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            SCOPED_TRACE(guidColumn.isEmpty() ? std::string("TEXT UNIQUE NOT NULL") : guidColumn.toStdString());
            auto fx = backup(QByteArray("dup").append(QByteArray::number(++n)).constData(), kBackupRows, true,
                             guidColumn);
            fx->writeBackup();
            Chosen chosen;
            _MsgMessage *copy = chosen.add(102, c.date, QStringLiteral("B2"));
            MsgSetBuilder(chosen.b.set()).attachment(copy, 9, QStringLiteral("~/Library/SMS/Attachments/0c/c.jpg"));
            if (c.twice)
                chosen.list.append(copy);
            chosen.add(103, 6000, QStringLiteral("C1"));
            const Outcome o = merge(*fx, chosen.list);
            ASSERT_EQ(o.result, 1) << o.error.toStdString();
            EXPECT_EQ(o.merged, c.twice ? 3 : 2);
            EXPECT_EQ(o.written, 1) << "C1 alone is new";
            EXPECT_EQ(storedRows(*fx, "select count(*) from message"), QStringList({"4"}));
            EXPECT_EQ(storedRows(*fx, "select count(*) from message where guid='B2'"), QStringList({"1"}));
            EXPECT_EQ(storedRows(*fx, "select count(*) from chat_message_join j join message m on m.rowid=j.message_id "
                                      "where m.guid='B2'"),
                      QStringList({"1"}));
            // Whichever entry came first wrote the row; the other added its
            // joins: the backup's attachment and the chosen copy's.
            EXPECT_EQ(storedRows(*fx, "select a.guid from message_attachment_join j join message m on "
                                      "m.rowid=j.message_id join attachment a on a.rowid=j.attachment_id where "
                                      "m.guid='B2' order by a.guid"),
                      QStringList({"ATT-9", "ATT-B2"}));
        }
    }
}

TEST_F(IOS6RestoreMessagesThreadTest, TriggersThatDoMoreThanEmptyTheTablesStillFireWhileTheyAreEmptied)
{
    // The device's own triggers only remove rows of the tables the merge
    // empties anyway; these reach beyond them, so what they do has to be in
    // the merged sms.db.
    struct Case
    {
        const char *name;
        QStringList prepare; // run on the cached sms.db
        const char *query;   // on the stored sms.db afterwards
        QStringList rows;
    };
    const Case cases[] = {
        {"an insert into a table of its own",
         {"create table deleted_log(guid text)",
          "create trigger log_deleted after delete on message begin insert into deleted_log(guid) values "
          "(old.guid); end"},
         "select guid from deleted_log order by guid",
         {"B1", "B2", "B3"}},
        {"an update of a table the merge keeps, for every join",
         {"create table counters(n integer)", "insert into counters values (0)",
          "create trigger count_joins after delete on chat_message_join begin update counters set n = n + 1; end"},
         "select n from counters",
         {"3"}},
        {"a delete from a table the merge keeps",
         {"create table keepers(id integer)", "insert into keepers values (7)",
          "create trigger drop_keepers after delete on chat begin delete from keepers; end"},
         "select count(*) from keepers",
         {"0"}},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto fx = backup(QByteArray("trigger").append(QByteArray::number(++n)).constData());
        fx->writeBackup();
        {
            Sqlite3DB cached;
            cached.openThrow(fx->cachedSmsDb(), Sqlite3DB::ReadWrite);
            for (const QString &sql : c.prepare)
                cached.executeThrow(Sqlite3Sql(sql));
        }
        Chosen chosen;
        chosen.add(101, 2000, QStringLiteral("C1"));
        const Outcome o = merge(*fx, chosen.list);
        ASSERT_EQ(o.result, 1) << o.error.toStdString();
        EXPECT_EQ(storedRows(*fx, c.query), c.rows);
        EXPECT_EQ(storedRows(*fx, "select guid from message order by rowid"), QStringList({"B1", "C1", "B2", "B3"}));
    }
}

TEST_F(IOS6RestoreMessagesThreadTest, TheCatalogueDescribesTheNewFilesAndTheOldOnesAreKept)
{
    SampleConversations sample(dir.filePath(QStringLiteral("files")));
    auto fx = backup("catalogue");
    fx->writeBackup();
    const QByteArray oldSmsBytes = readFile(fx->storedSmsDb());
    const QByteArray oldCatalogueBytes = readFile(fx->catalogue());
    const QHash<QString, MbdbRecord> before = readMbdb(fx->catalogue());

    // Enough text that the merged file outgrows the old one.
    Chosen more;
    for (int i = 0; i < 300; ++i)
        more.add(1000 + i, 6000 + i, QStringLiteral("MORE%1").arg(i))->text = QString(300, QLatin1Char('x'));
    const Outcome o = merge(*fx, sample.messages() + more.list);
    ASSERT_EQ(o.result, 1) << o.error.toStdString();

    const QHash<QString, MbdbRecord> after = readMbdb(fx->catalogue());
    const MbdbRecord sms = after.value(MergeBackupFixture::smsDbFileId());
    const MbdbRecord oldRecord = before.value(MergeBackupFixture::smsDbFileId());
    EXPECT_EQ(sms.size, quint64(QFileInfo(fx->storedSmsDb()).size()));
    EXPECT_NE(sms.size, oldRecord.size);
    EXPECT_EQ(sms.dataHash.data, sha1Of(fx->storedSmsDb()));
    EXPECT_EQ(sms.dataHash.length, 20);
    EXPECT_EQ(sms.mode, oldRecord.mode);
    EXPECT_EQ(sms.inode[1], oldRecord.inode[1]);
    EXPECT_EQ(sms.protectionClass, oldRecord.protectionClass);
    EXPECT_EQ(sms.domain.toString(), QStringLiteral("HomeDomain"));

    // Attachments with a local file are stored under the media domain, with
    // their folders; the one whose file is missing is left out.
    const struct
    {
        const char *path;
        const char *content;
    } stored[] = {{"Library/SMS/Attachments/01/IMG_0001.JPG", "attachment IMG_0001.JPG"},
                  {"Library/SMS/Attachments/02/IMG_0002.JPG", "attachment IMG_0002.JPG"}};
    for (const auto &s : stored) {
        SCOPED_TRACE(s.path);
        const QString id = mediaFileId(QLatin1String(s.path));
        ASSERT_TRUE(after.contains(id));
        const MbdbRecord r = after.value(id);
        EXPECT_EQ(r.domain.toString(), QStringLiteral("MediaDomain"));
        EXPECT_EQ(r.size, quint64(qstrlen(s.content)));
        EXPECT_EQ(r.dataHash.data, QCryptographicHash::hash(s.content, QCryptographicHash::Sha1));
        EXPECT_EQ(readFile(fx->backupDir().absoluteFilePath(id)), QByteArray(s.content));
    }
    EXPECT_TRUE(after.contains(mediaFileId(QStringLiteral("Library/SMS/Attachments/01"))));
    EXPECT_FALSE(after.contains(mediaFileId(QStringLiteral("Library/SMS/Attachments/03/clip.mov"))));
    EXPECT_EQ(after.size(), before.size() + 4);

    // The replaced files are kept under their names with the seconds.
    EXPECT_EQ(readFile(fx->storedSmsDb() + QLatin1Char('-') + stamp()), oldSmsBytes);
    EXPECT_EQ(readFile(fx->catalogue() + QLatin1Char('-') + stamp()), oldCatalogueBytes);
    EXPECT_TRUE(fx->backupDir().entryList({QStringLiteral("*.larkspan-part")}, QDir::Files | QDir::Hidden).isEmpty());

    // The group conversation remembers the sender of its last message.
    EXPECT_EQ(storedRows(*fx, "select guid, last_addressed_handle from chat where style=43"),
              QStringList({"iMessage;+;chat000000000000000042|+15550000001"}));
    // What the merged sms.db says of them.
    EXPECT_EQ(storedRows(*fx, "select count(*) from message"), QStringList({"309"}));
    EXPECT_EQ(storedRows(*fx, "select guid, filename from attachment order by rowid"),
              QStringList({"ATT-B2|~/Library/SMS/Attachments/0b/b2.jpg",
                           "ATT-1|~/Library/SMS/Attachments/01/IMG_0001.JPG",
                           "ATT-2|~/Library/SMS/Attachments/02/IMG_0002.JPG",
                           "ATT-3|~/Library/SMS/Attachments/03/clip.mov"}));
}

TEST_F(IOS6RestoreMessagesThreadTest, AttachmentFilesGoOnlyIntoTheAttachmentsFolder)
{
    struct Case
    {
        const char *filename;
        const char *storedAs; // media path, or nullptr when left out
    };
    const Case cases[] = {
        {"~/Library/SMS/Attachments/0a/ok.jpg", "Library/SMS/Attachments/0a/ok.jpg"},
        {"/var/mobile/Library/SMS/Attachments/0b/full.jpg", "Library/SMS/Attachments/0b/full.jpg"},
        {"~/Library/SMS/Attachments/../../Preferences/evil.plist", nullptr},
        {"~/Library/SMS/Attachments/0c/./dot.jpg", nullptr},
        {"~/Library/SMS/Attachments//0d/empty.jpg", nullptr},
        {"~/Library/SMS/sms.db", nullptr},
        {"~/Library/Preferences/other.plist", nullptr},
        {"~/Documents/no-library.jpg", nullptr},
        {"~/Library/SMS/Attachments/0e/", nullptr},
    };
    auto fx = backup("attachments");
    fx->writeBackup();
    const QHash<QString, MbdbRecord> before = readMbdb(fx->catalogue());
    Chosen chosen;
    MsgSetBuilder b(chosen.b.set());
    _MsgMessage *m = chosen.add(101, 2000, QStringLiteral("C1"));
    QDir files(dir.filePath(QStringLiteral("local")));
    ASSERT_TRUE(files.mkpath(QStringLiteral(".")));
    qint64 id = 100;
    for (const Case &c : cases) {
        _MsgAttachment *a = b.attachment(m, ++id, QLatin1String(c.filename));
        a->_local_path = files.absoluteFilePath(QStringLiteral("file%1").arg(id));
        QFile f(a->_local_path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("bytes of ") + c.filename);
    }
    const Outcome o = merge(*fx, chosen.list);
    ASSERT_EQ(o.result, 1) << o.error.toStdString();
    const QHash<QString, MbdbRecord> after = readMbdb(fx->catalogue());
    int storedCount = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.filename);
        if (!c.storedAs)
            continue;
        ++storedCount;
        const QString fileId = mediaFileId(QLatin1String(c.storedAs));
        EXPECT_TRUE(after.contains(fileId));
        EXPECT_EQ(readFile(fx->backupDir().absoluteFilePath(fileId)), QByteArray("bytes of ") + c.filename);
    }
    // Two files and their folders "0a" and "0b"; every row is in the database.
    EXPECT_EQ(after.size(), before.size() + 2 * storedCount);
    EXPECT_EQ(storedRows(*fx, "select count(*) from attachment"), QStringList(QString::number(1 + std::size(cases))));
}

TEST_F(IOS6RestoreMessagesThreadTest, ABackupWithoutARecordOfItsSmsDbGetsAWholeRecord)
{
    auto fx = backup("norecord");
    fx->writeBackup();
    // The catalogue as it would be without the sms.db's record.
    QHash<QString, MbdbRecord> records = readMbdb(fx->catalogue());
    ASSERT_EQ(records.remove(MergeBackupFixture::smsDbFileId()), 1);
    QList<MbdbRecord> list = records.values();
    writeMbdb(list, fx->catalogue());

    Chosen chosen;
    chosen.add(101, 2000, QStringLiteral("C1"));
    const Outcome o = merge(*fx, chosen.list);
    ASSERT_EQ(o.result, 1) << o.error.toStdString();
    const MbdbRecord sms = readMbdb(fx->catalogue()).value(MergeBackupFixture::smsDbFileId());
    EXPECT_EQ(sms.domain.toString(), QStringLiteral("HomeDomain"));
    EXPECT_EQ(sms.path.toString(), QStringLiteral("Library/SMS/sms.db"));
    EXPECT_EQ(sms.mode, 0x81A4);
    EXPECT_EQ(sms.size, quint64(QFileInfo(fx->storedSmsDb()).size()));
    EXPECT_EQ(sms.dataHash.data, sha1Of(fx->storedSmsDb()));
}

TEST_F(IOS6RestoreMessagesThreadTest, ASecondRunOfTheSameMessagesAddsNothing)
{
    for (bool recache : {false, true}) {
        SCOPED_TRACE(recache ? "cache taken from the merged backup" : "the same cache again");
        auto fx = backup(recache ? "again-recache" : "again-same");
        fx->writeBackup();
        SampleConversations sample(dir.filePath(QStringLiteral("files")));
        const Outcome first = merge(*fx, sample.messages());
        ASSERT_EQ(first.result, 1) << first.error.toStdString();
        const char *tables[] = {"select rowid, guid, date, handle_id from message order by rowid",
                                "select * from chat_message_join order by chat_id, message_id",
                                "select * from message_attachment_join order by message_id, attachment_id",
                                "select * from chat_handle_join order by chat_id, handle_id",
                                "select rowid, guid from chat order by rowid",
                                "select rowid, id, service from handle order by rowid",
                                "select rowid, guid from attachment order by rowid"};
        QList<QStringList> rows;
        for (const char *sql : tables)
            rows.append(storedRows(*fx, sql));
        const auto catalogue = readMbdb(fx->catalogue());

        if (recache)
            fx->recache();
        const Outcome second = merge(*fx, sample.messages());
        ASSERT_EQ(second.result, 1) << second.error.toStdString();
        EXPECT_EQ(second.merged, first.merged);
        for (int i = 0; i < rows.size(); ++i)
            EXPECT_EQ(storedRows(*fx, tables[i]), rows.at(i)) << tables[i];
        const auto again = readMbdb(fx->catalogue());
        EXPECT_EQ(QSet<QString>(again.keyBegin(), again.keyEnd()),
                  QSet<QString>(catalogue.keyBegin(), catalogue.keyEnd()));
    }
}

// Everything a run may touch, to be compared byte for byte.
struct Snapshots
{
    explicit Snapshots(MergeBackupFixture &fx)
        : backup(folderSnapshot(fx.backupDir().absolutePath()))
        , cache(folderSnapshot(fx.cacheDir().absolutePath()))
    {
    }
    void expectUnchanged(MergeBackupFixture &fx) const
    {
        const auto backupNow = folderSnapshot(fx.backupDir().absolutePath());
        EXPECT_EQ(backup, backupNow) << snapshotDifference(backup, backupNow).toStdString();
        const auto cacheNow = folderSnapshot(fx.cacheDir().absolutePath());
        EXPECT_EQ(cache, cacheNow) << snapshotDifference(cache, cacheNow).toStdString();
    }
    QMap<QString, QByteArray> backup;
    QMap<QString, QByteArray> cache;
};

TEST_F(IOS6RestoreMessagesThreadTest, AMergeThatWritesNoMessageLeavesEveryByteAsItWas)
{
    // Every chosen message is in the backup already, under its guid; filed
    // under the backup's conversation, or under one the backup does not
    // have, which alone would have made an empty conversation there.
    // The chosen copies either far from the backup's rows in key, so that
    // the backup's rows go first, or just before them in key and date, so
    // that the chosen copies do.
    const struct
    {
        const char *name;
        const char *chatGuid;
        const char *service;
        bool chosenFirst;
    } cases[] = {
        {"the backup's conversation", "SMS;-;+15550000001", "SMS", false},
        {"a conversation the backup does not have", "iMessage;-;+15550000001", "iMessage", false},
        {"the backup's conversation, chosen copies first", "SMS;-;+15550000001", "SMS", true},
        {"another conversation, chosen copies first", "iMessage;-;+15550000001", "iMessage", true},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto fx = backup(QByteArray("known").append(QByteArray::number(++n)).constData());
        fx->writeBackup();
        Chosen chosen;
        chosen.chat->guid = QLatin1String(c.chatGuid);
        chosen.chat->service_name = QLatin1String(c.service);
        chosen.ann->service = QLatin1String(c.service);
        qint64 backupRowid = 0;
        for (const auto &row : kBackupRows) {
            ++backupRowid;
            if (c.chosenFirst)
                chosen.add(backupRowid - 1, row.second - 10, row.first);
            else
                chosen.add(100 + row.second, row.second, row.first);
        }
        const Snapshots before(*fx);

        const Outcome o = merge(*fx, chosen.list);

        ASSERT_EQ(o.result, 1) << o.error.toStdString();
        EXPECT_EQ(o.endings, 1);
        EXPECT_EQ(o.success, QString());
        // Counted as taken into the merge, as any message found there.
        EXPECT_EQ(o.merged, 3);
        EXPECT_EQ(o.written, 0);
        before.expectUnchanged(*fx);
    }
}

TEST_F(IOS6RestoreMessagesThreadTest, ACancelAnywhereLeavesEveryByteAsItWas)
{
    // How often a whole run reads the flag.
    int checks = 0;
    {
        auto fx = backup("cancel-count");
        fx->writeBackup();
        SampleConversations sample(dir.filePath(QStringLiteral("files")));
        const Outcome o = merge(*fx, sample.messages());
        ASSERT_EQ(o.result, 1) << o.error.toStdString();
        checks = o.cancelChecks;
    }
    ASSERT_GT(checks, 12);
    const int points[] = {0, 1, 5, checks / 2, checks - 2, checks - 1};
    for (int point : points) {
        SCOPED_TRACE(point);
        auto fx = backup(QByteArray("cancel").append(QByteArray::number(point)).constData());
        fx->writeBackup();
        SampleConversations sample(dir.filePath(QStringLiteral("files")));
        const Snapshots before(*fx);
        const Outcome o = merge(*fx, sample.messages(), point);
        EXPECT_EQ(o.endings, 0) << "a cancel posts nothing";
        before.expectUnchanged(*fx);
    }
}

TEST_F(IOS6RestoreMessagesThreadTest, AnErrorIsReportedAndLeavesEveryByteAsItWas)
{
    struct Case
    {
        const char *name;
        // Changes the prepared backup; returns the expected error text
        // (empty: any text).
        std::function<QString(MergeBackupFixture &, Chosen &)> prepare;
    };
    const Case cases[] = {
        {"a conversation of another service",
         [](MergeBackupFixture &, Chosen &c) {
             _MsgChat *odd = c.b.chat(5, QStringLiteral("+15550000005"));
             odd->service_name = QStringLiteral("sms");
             _MsgMessage *m = c.b.message(odd, 200, 2500, QStringLiteral("odd"), nullptr);
             m->guid = QStringLiteral("ODD");
             c.list.append(m);
             return QStringLiteral("IOS6MessageDb::insertChat, invalid chat, service_name:sms");
         }},
        {"the copy refusing a row half way through the merge",
         [](MergeBackupFixture &fx, Chosen &) {
             // The merged copy is written without a rollback journal: rows
             // written before the failure must go with the whole copy.
             Sqlite3DB cached;
             cached.openThrow(fx.cachedSmsDb(), Sqlite3DB::ReadWrite);
             cached.executeThrow(Sqlite3Sql("create trigger refuse_join before insert on chat_message_join "
                                            "when new.message_id = 3 begin select raise(abort, 'join refused'); end"));
             return QStringLiteral("join refused");
         }},
        {"a trigger refusing to let a message of the backup go",
         [](MergeBackupFixture &fx, Chosen &) {
             Sqlite3DB cached;
             cached.openThrow(fx.cachedSmsDb(), Sqlite3DB::ReadWrite);
             cached.executeThrow(Sqlite3Sql("create trigger keep_b2 before delete on message when old.guid='B2' "
                                            "begin select raise(abort, 'B2 is kept'); end"));
             return QStringLiteral("B2 is kept");
         }},
        {"no Manifest.mbdb",
         [](MergeBackupFixture &fx, Chosen &) {
             QFile::remove(fx.catalogue());
             return QStringLiteral("can not find %1.").arg(fx.catalogue());
         }},
        {"Manifest.mbdb cut short",
         [](MergeBackupFixture &fx, Chosen &) {
             QFile f(fx.catalogue());
             f.resize(f.size() - 3);
             return QString();
         }},
        {"no message with a usable conversation",
         [](MergeBackupFixture &, Chosen &c) {
             c.list.clear();
             for (qint64 key : {300, 301}) {
                 _MsgMessage *m = c.b.message(nullptr, key, 2000, QStringLiteral("lost"), nullptr);
                 m->guid = QStringLiteral("LOST%1").arg(key);
                 c.list.append(m);
             }
             return QStringLiteral("No message for recovering. Only found 2 messages with unknown contact info. "
                                   "Please right click the messages to set contact info first and try again.");
         }},
        {"no cached sms.db",
         [](MergeBackupFixture &fx, Chosen &) {
             QFile::remove(fx.cachedSmsDb());
             return QStringLiteral("copy database to %1%2 failed.").arg(fx.cachedSmsDb(), stamp());
         }},
        {"an attachment's place in the backup taken by a folder",
         [](MergeBackupFixture &fx, Chosen &c) {
             _MsgAttachment *a = MsgSetBuilder(c.b.set()).attachment(
                 c.list.first(), 50, QStringLiteral("~/Library/SMS/Attachments/0f/x.jpg"));
             a->_local_path = fx.backupDir().absoluteFilePath(QStringLiteral("../local-x.jpg"));
             QFile f(a->_local_path);
             f.open(QIODevice::WriteOnly);
             f.write("x");
             f.close();
             const QString target =
                 fx.backupDir().absoluteFilePath(mediaFileId(QStringLiteral("Library/SMS/Attachments/0f/x.jpg")));
             QDir().mkpath(target + QStringLiteral("/inner"));
             return QStringLiteral("can not overwrite %1.").arg(target);
         }},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto fx = backup(QByteArray("error").append(QByteArray::number(++n)).constData());
        fx->writeBackup();
        Chosen chosen;
        chosen.add(101, 2000, QStringLiteral("C1"));
        const QString expected = c.prepare(*fx, chosen);
        const Snapshots before(*fx);
        const Outcome o = merge(*fx, chosen.list);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.endings, 1);
        if (expected.isEmpty())
            EXPECT_FALSE(o.error.isEmpty());
        else
            EXPECT_EQ(o.error, expected);
        before.expectUnchanged(*fx);
    }
}

TEST_F(IOS6RestoreMessagesThreadTest, AnEncryptedBackupIsRefusedBeforeAnythingIsWritten)
{
    struct Case
    {
        const char *name;
        bool storedEncrypted; // files and catalogue of an encrypted backup
        bool describedEncrypted; // Manifest.plist says so
    };
    const Case cases[] = {
        {"encrypted backup", true, true},
        {"encrypted files under a plain description", true, false},
        {"plain files under an encrypted description", false, true},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto fx = backup(QByteArray("encrypted").append(QByteArray::number(++n)).constData());
        BackupGenerator::Options options;
        options.encrypted = c.storedEncrypted;
        options.iterations = 10;
        fx->writeBackup(options);
        if (c.storedEncrypted != c.describedEncrypted) {
            // The description of the other kind of backup, written apart.
            BackupGenerator::Options other = options;
            other.encrypted = c.describedEncrypted;
            const QString scratch = dir.filePath(QStringLiteral("scratch%1").arg(n));
            BackupGenerator::write(scratch, {}, other);
            const QString plist = fx->backupDir().absoluteFilePath(QStringLiteral("Manifest.plist"));
            QFile::remove(plist);
            ASSERT_TRUE(QFile::copy(scratch + QStringLiteral("/Manifest.plist"), plist));
        }
        Chosen chosen;
        chosen.add(101, 2000, QStringLiteral("C1"));
        const Snapshots before(*fx);
        const Outcome o = merge(*fx, chosen.list);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.error, QStringLiteral("Failed to export SMS to iTunes backup because your current iTunes backup "
                                          "is encrypted."));
        before.expectUnchanged(*fx);
    }
}

// Not a timing test: the time is measured and printed, the result checked.
TEST_F(IOS6RestoreMessagesThreadTest, TenThousandMessagesMergeIntoTenThousand)
{
    const int count = 10000;
    auto fx = std::make_unique<MergeBackupFixture>(dir.filePath(QStringLiteral("large")));
    {
        IOS6SmsDbFixture &sms = fx->sms();
        sms.begin();
        const qint64 handle = sms.addHandle(kIdentifier);
        const qint64 chat = sms.addChat(kChatGuid, kIdentifier);
        sms.joinChatHandle(chat, handle);
        for (int i = 0; i < count; ++i)
            sms.addMessage(chat, handle, QStringLiteral("B%1").arg(i), QStringLiteral("backup message %1").arg(i),
                           100000 + i * 200, i % 2);
        sms.commit();
    }
    fx->writeBackup();
    Chosen chosen;
    for (int i = 0; i < count; ++i)
        chosen.add(1000000 + i, 100000 + i * 200 + 100, QStringLiteral("C%1").arg(i));

    QElapsedTimer clock;
    clock.start();
    const Outcome o = merge(*fx, chosen.list);
    const qint64 ms = clock.elapsed();
    std::cout << "[ MEASURED ] merge of " << count << " chosen into " << count << " backup messages: " << ms
              << " ms" << std::endl;
    RecordProperty("merge_ms", int(ms));
    ASSERT_EQ(o.result, 1) << o.error.toStdString();
    EXPECT_EQ(o.merged, count);
    EXPECT_EQ(storedRows(*fx, "select count(*), max(rowid) from message"),
              QStringList(QStringLiteral("%1|%1").arg(2 * count)));
    // Alternating, oldest first.
    EXPECT_EQ(storedRows(*fx, "select guid from message where rowid in (1, 2, 3, 20000) order by rowid"),
              QStringList({"B0", "C0", "B1", "C9999"}));
    EXPECT_EQ(storedRows(*fx, "select count(*) from message a join message b on b.rowid=a.rowid+1 where b.date < "
                              "a.date"),
              QStringList({"0"}));
}

} // namespace
