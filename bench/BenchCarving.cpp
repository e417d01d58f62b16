// Times the deleted-record scans on generated sms.db files of realistic size:
// an iOS 6 one (handles, then messages) and an iOS 5 one, each with a part of
// its messages deleted by SQL the way the phone leaves them: secure_delete
// off and no VACUUM, so the rows stay in free pages, freeblocks and the
// unallocated areas of the leaf pages. Each scan runs twice; the second run
// finds everything stored already and shows what the duplicate tests cost.
//
//   bench_carving [messages] [conversations] [messages to delete] [handles to delete]
//
// Defaults: 100000 messages in 500 conversations, a fifth of the messages and
// a tenth as many handles as conversations deleted. With ONLY=ios6 or
// ONLY=ios5 in the environment only that database is generated and scanned;
// with KEEP set the working folder is kept (and named), so that the recycle
// databases of two builds can be compared.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/resource.h>

#include "CountryLibDb.h"
#include "IOS5DbFixture.h"
#include "IOS5DeletedMessageScan.h"
#include "IOS5MessageDb.h"
#include "IOS6DeletedRecordScan.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "MsgDataSet.h"
#include "Sqlite3DB.h"
#include "SqliteImage.h"

namespace
{

constexpr qint64 kUnixTo2001 = 978307200;

const char *const kWords[] = {"ok",    "see",   "you",  "later", "tonight", "thanks", "where", "are",
                              "we",    "going", "call", "me",    "when",    "home",   "great", "idea",
                              "sorry", "late",  "bus",  "train", "coffee",  "lunch",  "meet",  "now"};

QString sentence(QRandomGenerator &random)
{
    const int words = 1 + int(random.bounded(25));
    QString text;
    for (int i = 0; i < words; ++i) {
        if (i)
            text += QLatin1Char(' ');
        text += QLatin1String(kWords[random.bounded(int(sizeof(kWords) / sizeof(kWords[0])))]);
    }
    return text;
}

// Busy conversations get more of the messages.
int pickConversation(QRandomGenerator &random, int count)
{
    return int(qint64(random.bounded(count)) * random.bounded(count) / count);
}

// The rows a user's deletions leave behind: the oldest quarter of them in one
// run (freed whole leaf pages end on the freelist) and the rest scattered
// over the table (freeblocks inside live leaf pages). Row numbers from 1.
std::vector<qint64> rowsToDelete(QRandomGenerator &random, qint64 rows, qint64 count)
{
    count = std::clamp<qint64>(count, 0, rows);
    std::vector<char> chosen(static_cast<size_t>(rows) + 1, 0);
    const qint64 run = count / 4;
    const qint64 runStart = rows / 10 + 1;
    qint64 taken = 0;
    for (qint64 r = runStart; r < runStart + run && r <= rows; ++r, ++taken)
        chosen[r] = 1;
    while (taken < count) {
        const qint64 r = 1 + qint64(random.bounded(quint64(rows)));
        if (!chosen[r]) {
            chosen[r] = 1;
            ++taken;
        }
    }
    std::vector<qint64> out;
    out.reserve(static_cast<size_t>(count));
    for (qint64 r = 1; r <= rows; ++r) {
        if (chosen[r])
            out.push_back(r);
    }
    return out;
}

// Processor time of the whole process, in seconds: on a shared machine wall
// time also counts the waits for other people's work.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString load()
{
    double avg[3] = {0, 0, 0};
    if (getloadavg(avg, 3) != 3)
        return QStringLiteral("load ?");
    return QStringLiteral("load %1 %2 %3").arg(avg[0], 0, 'f', 2).arg(avg[1], 0, 'f', 2).arg(avg[2], 0, 'f', 2);
}

qint64 count(const QString &path, const char *sql)
{
    if (!QFile::exists(path))
        return 0;
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadOnly);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(QString::fromLatin1(sql)));
    return c.moveNext() ? c.getInt64(0) : -1;
}

// The dates of the stored messages that are among those deleted (the dates
// of both generators are unique per message).
qint64 recovered(const QString &recyclePath, const QSet<qint64> &deletedDates)
{
    if (!QFile::exists(recyclePath))
        return 0;
    Sqlite3DB db;
    db.openThrow(recyclePath, Sqlite3DB::ReadOnly);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select distinct date from message"));
    qint64 n = 0;
    while (c.moveNext())
        n += deletedDates.contains(c.getInt64(0)) ? 1 : 0;
    return n;
}

