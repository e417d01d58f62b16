// Figures of the deleted-message scans on generated sms.db files of each
// release (iOS 5.0, 5.1, 6 and the later 51-column one), in journal and in
// write-ahead-log mode, written from the releases' own CREATE statements the
// way the phone writes them (ReleaseSmsDbWriter). A part of the messages is
// deleted: an early run of them (whole leaf pages end on the freelist) and
// the rest scattered (freeblocks); on iOS 6 also a few whole conversations,
// handle included. Log mode keeps the engine's automatic checkpoints, so the
// log holds frames of older generations too.
//
// For each file: the deleted messages whose text still stands in the files
// (sms.db and sms.db-wal as the scan finds them), how many of them the scan
// stored exactly (text, date, direction, service, conversation and
// address), how many only without their address, how many stored rows
// are no deleted message at all (wrong rows), and on iOS 6 how many stored
// rows are freed copies of live messages, which the readers leave out; the
// scan's wall and processor time.
//
// With RECOVER_SHELL naming an sqlite3 shell (bench/build-recover-shell.sh
// builds the one of the installed version from Debian's source, with its
// page table), SQLite's own ".recover" runs on a copy of the same files
// (sms.db and sms.db-wal) into a new database, and the same figures are
// given for it: deleted messages it holds (in its message table or in
// lost_and_found) with their text, date and direction exactly, rows it
// holds that are no message at all (wrong), and its seconds.
//
//   bench_carving [messages] [conversations] [messages to delete]
//
// Defaults: 100000 messages in 500 conversations, a fifth deleted. ONLY set
// to a release (ios5_0, ios5_1, ios6, later), optionally with _journal or
// _wal, limits the runs; with KEEP set the working folder is kept, with a
// copy of the files as the scan found them (scanned.db and its -wal).

#include <QCoreApplication>
#include <QProcess>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchCommon.h"
#include "CountryLibDb.h"
#include "IOS5DeletedMessageScan.h"
#include "IOS5MessageDb.h"
#include "IOS6DeletedRecordScan.h"
#include "IOS6MessageDb.h"
#include "MsgDataSet.h"
#include "ReleaseSmsDbWriter.h"
#include "Sqlite3DB.h"

