#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <algorithm>

#include "AddressBookFixture.h"
#include "BackupSMSThread.h"
#include "DbInspect.h"
#include "IOS5DbFixture.h"
#include "IOS5MessageDb.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "MessageText.h"
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
        committed = worker.committed();
    }

    QTemporaryDir dir;
    QTranslator translator;
    bool committed = false;
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
    EXPECT_TRUE(committed);
    EXPECT_EQ(progress.successText(), QStringLiteral("Successfully Backup 6 SMS to local Database."));
    EXPECT_EQ(progress.statuses().first(), QStringLiteral("Backing up SMS to Local Database..."));
    EXPECT_EQ(progress.progressValues(), QList<int>({0, 16, 33, 50, 66, 83, 100}));
    EXPECT_EQ(progress.updates().at(1).progressText, QStringLiteral("SMS: 1/6"));
    EXPECT_EQ(progress.updates().last().progressText, QStringLiteral("SMS: 6/6"));
    EXPECT_EQ(queryRows(smsDb(), QStringLiteral("select guid from message order by rowid")),
              QStringList({"MSG-1", "MSG-2", "MSG-3", "MSG-4", "MSG-5", "MSG-6"}));
    EXPECT_TRUE(QFileInfo::exists(copiedAttachment(1, "IMG_0001.JPG")));
}

