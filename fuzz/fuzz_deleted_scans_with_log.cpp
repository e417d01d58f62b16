// Both deleted-record scans on an sms.db together with its write-ahead log:
// the input is a 4-byte big-endian length n, then n bytes of sms.db, then
// the bytes of sms.db-wal. Each scan runs twice on the same files. Beyond
// the sanitizers it checks that the scans change neither file (no
// checkpoint, nothing written) and that a second run stores nothing new.

#include <QDir>
#include <QFile>

#include <stdexcept>

#include "FuzzMessages.h"
#include "IOS5DeletedMessageScan.h"
#include "IOS5MessageDb.h"
#include "IOS6DeletedRecordScan.h"
#include "IOS6MessageDb.h"
#include "MessageRecycleDb.h"

namespace
{

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What the recycle database holds, read as the program reads it, without
// opening the sms.db (the message database's own readers open it with the
// engine, whose last connection checkpoints the log into it).
qsizetype recycledCount(MessageRecycleDb &recycle)
{
    MsgDataSet set = MsgDataSet::create();
    MessageRecycleDb::loadInto(set, recycle.readMessages());
    fuzzReadMessageSet(set);
    return set.data()->messages.size();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const size_t dbSize = std::min<size_t>(size - 4, (size_t(data[0]) << 24) | (size_t(data[1]) << 16)
                                                         | (size_t(data[2]) << 8) | size_t(data[3]));
    const QDir folder = fuzzSourceWithSmsDb(data + 4, dbSize);
    const QString smsDb = folder.filePath(QLatin1String(kCachedSmsDbPath));
    fuzzWriteFile(smsDb + QStringLiteral("-wal"), fuzzBytes(data + 4 + dbSize, size - 4 - dbSize));
    const QByteArray dbBefore = readAll(smsDb);
    const QByteArray logBefore = readAll(smsDb + QStringLiteral("-wal"));

    qsizetype stored[2] = {0, 0};
    for (int run = 0; run < 2; ++run) {
        try {
            IOS5MessageDb five(folder, QString());
            readRawMessages(five, nullptr);
            (void)recycledCount(*five.recycleDb());
        } catch (const std::runtime_error &e) {
            FUZZ_CHECK(run == 0, QStringLiteral("an iOS 5 scan that ran once fails the second time: ")
                                     + QString::fromUtf8(e.what()));
            return 0;
        }
        FUZZ_CHECK(readAll(smsDb) == dbBefore, QStringLiteral("the iOS 5 scan changed the database"));
        FUZZ_CHECK(readAll(smsDb + QStringLiteral("-wal")) == logBefore, QStringLiteral("the iOS 5 scan changed the log"));
        try {
            IOS6MessageDb six(folder, QString(), false);
            readRawHandles(six, nullptr);
            readRawMessages(six, {}, nullptr);
            // Both scans fill the one recycle database of the folder: what
            // counts is what it holds after both.
            stored[run] = recycledCount(*six.recycleDb());
        } catch (const std::runtime_error &e) {
            FUZZ_CHECK(run == 0, QStringLiteral("an iOS 6 scan that ran once fails the second time: ")
                                     + QString::fromUtf8(e.what()));
            return 0;
        }
        FUZZ_CHECK(readAll(smsDb) == dbBefore, QStringLiteral("the iOS 6 scan changed the database"));
        FUZZ_CHECK(readAll(smsDb + QStringLiteral("-wal")) == logBefore, QStringLiteral("the iOS 6 scan changed the log"));
    }
    FUZZ_CHECK(stored[0] == stored[1], QStringLiteral("a second scan stored more"));
    return 0;
}
