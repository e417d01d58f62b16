#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include "LiveCopy.h"
#include "ReleaseSmsDbWriter.h"
#include "Sqlite3DB.h"

namespace
{

using Writer = ReleaseSmsDbWriter;

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int messageCount(Sqlite3DB &db)
{
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select count(*) as n from message"));
    return c.moveNext() ? c.getInt(QStringLiteral("n")) : -1;
}

struct CopyCase
{
    const char *name;
    Writer::Release release;
    Writer::Mode mode;
    // Whether the bytes are taken while the writer still has its log (the
    // newest messages stand only there), or after it closed.
    bool whileLogged;
};

class LiveCopyReading : public ::testing::TestWithParam<CopyCase>
{
};

// The engine reads through the copy what it would read from the file and
// its log, and the bytes handed to it stay as they were.
TEST_P(LiveCopyReading, GivesTheEnginesLiveRowsAndLeavesTheBytes)
{
    const CopyCase &k = GetParam();
    QTemporaryDir dir;
    QByteArray file;
    QByteArray log;
    constexpr int kMessages = 30;
    auto writer = std::make_unique<Writer>(dir.path(), k.release, k.mode);
    const QString path = writer->dbPath();
    Writer::Message m;
    m.address = QStringLiteral("+15555550123");
    for (int n = 1; n <= kMessages; ++n) {
        m.text = QStringLiteral("message %1").arg(n);
        m.date = 400000000 + n;
        m.guid = QStringLiteral("0A1B2C3D-0000-4000-8000-%1").arg(n, 12, 10, QLatin1Char('0'));
        writer->addMessage(m);
    }
    if (k.whileLogged) {
        log = readAll(path + QStringLiteral("-wal"));
        ASSERT_FALSE(log.isEmpty());
    } else {
        // Closing writes a log back into the file and removes it.
        writer.reset();
    }
    file = readAll(path);
    ASSERT_FALSE(file.isEmpty());
    const QByteArray before = file;
    {
        LiveCopy copy(reinterpret_cast<const uchar *>(file.constData()), file.size(), log);
        EXPECT_EQ(messageCount(copy.db()), kMessages);
    }
    EXPECT_EQ(file, before);
}

INSTANTIATE_TEST_SUITE_P(
    EachFileMode, LiveCopyReading,
    ::testing::Values(CopyCase{"iOS5JournalFile", Writer::IOS51, Writer::Journal, false},
                      CopyCase{"iOS6JournalFile", Writer::IOS6, Writer::Journal, false},
                      CopyCase{"iOS6FileWithItsLog", Writer::IOS6, Writer::Wal, true},
                      CopyCase{"iOS6LogModeFileWithoutLog", Writer::IOS6, Writer::Wal, false}),
    [](const ::testing::TestParamInfo<CopyCase> &info) { return std::string(info.param.name); });

} // namespace
