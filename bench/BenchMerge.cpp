// Times the merge of chosen messages into an iTunes backup's sms.db on data of
// realistic size: a backup whose device-shaped sms.db holds the backup's own
// messages, and a set chosen from another source of which half are messages
// the backup has already (same guids) and half are new ones, in the backup's
// conversations and in conversations it lacks. Then times reading the merged
// database back.
//
//   bench_merge [backup messages] [conversations] [chosen messages]
//
// by default 100000 messages over 500 conversations and 100000 chosen. With
// NOFILES set in the environment no attachment file is created, so that the
// figures show the database work without the file copies. With KEEP set the
// work folder stays, for a look at the merged backup.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchCommon.h"
#include "BackupGenerator.h"
#include "CountryLibDb.h"
#include "IOS6MessageDb.h"
#include "IOS6RestoreMessagesThread.h"
#include "IOS6SmsDbFixture.h"
#include "MergeBackupFixture.h"
#include "RecordingProgress.h"
#include "Sqlite3DB.h"

namespace
{

using bench::cpuSeconds;
using bench::kWords;

constexpr int kFirstDate = 380000000;
// Seconds between two of the backup's messages, on average.
constexpr int kSpacing = 900;

// What the two databases agree on: the sizes, and from them every
// conversation's members and every message's contents, so that a message of
// one index is the same message in both.
struct Plan
{
    int backupMessages = 0;
    int chats = 0;     // the backup's conversations
    int newChats = 0;  // conversations only the other source has
    int shared = 0;    // chosen messages the backup holds already
    int fresh = 0;     // chosen messages the backup lacks