struct Timing
{
    double wall = 0;
    double cpu = 0;
};

template <class Run>
Timing timed(Run run)
{
    QElapsedTimer clock;
    const double cpu = cpuSeconds();
    clock.start();
    run();
    return {clock.nsecsElapsed() / 1e9, cpuSeconds() - cpu};
}

void report(const char *what, const Timing &t, const QString &found)
{
    std::printf("  %-34s %7.3f s, cpu %7.3f s  %s  [%s]\n", what, t.wall, t.cpu, qPrintable(found),
                qPrintable(load()));
}

struct Counts
{
    int messages = 100000;
    int chats = 500;
    int deleteMessages = 20000;
    int deleteHandles = 50;
};

// --- iOS 6 -----------------------------------------------------------------------

// 10% group conversations (iMessage) of 3 to 6 members, a fifth more handles
// than conversations, dates over a few years.
void benchIOS6(const QDir &root, const Counts &n)
{
    QRandomGenerator random(20130301);
    QSet<qint64> deletedDates;
    qint64 pageCount = 0;
    qint64 freePages = 0;
    int handlesDeleted = 0;
    QElapsedTimer clock;
    clock.start();
    {
        IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(root), IOS6SmsDbFixture::Device);
        keepDeletedBytes(sms.db(), 4096);
        sms.begin();
        QList<QList<qint64>> members;
        QList<qint64> chats;
        QList<qint64> handles;
        for (int i = 0; i < n.chats + n.chats / 5; ++i)
            handles.append(sms.addHandle(QStringLiteral("+1555%1").arg(1000000 + i), QStringLiteral("SMS"),
                                         QStringLiteral("us")));
        for (int c = 0; c < n.chats; ++c) {
            QList<qint64> who;
            if (c % 10 == 9) {
                const int size = 3 + int(random.bounded(4));
                while (who.size() < size) {
                    const qint64 h = handles.at(random.bounded(int(handles.size())));
                    if (!who.contains(h))
                        who.append(h);
                }
                chats.append(sms.addChat(QStringLiteral("iMessage;+;chat%1").arg(100000000000000000LL + c),
                                         QStringLiteral("chat%1").arg(100000000000000000LL + c),
                                         QStringLiteral("iMessage"), 43));
            } else {
                who.append(handles.at(c));
                chats.append(sms.addChat(QStringLiteral("SMS;-;+1555%1").arg(1000000 + c),
                                         QStringLiteral("+1555%1").arg(1000000 + c)));
            }
            for (const qint64 h : who)
                sms.joinChatHandle(chats.last(), h);
            members.append(who);
        }

        std::vector<int> dates;
        dates.reserve(static_cast<size_t>(n.messages) + 1);
        dates.push_back(0);
        int date = 380000000;
        for (int i = 0; i < n.messages; ++i) {
            const int c = pickConversation(random, n.chats);
            const QList<qint64> &who = members.at(c);
            const qint64 sender = who.at(random.bounded(int(who.size())));
            date += 1 + int(random.bounded(1800));
            const QString guid = QStringLiteral("%1-0000-4000-8000-%2")
                                     .arg(i, 8, 16, QLatin1Char('0'))
                                     .arg(qint64(i) * 7919, 12, 16, QLatin1Char('0'))
                                     .toUpper();
            const qint64 rowid = sms.addMessage(chats.at(c), sender, guid, sentence(random), date,
                                                int(random.bounded(2)), 0, -1,
                                                who.size() > 1 ? QStringLiteral("iMessage") : QStringLiteral("SMS"));
            if (rowid != qint64(dates.size()))
                throw std::runtime_error("unexpected message rowid");
            dates.push_back(date);
        }
        sms.commit();

        // The phone takes a deleted handle out of its conversations first.
        sms.begin();
        const std::vector<qint64> goneMessages = rowsToDelete(random, n.messages, n.deleteMessages);
        for (const qint64 r : goneMessages) {
            sms.db().executeThrow(Sqlite3Sql("DELETE FROM message WHERE ROWID=?").addInt64Param(r));
            deletedDates.insert(dates[static_cast<size_t>(r)]);
        }
        // In rowid order: a set's order changes from run to run, and with it
        // the bytes the deletions leave.
        std::vector<qint64> goneHandles;
        const size_t handleCount = static_cast<size_t>(std::clamp<qsizetype>(n.deleteHandles, 0, handles.size()));
        while (goneHandles.size() < handleCount) {
            const qint64 h = handles.at(random.bounded(int(handles.size())));
            if (std::find(goneHandles.begin(), goneHandles.end(), h) == goneHandles.end())
                goneHandles.push_back(h);
        }
        std::sort(goneHandles.begin(), goneHandles.end());
        for (const qint64 h : goneHandles) {
            sms.db().executeThrow(Sqlite3Sql("DELETE FROM chat_handle_join WHERE handle_id=?").addInt64Param(h));
            sms.db().executeThrow(Sqlite3Sql("DELETE FROM handle WHERE ROWID=?").addInt64Param(h));
        }
        handlesDeleted = int(goneHandles.size());
        sms.commit();
        Sqlite3Cursor c = sms.db().queryThrow("PRAGMA page_count");
        pageCount = c.moveNext() ? c.getInt64(0) : 0;
        Sqlite3Cursor f = sms.db().queryThrow("PRAGMA freelist_count");
        freePages = f.moveNext() ? f.getInt64(0) : 0;
    }
    std::printf("iOS 6: %d messages in %d conversations, %d messages and %d handles deleted; %lld pages, %lld free "
                "(%.2f s)\n",
                n.messages, n.chats, int(deletedDates.size()), handlesDeleted, qlonglong(pageCount),
                qlonglong(freePages), clock.nsecsElapsed() / 1e9);

    IOS6MessageDb db(root, QString(), false);
    const QString recyclePath = db.recycleDb()->path();
    for (int pass = 1; pass <= 2; ++pass) {
        const Timing h = timed([&] { readRawHandles(db, nullptr); });
        report(pass == 1 ? "handles:" : "handles again:", h,
               QStringLiteral("%1 handles stored").arg(count(recyclePath, "select count(*) from handle")));
        MsgDataSet set = MsgDataSet::create();
        db.chats(set);
        const QList<_MsgChat *> chats = set.chatList();
        const Timing m = timed([&] { readRawMessages(db, chats, nullptr); });
        report(pass == 1 ? "messages:" : "messages again:", m,
               QStringLiteral("%1 messages stored, %2 of the %3 deleted")
                   .arg(count(recyclePath, "select count(*) from message"))
                   .arg(recovered(recyclePath, deletedDates))
                   .arg(deletedDates.size()));
    }
}

