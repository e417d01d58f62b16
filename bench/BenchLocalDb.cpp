// Times the local-database road on a generated iOS 6 sms.db of realistic
// size: reading every message into a set, backing them all up into a new
// local database, and backing them up again (all duplicates).
//
//   bench_localdb [messages] [conversations] [messages to delete]
//
// by default 100000 messages over 500 conversations; the large case is
// bench_localdb 1000000 5000.
//
// With NOFILES set in the environment no attachment file is created, so that
// the backup figures show the database work without the file copies. With
// KEEP set the work folder stays, for a look at the local database. With
// SOURCE set to the device folder of a kept run, its sms.db is read instead
// of a new one (made with the same arguments), which saves generating it on
// every run. With READONLY set the run ends after the read, with FIRSTONLY
// set after the first backup (for a look at the database it leaves).
//
// The peak resident memory is shown before and after the read: the
// generation of the source comes first and holds little, so the second figure
// is the read's own peak (with the program's start-up).

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

#include "BackupSMSThread.h"
#include "BenchCommon.h"
#include "CountryLibDb.h"
#include "DeleteMessagesThread.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"

namespace
{

using bench::cpuSeconds;
using bench::peakRssMb;
using bench::sentence;

struct Generated
{
    int messages = 0;
    int attachments = 0;
};

// 10% group conversations of 3 to 6 members, every 40th message with a
// picture (and its file in the source folder, where a device's copy keeps it,
// for half of them), dates over about three years.
Generated generate(const QDir &root, int messageCount, int chatCount)
{
    QRandomGenerator random(20130301);
    IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(root), IOS6SmsDbFixture::Device);
    sms.begin();
    QList<QList<qint64>> members;
    QList<qint64> chats;
    QList<qint64> handles;
    for (int i = 0; i < chatCount + chatCount / 5; ++i)
        handles.append(sms.addHandle(QStringLiteral("+1555%1").arg(1000000 + i), QStringLiteral("SMS"),
                                     QStringLiteral("us")));
    for (int c = 0; c < chatCount; ++c) {
        const bool group = c % 10 == 9;
        QList<qint64> who;
        if (group) {
            const int n = 3 + int(random.bounded(4));
            while (who.size() < n) {
                const qint64 h = handles.at(random.bounded(int(handles.size())));
                if (!who.contains(h))
                    who.append(h);
            }
            chats.append(sms.addChat(QStringLiteral("iMessage;+;chat%1").arg(100000000000000000LL + c),
                                     QStringLiteral("chat%1").arg(100000000000000000LL + c), QStringLiteral("iMessage"),
                                     43));
        } else {
            who.append(handles.at(c));
            chats.append(sms.addChat(QStringLiteral("SMS;-;+1555%1").arg(1000000 + c),
                                     QStringLiteral("+1555%1").arg(1000000 + c)));
        }
        for (qint64 h : who)
            sms.joinChatHandle(chats.last(), h);
        members.append(who);
    }

    Generated g;
    int date = 380000000;
    for (int i = 0; i < messageCount; ++i) {
        // Busy conversations get more of the messages.
        const int c = int(random.bounded(chatCount)) * int(random.bounded(chatCount)) / chatCount;
        const QList<qint64> &who = members.at(c);
        const qint64 sender = who.at(random.bounded(int(who.size())));
        const int fromMe = int(random.bounded(2));
        date += 1 + int(random.bounded(1800));
        QString text = sentence(random);
        const bool picture = i % 40 == 0;
        if (picture)
            text += QChar(0xFFFC);
        const qint64 m = sms.addMessage(chats.at(c), sender, QStringLiteral("%1-0000-4000-8000-%2")
                                                                 .arg(i, 8, 16, QLatin1Char('0'))
                                                                 .arg(qint64(i) * 7919, 12, 16, QLatin1Char('0'))
                                                                 .toUpper(),
                                        text, date, fromMe, 0, -1, who.size() > 1 ? QStringLiteral("iMessage") : QStringLiteral("SMS"));
        if (picture) {
            const QString rest = QStringLiteral("Library/SMS/Attachments/%1/IMG_%2.JPG").arg(i % 256, 2, 16, QLatin1Char('0')).arg(i);
            sms.addAttachment(m, QStringLiteral("AT-%1").arg(i), QStringLiteral("~/") + rest, QStringLiteral("image/jpeg"));
            if (i % 80 == 0 && qEnvironmentVariableIsEmpty("NOFILES"))
                IOS6SmsDbFixture::writeDeviceFile(root, QStringLiteral("/var/mobile/") + rest, QByteArray(2048, char(i)));
            ++g.attachments;
        }
        ++g.messages;
    }
    sms.commit();
    return g;
}