    int totalChats() const { return chats + newChats; }
    static int handlePool(int chats) { return chats + chats / 5; }
};

struct Chat
{
    bool group = false;
    QList<int> members; // handle indexes
};

// 10% group conversations of 3 to 6 members drawn from the handles the
// database of those conversations holds; the others with a handle each.
Chat chatOf(const Plan &plan, int c)
{
    Chat chat;
    chat.group = c % 10 == 9;
    if (!chat.group) {
        chat.members.append(c);
        return chat;
    }
    QRandomGenerator random(7001u + quint32(c));
    const int pool = Plan::handlePool(c < plan.chats ? plan.chats : plan.totalChats());
    const int n = 3 + int(random.bounded(4));
    while (chat.members.size() < n) {
        const int h = int(random.bounded(pool));
        if (!chat.members.contains(h))
            chat.members.append(h);
    }
    return chat;
}

QString handleId(int h)
{
    return QStringLiteral("+1555%1").arg(1000000 + h);
}

QString chatGuid(const Chat &chat, int c)
{
    return chat.group ? QStringLiteral("iMessage;+;chat%1").arg(100000000000000000LL + c)
                      : QStringLiteral("SMS;-;%1").arg(handleId(c));
}

struct Message
{
    int index = 0;
    int chat = 0;
    int date = 0;
};

// Busy conversations get more of the messages.
int busyChat(QRandomGenerator &random, int first, int count)
{
    return first + int(random.bounded(count)) * int(random.bounded(count)) / count;
}

// The backup's messages have indexes below backupMessages, over about three
// years; the new ones follow them and fall between their dates, half in the
// backup's conversations and half in the new ones.
Message messageOf(const Plan &plan, int index)
{
    QRandomGenerator random(90001u + quint32(index));
    Message m;
    m.index = index;
    if (index < plan.backupMessages) {
        m.chat = busyChat(random, 0, plan.chats);
        m.date = kFirstDate + index * kSpacing + int(random.bounded(kSpacing));
    } else {
        const int j = index - plan.backupMessages;
        m.chat = j % 2 == 0 || plan.newChats == 0 ? busyChat(random, 0, plan.chats)
                                                   : busyChat(random, plan.chats, plan.newChats);
        const qint64 slot = plan.fresh > 0 ? qint64(j) * qMax(plan.backupMessages, 1) / plan.fresh : 0;
        m.date = kFirstDate + int(slot) * kSpacing + int(random.bounded(kSpacing));
    }
    return m;
}

struct Counts
{
    int messages = 0;
    int attachments = 0;
    int files = 0;
};

QString attachmentRest(int index)
{
    return QStringLiteral("Library/SMS/Attachments/%1/IMG_%2.JPG").arg(index % 256, 2, 16, QLatin1Char('0')).arg(index);
}

// Every 40th message has a picture; every other picture has its file.
bool hasPicture(int index)
{
    return index % 40 == 0;
}

bool hasFile(int index)
{
    return index % 80 == 0 && qEnvironmentVariableIsEmpty("NOFILES");
}

QByteArray fileBytes(int index)
{
    return QByteArray(2048, char(index));
}

// Writes the conversations below chatCount, their handles and the messages
// (in the order given) into sms; a device file for each message with a file
// when fileRoot is set.
Counts fill(IOS6SmsDbFixture &sms, const Plan &plan, int chatCount, const std::vector<Message> &messages,
            const QDir *fileRoot)
{
    sms.begin();
    QList<qint64> handles;
    for (int h = 0; h < Plan::handlePool(chatCount); ++h)
        handles.append(sms.addHandle(handleId(h), QStringLiteral("SMS"), QStringLiteral("us")));
    QList<qint64> chatRows;
    QList<QList<qint64>> members;
    for (int c = 0; c < chatCount; ++c) {
        const Chat chat = chatOf(plan, c);
        const QString room = QStringLiteral("chat%1").arg(100000000000000000LL + c);
        chatRows.append(chat.group ? sms.addChat(chatGuid(chat, c), room, QStringLiteral("iMessage"), 43)
                                   : sms.addChat(chatGuid(chat, c), handleId(c)));
        QList<qint64> who;
        for (int h : chat.members) {
            sms.joinChatHandle(chatRows.last(), handles.at(h));
            who.append(handles.at(h));
        }
        members.append(who);
    }

    Counts n;
    for (const Message &m : messages) {
        // The text and sender of a message follow from its index alone.
        QRandomGenerator own(31337u + quint32(m.index));
        const QList<qint64> &who = members.at(m.chat);
        const qint64 sender = who.at(own.bounded(int(who.size())));
        const int fromMe = int(own.bounded(2));
        const int words = 1 + int(own.bounded(25));
        QString text;
        for (int w = 0; w < words; ++w) {
            if (w)
                text += QLatin1Char(' ');
            text += QLatin1String(kWords[own.bounded(int(sizeof(kWords) / sizeof(kWords[0])))]);
        }
        const bool picture = hasPicture(m.index);
        if (picture)
            text += QChar(0xFFFC);
        // Random as the phone's are: their index then gets rows in no order.
        const QString guid = QStringLiteral("%1-%2-4%3-8%4-%5%6")
                                 .arg(own.generate(), 8, 16, QLatin1Char('0'))
                                 .arg(own.bounded(0x10000), 4, 16, QLatin1Char('0'))
                                 .arg(own.bounded(0x1000), 3, 16, QLatin1Char('0'))
                                 .arg(own.bounded(0x1000), 3, 16, QLatin1Char('0'))
                                 .arg(own.bounded(0x10000), 4, 16, QLatin1Char('0'))
                                 .arg(own.generate(), 8, 16, QLatin1Char('0'))
                                 .toUpper();
        const qint64 row = sms.addMessage(chatRows.at(m.chat), sender, guid, text, m.date, fromMe, 0, -1,
                                          who.size() > 1 ? QStringLiteral("iMessage") : QStringLiteral("SMS"));
        if (picture) {
            sms.addAttachment(row, QStringLiteral("AT-%1").arg(m.index), QStringLiteral("~/") + attachmentRest(m.index),
                              QStringLiteral("image/jpeg"));
            ++n.attachments;
            if (fileRoot && hasFile(m.index)) {
                IOS6SmsDbFixture::writeDeviceFile(*fileRoot, QStringLiteral("/var/mobile/") + attachmentRest(m.index),
                                                  fileBytes(m.index));
                ++n.files;
            }
        }
        ++n.messages;
    }
    sms.commit();
    return n;
}

bool byDate(const Message &a, const Message &b)
{
    return a.date < b.date || (a.date == b.date && a.index < b.index);
}

qint64 rows(const QString &path, const char *table)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadOnly);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(QStringLiteral("select count(*) from %1").arg(QLatin1String(table))));
    return c.moveNext() ? c.getInt64(0) : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir work;
    if (qEnvironmentVariableIsSet("KEEP")) {
        work.setAutoRemove(false);
        std::printf("work folder: %s\n", qUtf8Printable(work.path()));
    }
    // The country library is installed into the application-data folder under
    // HOME: keep it out of the user's own.
    qputenv("HOME", QFile::encodeName(work.filePath(QStringLiteral("home"))));
    QDir().mkpath(work.filePath(QStringLiteral("home")));
    QCoreApplication app(argc, argv);
    // The worker's error texts are message ids without it.
    QTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QCoreApplication::installTranslator(&translator);
    const QStringList args = app.arguments();

    Plan plan;
    plan.backupMessages = qMax(0, args.size() > 1 ? args.at(1).toInt() : 100000);
    plan.chats = qMax(1, args.size() > 2 ? args.at(2).toInt() : 500);
    const int chosen = qMax(0, args.size() > 3 ? args.at(3).toInt() : 100000);
    plan.newChats = qMax(1, plan.chats / 5);
    plan.shared = qMin(chosen / 2, plan.backupMessages);
    plan.fresh = chosen - plan.shared;

    QElapsedTimer clock;
    clock.start();
    MergeBackupFixture fx(work.filePath(QStringLiteral("merge")));
    std::vector<Message> own;
    own.reserve(size_t(plan.backupMessages));
    for (int i = 0; i < plan.backupMessages; ++i)
        own.push_back(messageOf(plan, i));
    const Counts backup = fill(fx.sms(), plan, plan.chats, own, nullptr);
    // The backup holds the files of its own pictures, as the phone had them.
    QList<BackupGenerator::File> files;
    for (const Message &m : own) {
        if (hasPicture(m.index) && hasFile(m.index))
            files.append(
                BackupGenerator::file(QStringLiteral("MediaDomain"), attachmentRest(m.index), fileBytes(m.index)));
    }
    fx.writeBackup(BackupGenerator::Options(), files);
    std::printf("backup: %d messages in %d conversations, %d attachments, %lld files (%.2f s)\n", backup.messages,
                plan.chats, backup.attachments, qlonglong(files.size()), clock.nsecsElapsed() / 1e9);

    // The other source: every k-th of the backup's messages, and the new ones,
    // in date order as a phone would have written them.
    clock.start();
    std::vector<Message> theirs;
    theirs.reserve(size_t(chosen));
    for (int s = 0; s < plan.shared; ++s)
        theirs.push_back(own.at(size_t(qint64(s) * plan.backupMessages / plan.shared)));
    for (int j = 0; j < plan.fresh; ++j)
        theirs.push_back(messageOf(plan, plan.backupMessages + j));
    std::sort(theirs.begin(), theirs.end(), byDate);
    const QDir other(work.filePath(QStringLiteral("other")));
    Counts chosenCounts;
    {
        IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(other), IOS6SmsDbFixture::Device, true);
        chosenCounts = fill(sms, plan, plan.totalChats(), theirs, &other);
    }
    std::printf("other source: %d messages (%d the backup has, %d new) in %d conversations (%d new), "
                "%d attachments, %d files (%.2f s)\n",
                chosenCounts.messages, plan.shared, plan.fresh, plan.totalChats(), plan.newChats,
                chosenCounts.attachments, chosenCounts.files, clock.nsecsElapsed() / 1e9);

    // Once per installation the country library is copied into the
    // application-data folder (and synced); every later use finds it.
    clock.start();
    CountryLibDb(QString()).ensureOpen();
    std::printf("install the country library (once):  %6.3f s\n", clock.nsecsElapsed() / 1e9);

    IOS6MessageDb otherDb(other, QString(), false);
    MsgDataSet set = MsgDataSet::create();
    double cpu = cpuSeconds();
    clock.start();
    otherDb.messages(set, 0);
    otherDb.close();
    std::printf("read the other source into a set:    %7.3f s, cpu %6.3f s  (%lld messages)\n",
                clock.nsecsElapsed() / 1e9, cpuSeconds() - cpu, qlonglong(set.data()->messages.size()));
    const QList<_MsgMessage *> messages = set.messageList();

    IOS6MessageDb cached(fx.cacheDir(), QString(), false);
    RecordingProgress progress;
    IOS6RestoreMessagesThread worker(QString(), messages, &cached, fx.backupDir(), &progress);
    cpu = cpuSeconds();
    clock.start();
    const bool inTime = progress.runWorker(worker, 24 * 3600 * 1000);
    const double merge = clock.nsecsElapsed() / 1e9;
    const double mergeCpu = cpuSeconds() - cpu;
    if (!inTime || progress.result() != 1) {
        std::printf("merge failed after %.3f s: %s\n", merge, qUtf8Printable(progress.errorText()));
        return 1;
    }
    const QString stored = fx.storedSmsDb();
    std::printf("merge into the backup:               %7.3f s, cpu %6.3f s  (%d merged, %d without chat; "
                "%lld messages, %lld conversations, %lld handles, %lld attachments stored; %.1f MB)\n",
                merge, mergeCpu, worker.mergedCount(), worker.noChatCount(), rows(stored, "message"),
                rows(stored, "chat"), rows(stored, "handle"), rows(stored, "attachment"),
                QFileInfo(stored).size() / 1e6);

    // Read as the message cache reads it once the backup is loaded again.
    const QDir readRoot(work.filePath(QStringLiteral("readback")));
    QDir().mkpath(readRoot.absolutePath());
    IOS6MessageDb merged(readRoot, QString(), false);
    merged.setDbPath(stored);
    MsgDataSet back = MsgDataSet::create();
    cpu = cpuSeconds();
    clock.start();
    merged.messages(back, 0);
    std::printf("read the merged database back:       %7.3f s, cpu %6.3f s  (%lld messages, %lld conversations, "
                "%lld attachments)\n",
                clock.nsecsElapsed() / 1e9, cpuSeconds() - cpu, qlonglong(back.data()->messages.size()),
                qlonglong(back.data()->chats.size()), qlonglong(back.data()->attachments.size()));
    return 0;
}