// --- iOS 5 -----------------------------------------------------------------------

// 90% SMS conversations (msg_group with one member), 10% iMessage ones,
// half of those group chats with a room name.
void benchIOS5(const QDir &root, const Counts &n)
{
    QRandomGenerator random(20111012);
    QSet<qint64> deletedDates;
    qint64 pageCount = 0;
    qint64 freePages = 0;
    QElapsedTimer clock;
    clock.start();
    {
        IOS5DbFixture sms(root.absolutePath());
        keepDeletedBytes(sms.db(), 4096);
        sms.begin();
        for (int c = 0; c < n.chats; ++c) {
            const QString address = QStringLiteral("+1555%1").arg(1000000 + c);
            if (c % 10 == 9) {
                const QString id =
                    c % 20 == 19 ? QStringLiteral("chat%1").arg(100000000000000000LL + c) : address;
                sms.addMadridChat(c + 1, id, IOS5DbFixture::participants({address}, IOS5DbFixture::Binary),
                                  c % 20 == 19 ? 43 : 45);
            } else {
                sms.addGroup(c + 1, 1000 + c, 0);
                sms.addMember(c + 1, c + 1, address, QStringLiteral("us"));
            }
        }
        std::vector<qint64> dates;
        dates.reserve(static_cast<size_t>(n.messages) + 1);
        dates.push_back(0);
        qint64 date = 1300000000 - kUnixTo2001;
        for (int i = 1; i <= n.messages; ++i) {
            const int c = pickConversation(random, n.chats);
            const QString address = QStringLiteral("+1555%1").arg(1000000 + c);
            date += 1 + qint64(random.bounded(1800));
            if (c % 10 == 9) {
                IOS5DbFixture::IMessage m;
                m.rowid = i;
                m.date = date;
                m.text = sentence(random);
                m.handle = address;
                m.roomName = c % 20 == 19 ? QStringLiteral("chat%1").arg(100000000000000000LL + c) : QString();
                m.guid = QStringLiteral("%1-0000-4000-8000-%2")
                             .arg(i, 8, 16, QLatin1Char('0'))
                             .arg(qint64(i) * 7919, 12, 16, QLatin1Char('0'))
                             .toUpper();
                m.account = QStringLiteral("e:me@example.com");
                m.dateRead = date + 30;
                m.dateDelivered = random.bounded(2) ? date + 5 : 0;
                sms.addIMessage(m);
            } else {
                IOS5DbFixture::Sms s;
                s.rowid = i;
                s.address = address;
                s.date = date + kUnixTo2001;
                s.text = sentence(random);
                s.flags = random.bounded(2) ? 3 : 2;
                s.groupId = c + 1;
                s.country = QStringLiteral("us");
                sms.addSms(s);
            }
            dates.push_back(date);
        }
        sms.commit();

        sms.begin();
        for (const qint64 r : rowsToDelete(random, n.messages, n.deleteMessages)) {
            sms.db().executeThrow(Sqlite3Sql("DELETE FROM message WHERE ROWID=?").addInt64Param(r));
            deletedDates.insert(dates[static_cast<size_t>(r)]);
        }
        sms.commit();
        Sqlite3Cursor c = sms.db().queryThrow("PRAGMA page_count");
        pageCount = c.moveNext() ? c.getInt64(0) : 0;
        Sqlite3Cursor f = sms.db().queryThrow("PRAGMA freelist_count");
        freePages = f.moveNext() ? f.getInt64(0) : 0;
    }
    std::printf("iOS 5: %d messages in %d conversations, %d messages deleted; %lld pages, %lld free (%.2f s)\n",
                n.messages, n.chats, int(deletedDates.size()), qlonglong(pageCount), qlonglong(freePages),
                clock.nsecsElapsed() / 1e9);

    IOS5MessageDb db(root, QString());
    const QString recyclePath = db.recycleDb()->path();
    for (int pass = 1; pass <= 2; ++pass) {
        const Timing m = timed([&] { readRawMessages(db, nullptr); });
        report(pass == 1 ? "messages:" : "messages again:", m,
               QStringLiteral("%1 messages stored, %2 of the %3 deleted")
                   .arg(count(recyclePath, "select count(*) from message"))
                   .arg(recovered(recyclePath, deletedDates))
                   .arg(deletedDates.size()));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir work;
    if (!qEnvironmentVariableIsEmpty("KEEP")) {
        work.setAutoRemove(false);
        std::printf("working folder %s kept\n", qPrintable(work.path()));
    }
    // The country library is installed into the application-data folder under
    // HOME: keep it out of the user's own.
    qputenv("HOME", QFile::encodeName(work.filePath(QStringLiteral("home"))));
    QDir().mkpath(work.filePath(QStringLiteral("home")));
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    Counts n;
    if (args.size() > 1)
        n.messages = std::max(1, args.at(1).toInt());
    if (args.size() > 2)
        n.chats = std::max(1, args.at(2).toInt());
    n.deleteMessages = args.size() > 3 ? args.at(3).toInt() : n.messages / 5;
    n.deleteHandles = args.size() > 4 ? args.at(4).toInt() : n.chats / 10;
    const QByteArray only = qgetenv("ONLY");

    std::printf("%s at the start\n", qPrintable(load()));
    // Once per installation the country library is copied into the
    // application-data folder; every later scan finds it.
    CountryLibDb(QString()).ensureOpen();
    try {
        if (only.isEmpty() || only == "ios6")
            benchIOS6(QDir(work.filePath(QStringLiteral("ios6"))), n);
        if (only.isEmpty() || only == "ios5")
            benchIOS5(QDir(work.filePath(QStringLiteral("ios5"))), n);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_carving: %s\n", e.what());
        return 1;
    }
    return 0;
}