// The written order for lists that come in key order and in other orders:
// dates decide when keys or dates lie far apart, keys when both are close.
TEST_F(BackupSMSThreadTest, WritesInMessageOrderWhateverTheListOrder)
{
    struct Case
    {
        const char *name;
        QList<QPair<qint64, int>> keyAndDate; // in list order
        QStringList written;                  // guids by rowid
    };
    const QList<Case> cases = {
        {"keys and dates rising", {{101, 1000}, {102, 1000}, {103, 5000}}, {"K101", "K102", "K103"}},
        {"close keys falling, close dates rising", {{105, 1000}, {103, 1050}}, {"K103", "K105"}},
        {"keys rising, far dates falling", {{101, 5000}, {102, 1000}}, {"K102", "K101"}},
        {"far keys rising, far dates falling", {{101, 5000}, {300, 1000}}, {"K300", "K101"}},
        {"close keys rising, close dates falling", {{101, 1100}, {102, 1000}}, {"K101", "K102"}},
        {"far keys rising, equal dates", {{101, 1000}, {200, 1000}, {201, 1000}}, {"K101", "K200", "K201"}},
        {"keys falling, dates rising far", {{300, 1000}, {101, 9000}}, {"K300", "K101"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SampleConversations sample;
        MsgSetBuilder b(sample.set);
        QList<_MsgMessage *> list;
        for (const auto &[key, date] : c.keyAndDate) {
            _MsgMessage *m = b.message(sample.chat(1), key, date, QStringLiteral("text %1").arg(key),
                                       sample.message(1)->sender);
            m->guid = QStringLiteral("K%1").arg(key);
            list.append(m);
        }
        QTemporaryDir own;
        RecordingProgress progress;
        BackupSMSThread worker(list, QDir(own.path()), QString(), &progress);
        ASSERT_TRUE(progress.runWorker(worker));
        EXPECT_EQ(progress.result(), 1);
        EXPECT_EQ(queryRows(IOS6SmsDbFixture::smsDbPath(QDir(own.path())),
                            QStringLiteral("select guid from message order by rowid")),
                  c.written);
    }
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
    EXPECT_FALSE(committed);
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
    EXPECT_FALSE(committed);
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

// Every file below folder, relative to it, with its bytes.
QMap<QString, QByteArray> filesBelow(const QDir &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder.absolutePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        files.insert(folder.relativeFilePath(path), f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?"));
    }
    return files;
}

TEST_F(BackupSMSThreadTest, PictureMessagesKeepTheirFilesThroughALocalDatabase)
{
    const QDir device(dir.filePath(QStringLiteral("device")));
    const QString mark(QChar(0xFFFC));
    {
        IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(device), IOS6SmsDbFixture::Device, true);
        const qint64 ann = sms.addHandle(QStringLiteral("+15550000001"));
        const qint64 bob = sms.addHandle(QStringLiteral("bob@example.com"), QStringLiteral("iMessage"));
        const qint64 one = sms.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
        sms.joinChatHandle(one, ann);
        const qint64 group = sms.addChat(QStringLiteral("iMessage;+;chat1"), QStringLiteral("chat1"),
                                         QStringLiteral("iMessage"), 43);
        sms.joinChatHandle(group, ann);
        sms.joinChatHandle(group, bob);
        const qint64 m1 = sms.addMessage(one, ann, QStringLiteral("D1"), QStringLiteral("Look") + mark, 1000, 0);
        const qint64 m2 = sms.addMessage(one, ann, QStringLiteral("D2"), mark + mark, 1100, 1);
        const qint64 m3 = sms.addMessage(group, bob, QStringLiteral("D3"), mark, 1200, 0, 0, -1,
                                         QStringLiteral("iMessage"));
        const qint64 m4 = sms.addMessage(group, ann, QStringLiteral("D4"), QStringLiteral("odd"), 1300, 0);
        const qint64 shared = sms.addAttachment(m1, QStringLiteral("A1"),
                                                QStringLiteral("~/Library/SMS/Attachments/0a/10/IMG_0001.JPG"),
                                                QStringLiteral("image/jpeg"));
        sms.joinMessageAttachment(m3, shared);
        sms.addAttachment(m2, QStringLiteral("A2"), QStringLiteral("/var/mobile/Library/SMS/Attachments/0b/IMG_0002.PNG"),
                          QStringLiteral("image/png"));
        sms.addAttachment(m2, QStringLiteral("A3"), QStringLiteral("~/Library/SMS/Attachments/0c/clip.MOV"),
                          QStringLiteral("video/quicktime"));
        sms.addAttachment(m4, QStringLiteral("H1"), QStringLiteral("~/../../../../outside.jpg"), QStringLiteral("image/jpeg"));
        sms.addAttachment(m4, QStringLiteral("H2"), QStringLiteral("/etc/passwd"), QStringLiteral("text/plain"));
        sms.addAttachment(m4, QStringLiteral("H3"), QString(), QStringLiteral("image/jpeg"));
    }
    IOS6SmsDbFixture::writeDeviceFile(device, QStringLiteral("/var/mobile/Library/SMS/Attachments/0a/10/IMG_0001.JPG"),
                                      "jpeg bytes");
    IOS6SmsDbFixture::writeDeviceFile(device, QStringLiteral("/var/mobile/Library/SMS/Attachments/0b/IMG_0002.PNG"),
                                      "png bytes");
    // Where the hostile name would lead if it were followed: next to the
    // device folder.
    {
        QFile f(dir.filePath(QStringLiteral("outside.jpg")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("outside");
    }

    IOS6MessageDb source(device, QString(), false);
    MsgDataSet read = MsgDataSet::create();
    source.messages(read, 0);
    {
        RecordingProgress progress;
        run(progress, read.messageList());
        ASSERT_EQ(progress.result(), 1) << progress.errorText().toStdString();
    }
    const QMap<QString, QByteArray> expectedFiles = {
        {"file-relay/var/mobile/Library/SMS/Attachments/0a/10/IMG_0001.JPG", "jpeg bytes"},
        {"file-relay/var/mobile/Library/SMS/Attachments/0b/IMG_0002.PNG", "png bytes"},
        {"file-relay/var/mobile/Library/SMS/sms.db", QByteArray()},
    };
    auto withoutDbBytes = [](QMap<QString, QByteArray> files) {
        for (auto it = files.begin(); it != files.end(); ++it) {
            if (it.key().endsWith(QLatin1String("sms.db")))
                it.value().clear();
        }
        return files;
    };
    EXPECT_EQ(withoutDbBytes(filesBelow(target())), expectedFiles);
    const QMap<QString, qint64> counts = tableRowCounts(smsDb());
    EXPECT_EQ(counts.value("attachment"), 6);
    EXPECT_EQ(counts.value("message_attachment_join"), 7);

    // A second backup, of the same records and of a new load, adds nothing.
    {
        RecordingProgress progress;
        run(progress, read.messageList());
        ASSERT_EQ(progress.result(), 1) << progress.errorText().toStdString();
    }
    {
        IOS6MessageDb again(device, QString(), false);
        MsgDataSet reread = MsgDataSet::create();
        again.messages(reread, 0);
        RecordingProgress progress;
        run(progress, reread.messageList());
        ASSERT_EQ(progress.result(), 1) << progress.errorText().toStdString();
    }
    EXPECT_EQ(tableRowCounts(smsDb()), counts);
    EXPECT_EQ(withoutDbBytes(filesBelow(target())), expectedFiles);

    // Read back, the attachments point at the local database's copies.
    IOS6MessageDb local(target(), QString(), true);
    MsgDataSet back = MsgDataSet::create();
    local.messages(back, 0);
    struct Case
    {
        const char *guid;
        const char *localPath; // under the local database's folder; empty: none
        bool file;
    };
    const Case cases[] = {
        {"A1", "file-relay/var/mobile/Library/SMS/Attachments/0a/10/IMG_0001.JPG", true},
        {"A2", "file-relay/var/mobile/Library/SMS/Attachments/0b/IMG_0002.PNG", true},
        {"A3", "file-relay/var/mobile/Library/SMS/Attachments/0c/clip.MOV", false},
        {"H1", "", false},
        {"H2", "file-relay/etc/passwd", false},
        {"H3", "", false},
    };
    QHash<QString, _MsgAttachment *> byGuid;
    for (_MsgAttachment *a : std::as_const(back.data()->attachments))
        byGuid.insert(a->guid, a);
    EXPECT_EQ(byGuid.size(), 6);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.guid);
        const _MsgAttachment *a = byGuid.value(QLatin1String(c.guid));
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->_local_path, *c.localPath ? target().absoluteFilePath(QLatin1String(c.localPath)) : QString());
        EXPECT_EQ(QFileInfo(a->_local_path).isFile(), c.file);
    }
    QStringList texts;
    for (const _MsgMessage *m : back.messageList())
        texts.append(m->guid + QLatin1Char(' ') + messageText(m));
    texts.sort();
    EXPECT_EQ(texts, QStringList({"D1 Look [IMAGE]", "D2 [IMAGE] [VIDEO]", "D3 [IMAGE]",
                                  "D4 odd [IMAGE] [ATTA] [IMAGE]"}));
    const _MsgMessage *first = nullptr;
    const _MsgMessage *third = nullptr;
    for (const _MsgMessage *m : back.messageList()) {
        if (m->guid == QLatin1String("D1"))
            first = m;
        if (m->guid == QLatin1String("D3"))
            third = m;
    }
    ASSERT_TRUE(first && third);
    EXPECT_EQ(first->attachmentIds(), third->attachmentIds()) << "still one record for both messages";

    // And on into a second local database, from the first one's copies.
    const QDir next(dir.filePath(QStringLiteral("next")));
    {
        RecordingProgress progress;
        BackupSMSThread onward(back.messageList(), next, QString(), &progress);
        ASSERT_TRUE(progress.runWorker(onward));
        ASSERT_EQ(progress.result(), 1) << progress.errorText().toStdString();
    }
    EXPECT_EQ(withoutDbBytes(filesBelow(next)), expectedFiles);
}

// A conversation and its messages as the user sees them in the window: the
// conversation's members by name, and for each message its direction, date,
// sender and text. Members are sorted, since a conversation keeps them in a
// hash.
QStringList asSeen(const MsgDataSet &set)
{
    QStringList lines;
    for (const _MsgChat *chat : set.chatList()) {
        QStringList members;
        for (const _MsgHandle *h : chat->handles)
            members.append(h->displayName(true));
        members.sort();
        lines.append(QStringLiteral("chat %1 [%2] %3").arg(chat->guid, members.join(QStringLiteral(", ")),
                                                           chat->display_name));
    }
    for (const _MsgMessage *m : set.messageList()) {
        if (!m->chat)
            continue;
        lines.append(QStringLiteral("%1 %2 %3 %4 from %5: %6")
                         .arg(m->chat->guid)
                         .arg(m->date)
                         .arg(m->is_from_me ? QStringLiteral("sent") : QStringLiteral("received"), m->service,
                              m->sender ? m->sender->displayName(true) : QStringLiteral("-"), messageText(m)));
    }
    lines.sort();
    return lines;
}

TEST_F(BackupSMSThreadTest, AnIOS5DatabaseIsBackedUpOnceAndReadsBackAsOnThePhone)
{
    // India (MCC 404): ten-digit mobile numbers get "+91".
    const QString asha = QStringLiteral("9876543210");
    const QString bina = QStringLiteral("9812345678");
    const QString chandra = QStringLiteral("9123456789");
    const QString mate = QStringLiteral("friend@example.com");
    const qint64 unix2001 = 978307200;
    const QString source = dir.filePath(QStringLiteral("phone"));
    {
        AddressBookFixture book(source);
        book.addPerson(1, QStringLiteral("Asha"), QString(), QStringLiteral("Rao"));
        book.addValue(1, asha);
        book.write();
    }
    IOS5DbFixture fx(source);
    fx.begin();
    // SMS: Asha alone; Asha and Bina together (and Chandra, who is no member,
    // writing into it); one row of a group that no longer exists.
    fx.addGroup(1, 11, 11);
    fx.addMember(1, 1, asha, QStringLiteral("in"));
    fx.addGroup(2, 22, 22);
    fx.addMember(2, 2, asha, QStringLiteral("in"));
    fx.addMember(3, 2, bina, QStringLiteral("in"));
    // iMessage: a friend by e-mail alone; a room of the friend and Bina.
    fx.addMadridChat(1, mate, IOS5DbFixture::participants({mate}, IOS5DbFixture::Binary));
    fx.addMadridChat(2, QStringLiteral("chat222"), IOS5DbFixture::participants({mate, bina}, IOS5DbFixture::Xml), 43);
    struct Sms
    {
        qint64 rowid, group, date;
        int flags;
        QString address;
        const char *text;
    };
    const Sms smsRows[] = {
        {10, 1, 0, 3, asha, "Are you home?"},
        {11, 1, 60, 2, asha, "Yes \xF0\x9F\x98\x80"},
        {12, 1, 61, 2, asha, "Yes \xF0\x9F\x98\x80"}, // the same text a second later is another message
        {20, 2, 100, 3, asha, "Dinner at 8"},
        {21, 2, 110, 2, bina, "OK"},
        {22, 2, 120, 2, chandra, "Who is this?"},
        {50, 9, 7000, 2, asha, "lost"},
    };
    for (const Sms &r : smsRows) {
        IOS5DbFixture::Sms s;
        s.rowid = r.rowid;
        s.groupId = r.group;
        s.date = unix2001 + r.date;
        s.flags = r.flags;
        s.address = r.address;
        s.country = QStringLiteral("in");
        s.text = QString::fromUtf8(r.text);
        fx.addSms(s);
    }
    struct IMessage
    {
        qint64 rowid, date;
        QString handle, room;
        qint64 delivered;
        const char *text;
    };
    const IMessage iRows[] = {
        {30, 5000, mate, QString(), 0, "See you"},
        {31, 5050, mate, QString(), 5100, "Sure"},
        {40, 6000, bina, QStringLiteral("chat222"), 0, "Room hello"},
        {41, 6100, mate, QStringLiteral("chat222"), 6200, "Hi all"},
    };
    for (const IMessage &r : iRows) {
        IOS5DbFixture::IMessage m;
        m.rowid = r.rowid;
        m.date = r.date;
        m.handle = r.handle;
        m.roomName = r.room;
        m.dateDelivered = r.delivered;
        m.guid = QStringLiteral("00000000-0000-0000-0000-%1").arg(r.rowid, 12, 10, QLatin1Char('0'));
        m.text = QString::fromUtf8(r.text);
        fx.addIMessage(m);
    }
    fx.commit();

    auto load = [&source] {
        IOS5MessageDb phone(QDir(source), QStringLiteral("404"));
        MsgDataSet set = MsgDataSet::create();
        phone.messages(set, 0);
        return set;
    };
    const MsgDataSet read = load();
    const QStringList seen = asSeen(read);
    // What the phone shows, so that a reader fault cannot hide behind a
    // matching round trip.
    EXPECT_TRUE(seen.contains(QStringLiteral("SMS;-;+919876543210 60 received SMS from Asha Rao (+919876543210): Yes [EMOJI]")))
        << seen.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("chat iMessage;+;chat222 [+919812345678, friend@example.com] ")))
        << seen.join(QLatin1Char('\n')).toStdString();

    RecordingProgress first;
    run(first, read.messageList());
    ASSERT_EQ(first.result(), 1) << first.errorText().toStdString();
    EXPECT_EQ(first.successText(), QStringLiteral("Successfully Backup 11 SMS to local Database."));
    const QMap<QString, qint64> counts = tableRowCounts(smsDb());
    EXPECT_EQ(counts.value("message"), 10) << "the message of the lost group has no conversation to go to";
    EXPECT_EQ(counts.value("chat_message_join"), 10);
    EXPECT_EQ(counts.value("chat"), 4);
    // Asha's and Bina's numbers by SMS, the friend's and Bina's addresses by
    // iMessage.
    EXPECT_EQ(counts.value("handle"), 4);
    EXPECT_EQ(counts.value("chat_handle_join"), 6);
    EXPECT_EQ(counts.value("attachment"), 0);

    // Again with the same records, and with a new load, whose SMS rows get
    // new made-up guids: only their fingerprints find them.
    RecordingProgress second;
    run(second, read.messageList());
    ASSERT_EQ(second.result(), 1) << second.errorText().toStdString();
    EXPECT_EQ(tableRowCounts(smsDb()), counts);
    const MsgDataSet reloaded = load();
    RecordingProgress third;
    run(third, reloaded.messageList());
    ASSERT_EQ(third.result(), 1) << third.errorText().toStdString();
    EXPECT_EQ(tableRowCounts(smsDb()), counts);

    // The local database has no address book: the names come from its rows.
    IOS6MessageDb local(target(), QString(), true);
    MsgDataSet back = MsgDataSet::create();
    local.messages(back, 0);
    EXPECT_EQ(asSeen(back), seen);
}

} // namespace