namespace
{

using bench::cpuSeconds;
using bench::sentence;

using Writer = ReleaseSmsDbWriter;

int pickConversation(QRandomGenerator &random, int count)
{
    return int(qint64(random.bounded(count)) * random.bounded(count) / count);
}

struct Counts
{
    int messages = 100000;
    int chats = 500;
    int deleteMessages = 20000;
};

struct Expect
{
    QString text;
    qint64 date = 0;
    int fromMe = 0;
    QString service;
    QString address;
};

// The messages' numbers whose text marker ("#n#" at the end) stands in the
// bytes.
void markersIn(const QByteArray &bytes, QSet<int> &found)
{
    const char *p = bytes.constData();
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i + 2 < n; ++i) {
        if (p[i] != '#' || p[i + 1] < '0' || p[i + 1] > '9')
            continue;
        qsizetype j = i + 1;
        int v = 0;
        while (j < n && j - i < 8 && p[j] >= '0' && p[j] <= '9')
            v = v * 10 + (p[j++] - '0');
        if (j < n && p[j] == '#')
            found.insert(v);
    }
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What .recover made of the files: rows of its message table and of
// lost_and_found that carry a message's marker, against the messages.
struct RecoverFigures
{
    int exact = 0;
    int wrong = 0;
    double seconds = 0;
    bool ran = false;
};

RecoverFigures runRecover(const QString &shell, const QString &dbPath, bool ios5, const QHash<int, Expect> &deleted,
                          const QHash<int, Expect> &live, const QSet<int> &present)
{
    RecoverFigures out;
    if (shell.isEmpty())
        return out;
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("sms.db"));
    QFile::copy(dbPath, copy);
    QFile::copy(dbPath + QStringLiteral("-wal"), copy + QStringLiteral("-wal"));
    const QString recovered = dir.filePath(QStringLiteral("recovered.db"));
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("\"$0\" \"$1\" .recover | \"$0\" \"$2\""),
                                   shell, copy, recovered});
    p.waitForFinished(-1);
    out.seconds = clock.nsecsElapsed() / 1e9;
    out.ran = p.exitCode() == 0;
    Sqlite3DB db;
    db.openThrow(recovered, Sqlite3DB::ReadOnly);
    // Column places: iOS 5 text 3, date 2 (from 1970 for SMS), flags 4;
    // iOS 6 text 2, date 15, is_from_me 21.
    const int textAt = ios5 ? 3 : 2, dateAt = ios5 ? 2 : 15, meAt = ios5 ? 4 : 21;
    QSet<int> seen;
    const auto judge = [&](const QString &text, qint64 date, qint64 me) {
        QSet<int> markers;
        markersIn(text.toUtf8(), markers);
        if (markers.size() != 1)
            return;
        const int i = *markers.begin();
        const bool isDeleted = deleted.contains(i);
        const Expect e = isDeleted ? deleted.value(i) : live.value(i);
        const qint64 wantDate = ios5 && e.service == QLatin1String("SMS") ? e.date + 978307200 : e.date;
        const int fromMe = ios5 ? ((me & 1) ? 1 : 0) : int(me);
        const bool fits = e.text == text && wantDate == date && (ios5 && e.service == QLatin1String("iMessage") ? true : e.fromMe == fromMe);
        if (!fits) {
            ++out.wrong;
            return;
        }
        if (isDeleted && present.contains(i) && !seen.contains(i)) {
            seen.insert(i);
            ++out.exact;
        }
    };
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select * from message"));
        while (c.moveNext())
            judge(c.getText(textAt), c.getInt64(dateAt), c.getInt64(meAt));
    }
    Sqlite3Cursor t = db.queryThrow(Sqlite3Sql("select name from sqlite_master where name='lost_and_found'"));
    if (t.moveNext()) {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(QStringLiteral("select * from lost_and_found where nfield > %1")
                                                       .arg(meAt)));
        // lost_and_found: rootpgno, pgno, nfield, id, then c0 (the rowid's
        // NULL), c1, ...
        while (c.moveNext())
            judge(c.getText(4 + textAt), c.getInt64(4 + dateAt), c.getInt64(4 + meAt));
    }
    return out;
}