double runBackup(const QList<_MsgMessage *> &messages, const QDir &target)
{
    QElapsedTimer clock;
    clock.start();
    BackupSMSThread worker(messages, target, QString(), nullptr);
    worker.start();
    worker.wait();
    return clock.nsecsElapsed() / 1e9;
}

int filesBelow(const QDir &folder)
{
    int n = 0;
    QDirIterator it(folder.absolutePath(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
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
    const QStringList args = app.arguments();
    const int messageCount = args.size() > 1 ? args.at(1).toInt() : 100000;
    const int chatCount = args.size() > 2 ? args.at(2).toInt() : 500;
    const int deleteCount = args.size() > 3 ? args.at(3).toInt() : 1000;

    const QDir device(work.filePath(QStringLiteral("device")));
    const QDir local(work.filePath(QStringLiteral("local")));
    QElapsedTimer clock;
    clock.start();
    const QString kept = qEnvironmentVariable("SOURCE");
    if (kept.isEmpty()) {
        const Generated g = generate(device, messageCount, chatCount);
        std::printf("generated %d messages in %d conversations, %d attachments (%.2f s)\n", g.messages, chatCount,
                    g.attachments, clock.nsecsElapsed() / 1e9);
    } else {
        std::printf("source: %s\n", qUtf8Printable(kept));
    }

    IOS6MessageDb source(kept.isEmpty() ? device : QDir(kept), QString(), false);
    MsgDataSet set = MsgDataSet::create();
    // Once per installation the country library is copied into the
    // application-data folder (and synced); every later read finds it.
    clock.start();
    CountryLibDb(QString()).ensureOpen();
    std::printf("install the country library (once): %6.3f s\n", clock.nsecsElapsed() / 1e9);
    std::printf("peak resident memory before the read: %7.1f MB\n", peakRssMb());
    double cpu = cpuSeconds();
    clock.start();
    source.messages(set, 0);
    const double read = clock.nsecsElapsed() / 1e9;
    std::printf("read all messages into a set:      %7.3f s, cpu %6.3f s  (%lld messages, %lld attachments)\n", read,
                cpuSeconds() - cpu, qlonglong(set.data()->messages.size()), qlonglong(set.data()->attachments.size()));
    const double readPeak = peakRssMb();
    std::printf("peak resident memory of the read:  %7.1f MB  (%.0f bytes a message)\n", readPeak,
                set.data()->messages.isEmpty() ? 0.0 : readPeak * 1048576.0 / double(set.data()->messages.size()));

    if (qEnvironmentVariableIsSet("READONLY"))
        return 0;

    const QList<_MsgMessage *> messages = set.messageList();
    cpu = cpuSeconds();
    const double first = runBackup(messages, local);
    const double firstCpu = cpuSeconds() - cpu;
    const QString localDb = IOS6SmsDbFixture::smsDbPath(local);
    const QDir copies(local.absoluteFilePath(QStringLiteral("file-relay/var/mobile/Library/SMS/Attachments")));
    std::printf("back up into a new local database: %7.3f s, cpu %6.3f s  (%lld messages, %lld attachments stored, "
                "%d files copied)\n",
                first, firstCpu, rows(localDb, "message"), rows(localDb, "attachment"), filesBelow(copies));
    if (qEnvironmentVariableIsSet("FIRSTONLY"))
        return 0;
    cpu = cpuSeconds();
    const double again = runBackup(messages, local);
    std::printf("back up again (all duplicates):    %7.3f s, cpu %6.3f s  (%lld messages stored, %d files)\n", again,
                cpuSeconds() - cpu, rows(localDb, "message"), filesBelow(copies));
    std::printf("peak resident memory of the run:   %7.1f MB\n", peakRssMb());

    // Deleting is not a target; shown for what the schema's triggers cost.
    if (deleteCount <= 0)
        return 0;
    IOS6MessageDb target(local, QString(), true);
    MsgDataSet stored = MsgDataSet::create();
    cpu = cpuSeconds();
    clock.start();
    target.messages(stored, 0);
    std::printf("read the local database back:      %7.3f s, cpu %6.3f s  (%lld messages, %lld attachments)\n",
                clock.nsecsElapsed() / 1e9, cpuSeconds() - cpu, qlonglong(stored.data()->messages.size()),
                qlonglong(stored.data()->attachments.size()));
    const QList<_MsgMessage *> some = stored.messageList().mid(0, deleteCount);
    cpu = cpuSeconds();
    clock.start();
    DeleteMessagesThread deleter(&target, &some, nullptr);
    deleter.start();
    deleter.wait();
    std::printf("delete %5d messages:              %7.3f s, cpu %6.3f s  (%d deleted)\n", int(some.size()),
                clock.nsecsElapsed() / 1e9, cpuSeconds() - cpu, deleter.deletedCount());
    return 0;
}