void run(const QDir &root, Writer::Release release, Writer::Mode mode, const Counts &n)
{
    QRandomGenerator random(20120307);
    QElapsedTimer clock;
    clock.start();
    const bool ios5 = release == Writer::IOS50 || release == Writer::IOS51;
    QHash<int, Expect> deleted;
    QHash<int, Expect> liveMessages;
    int wholeConversations = 0;
    {
        Writer w(root.absolutePath(), release, mode);
        std::vector<Writer::Message> all;
        all.reserve(static_cast<size_t>(n.messages) + 1);
        all.emplace_back();
        // A phone writes message by message; batches of 50 keep the log's
        // frames many without taking minutes.
        for (int i = 1; i <= n.messages; ++i) {
            if ((i - 1) % 50 == 0)
                w.beginBatch();
            const int c = pickConversation(random, n.chats);
            Writer::Message m;
            m.iMessage = c % 10 == 9;
            m.address = m.iMessage ? QStringLiteral("friend%1@example.com").arg(c)
                                   : (ios5 ? QString() : QStringLiteral("+91")) + QStringLiteral("98%1").arg(10000000 + c);
            m.date = 350000000 + qint64(i) * 600 + random.bounded(500);
            m.fromMe = random.bounded(2) == 0;
            m.text = sentence(random) + QStringLiteral(" #%1#").arg(i);
            m.guid = QStringLiteral("%1-0000-4000-8000-%2")
                         .arg(i, 8, 16, QLatin1Char('0'))
                         .arg(qint64(i) * 7919, 12, 16, QLatin1Char('0'))
                         .toUpper();
            m.rowid = i;
            w.addMessage(m);
            all.push_back(m);
            if (i % 50 == 0 || i == n.messages)
                w.endBatch();
        }
        const auto expectation = [&](int i) {
            const Writer::Message &m = all[static_cast<size_t>(i)];
            const QString address = m.iMessage ? m.address : QStringLiteral("+9198%1").arg(m.address.right(8));
            return Expect{m.text, m.date, m.fromMe ? 1 : 0, m.iMessage ? "iMessage" : "SMS", address};
        };
        const auto expect = [&](int i) { deleted.insert(i, expectation(i)); };
        // An early run, then scattered ones, each deletion on its own as the
        // user makes them.
        const int count = std::clamp(n.deleteMessages, 0, n.messages);
        std::vector<char> chosen(static_cast<size_t>(n.messages) + 1, 0);
        int taken = 0;
        for (int r = n.messages / 10 + 1; taken < count / 4 && r <= n.messages; ++r, ++taken)
            chosen[static_cast<size_t>(r)] = 1;
        while (taken < count) {
            const int r = 1 + int(random.bounded(n.messages));
            if (!chosen[static_cast<size_t>(r)]) {
                chosen[static_cast<size_t>(r)] = 1;
                ++taken;
            }
        }
        int inBatch = 0;
        for (int r = 1; r <= n.messages; ++r) {
            if (!chosen[static_cast<size_t>(r)])
                continue;
            if (inBatch == 0)
                w.beginBatch();
            w.deleteMessage(r);
            expect(r);
            if (++inBatch == 20) {
                w.endBatch();
                inBatch = 0;
            }
        }
        if (inBatch)
            w.endBatch();
        // Whole conversations (iOS 6): messages, joins and handle.
        if (!ios5) {
            for (int c = 3; c < n.chats; c += 50) {
                const bool iMessage = c % 10 == 9;
                const QString address = iMessage ? QStringLiteral("friend%1@example.com").arg(c)
                                                 : QStringLiteral("+9198%1").arg(10000000 + c);
                for (int i = 1; i <= n.messages; ++i) {
                    const Writer::Message &m = all[static_cast<size_t>(i)];
                    if (!chosen[static_cast<size_t>(i)] && m.address == address)
                        expect(i);
                }
                w.deleteConversation(address, iMessage);
                ++wholeConversations;
            }
        }
        // The files as the phone leaves them: the writer's connection is
        // still open, so the log is still there for the scan.
        QSet<int> present;
        markersIn(fileBytes(w.dbPath()), present);
        markersIn(fileBytes(w.dbPath() + QStringLiteral("-wal")), present);
        for (int i = 1; i <= n.messages; ++i) {
            if (!deleted.contains(i))
                liveMessages.insert(i, expectation(i));
        }
        QHash<int, Expect> stillThere;
        for (auto it = deleted.constBegin(); it != deleted.constEnd(); ++it) {
            if (present.contains(it.key()))
                stillThere.insert(it.key(), it.value());
        }
        const qint64 walSize = QFileInfo(w.dbPath() + QStringLiteral("-wal")).size();
        const double made = clock.nsecsElapsed() / 1e9;

        // With KEEP, the files as the scan finds them (the writer removes the
        // log when it closes).
        if (!qEnvironmentVariableIsEmpty("KEEP")) {
            QFile::copy(w.dbPath(), root.filePath(QStringLiteral("scanned.db")));
            QFile::copy(w.dbPath() + QStringLiteral("-wal"), root.filePath(QStringLiteral("scanned.db-wal")));
        }

        // The scan.
        const QString recyclePath = root.filePath(QStringLiteral("recycle.db"));
        QElapsedTimer scanClock;
        const double cpu0 = cpuSeconds();
        scanClock.start();
        if (ios5) {
            IOS5MessageDb db(root, QStringLiteral("404"));
            readRawMessages(db, nullptr);
        } else {
            IOS6MessageDb db(root, QStringLiteral("404"), false);
            readRawHandles(db, nullptr);
            MsgDataSet set = MsgDataSet::create();
            db.chats(set);
            readRawMessages(db, set.chatList(), nullptr);
        }
        const double wall = scanClock.nsecsElapsed() / 1e9;
        const double cpu = cpuSeconds() - cpu0;

        // What was stored, against what was deleted.
        QHash<QString, int> byText;
        for (auto it = deleted.constBegin(); it != deleted.constEnd(); ++it)
            byText.insert(it.value().text, it.key());
        // iOS 6 readers leave out recycled messages whose guid the live
        // table still has (freed copies of live leaf pages): those are shown
        // nowhere.
        QSet<QString> liveGuids;
        if (!ios5) {
            Sqlite3Cursor g = w.db().queryThrow(Sqlite3Sql("select guid from message"));
            while (g.moveNext())
                liveGuids.insert(g.getText(QStringLiteral("guid")));
        }
        Sqlite3DB recycle;
        recycle.openThrow(recyclePath, Sqlite3DB::ReadOnly);
        Sqlite3Cursor c = recycle.queryThrow(
            Sqlite3Sql("select guid, text, date, is_from_me, service, chat_identifier, handle from message"));
        int stored = 0, exact = 0, noAddress = 0, wrong = 0, twice = 0, hidden = 0;
        QSet<int> seen;
        while (c.moveNext()) {
            ++stored;
            if (liveGuids.contains(c.getText(QStringLiteral("guid")))) {
                ++hidden;
                continue;
            }
            const auto it = byText.constFind(c.getText(QStringLiteral("text")));
            const Expect *e = it == byText.constEnd() ? nullptr : &deleted[*it];
            if (!e || e->date != c.getInt64(QStringLiteral("date")) || e->fromMe != c.getInt(QStringLiteral("is_from_me"))
                || e->service != c.getText(QStringLiteral("service"))) {
                ++wrong;
                continue;
            }
            if (seen.contains(*it)) {
                ++twice;
                continue;
            }
            seen.insert(*it);
            if (c.getText(QStringLiteral("chat_identifier")) == e->address && c.getText(QStringLiteral("handle")) == e->address)
                ++exact;
            else
                ++noAddress;
        }
        int recoveredPresent = 0;
        for (const int i : seen)
            recoveredPresent += stillThere.contains(i) ? 1 : 0;
        if (!qEnvironmentVariableIsEmpty("DETAIL")) {
            QList<int> missed;
            for (auto it = stillThere.constBegin(); it != stillThere.constEnd(); ++it) {
                if (!seen.contains(it.key()))
                    missed.append(it.key());
            }
            std::sort(missed.begin(), missed.end());
            for (const int i : missed.mid(0, 20))
                std::printf("  present, not stored: #%d# %s\n", i, qPrintable(deleted[i].text));
        }
        QSet<int> presentSet;
        for (auto it = stillThere.constBegin(); it != stillThere.constEnd(); ++it)
            presentSet.insert(it.key());
        const RecoverFigures rec = runRecover(QString::fromLocal8Bit(qgetenv("RECOVER_SHELL")), w.dbPath(), ios5,
                                              deleted, liveMessages, presentSet);
        std::printf("%-13s %-7s | deleted %6d present %6d | exact %6d no-address %5d wrong %4d twice %3d live-hidden %3d | "
                    "present not stored %5d | scan %6.3f s cpu %6.3f s | wal %5.1f MB, %d whole convs, made in %.1f s\n",
                    qPrintable(Writer::releaseName(release)), qPrintable(Writer::modeName(mode)),
                    int(deleted.size()), int(stillThere.size()), exact, noAddress, wrong, twice, hidden,
                    int(stillThere.size()) - recoveredPresent, wall, cpu, walSize / 1e6, wholeConversations, made);
        if (rec.ran || rec.seconds > 0)
            std::printf("%-13s %-7s | .recover: exact %6d wrong %4d | %6.3f s%s\n",
                        qPrintable(Writer::releaseName(release)), qPrintable(Writer::modeName(mode)), rec.exact,
                        rec.wrong, rec.seconds, rec.ran ? "" : " (shell failed)");
        std::fflush(stdout);
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
    const QString only = QString::fromLocal8Bit(qgetenv("ONLY"));

    CountryLibDb(QString()).ensureOpen();
    const char *names[] = {"ios5_0", "ios5_1", "ios6", "later"};
    try {
        for (const Writer::Release r : {Writer::IOS50, Writer::IOS51, Writer::IOS6, Writer::Later}) {
            for (const Writer::Mode m : {Writer::Journal, Writer::Wal}) {
                const QString name = QString::fromLatin1(names[r]) + (m == Writer::Wal ? "_wal" : "_journal");
                if (!only.isEmpty() && !name.startsWith(only))
                    continue;
                run(QDir(work.filePath(name)), r, m, n);
            }
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_carving: %s\n", e.what());
        return 1;
    }
    return 0;
}
