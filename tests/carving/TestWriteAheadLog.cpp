#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include "ReleaseSmsDbWriter.h"
#include "SqliteImage.h"
#include "WriteAheadLog.h"

namespace
{

using Frame = WriteAheadLog::Frame;

int countIf(const WriteAheadLog &log, bool (*test)(const Frame &))
{
    return static_cast<int>(std::count_if(log.frames().begin(), log.frames().end(), test));
}

// A log the engine wrote: frames of one generation, then, after the log was
// started again, a shorter new generation in front of the old frames.
TEST(WriteAheadLog, ReadsTheEnginesFramesAndTellsTheGenerationsApart)
{
    QTemporaryDir dir;
    ReleaseSmsDbWriter writer(dir.path(), ReleaseSmsDbWriter::IOS51, ReleaseSmsDbWriter::Wal);
    ReleaseSmsDbWriter::Message m;
    for (int n = 1; n <= 20; ++n) {
        m.text = QStringLiteral("text %1").arg(n);
        m.address = QStringLiteral("9876500001");
        m.date = 400000000 + n;
        writer.addMessage(m);
    }
    const QString path = writer.dbPath() + QStringLiteral("-wal");
    const WriteAheadLog first = WriteAheadLog::read(path);
    ASSERT_TRUE(first.valid());
    EXPECT_EQ(first.pageSize(), 4096);
    ASSERT_GT(first.frames().size(), 20);
    // All of them current and committed, each naming a page.
    EXPECT_EQ(countIf(first, [](const Frame &f) { return f.current && f.committed && f.pageNo > 0; }),
              first.frames().size());

    writer.restartLog();
    writer.addMessage(m);
    const WriteAheadLog second = WriteAheadLog::read(path);
    ASSERT_EQ(second.frames().size(), first.frames().size());
    const int fresh = countIf(second, [](const Frame &f) { return f.current; });
    EXPECT_GT(fresh, 0);
    EXPECT_LT(fresh, second.frames().size());
    for (const Frame &f : second.frames()) {
        EXPECT_EQ(f.current, f.salt1 == second.salt1() && f.salt2 == second.salt2());
        if (!f.current) {
            EXPECT_EQ(f.salt1, first.salt1());
        }
    }
    QList<quint32> pageNos;
    const QByteArray images = second.allPageImages(pageNos);
    EXPECT_EQ(pageNos.size(), second.frames().size());
    EXPECT_EQ(images.size(), qint64(pageNos.size()) * 4096);
    EXPECT_EQ(images.left(4096), second.pageImage(second.frames().first()));
}

TEST(WriteAheadLog, AChangedByteEndsTheCurrentFramesButKeepsThePages)
{
    QTemporaryDir dir;
    ReleaseSmsDbWriter writer(dir.path(), ReleaseSmsDbWriter::IOS6, ReleaseSmsDbWriter::Wal);
    QByteArray bytes = readWholeFile(writer.dbPath() + QStringLiteral("-wal"));
    const WriteAheadLog intact = WriteAheadLog::fromBytes(bytes);
    ASSERT_GT(intact.frames().size(), 2);
    // A byte of the second frame's page.
    bytes[32 + (24 + 4096) + 24 + 100] = static_cast<char>(bytes[32 + (24 + 4096) + 24 + 100] ^ 0x55);
    const WriteAheadLog damaged = WriteAheadLog::fromBytes(bytes);
    ASSERT_EQ(damaged.frames().size(), intact.frames().size());
    EXPECT_TRUE(damaged.frames()[0].current);
    for (int i = 1; i < damaged.frames().size(); ++i)
        EXPECT_FALSE(damaged.frames()[i].current) << i;
}

struct BadLog
{
    const char *name;
    QByteArray bytes;
};

TEST(WriteAheadLog, WhatIsNoLogHasNoFrames)
{
    const auto header = [](quint32 magic, quint32 version, quint32 pageSize) {
        QByteArray h(32, '\0');
        const auto put = [&](int at, quint32 v) {
            for (int i = 0; i < 4; ++i)
                h[at + i] = static_cast<char>(v >> (24 - 8 * i));
        };
        put(0, magic);
        put(4, version);
        put(8, pageSize);
        return h;
    };
    const BadLog cases[] = {
        {"empty", QByteArray()},
        {"short", QByteArray(31, '\0')},
        {"wrong_magic", header(0x377f0684, 3007000, 4096)},
        {"wrong_version", header(0x377f0682, 3007001, 4096)},
        {"page_size_not_a_power_of_two", header(0x377f0682, 3007000, 4095)},
        {"page_size_too_large", header(0x377f0683, 3007000, 131072)},
    };
    for (const BadLog &c : cases) {
        const WriteAheadLog log = WriteAheadLog::fromBytes(c.bytes);
        EXPECT_FALSE(log.valid()) << c.name;
        EXPECT_TRUE(log.frames().isEmpty()) << c.name;
    }
    // A header with a part of a frame behind it: no frame.
    const WriteAheadLog partial = WriteAheadLog::fromBytes(header(0x377f0682, 3007000, 512) + QByteArray(500, 'x'));
    EXPECT_TRUE(partial.valid());
    EXPECT_TRUE(partial.frames().isEmpty());
    EXPECT_FALSE(WriteAheadLog::read(QStringLiteral("/nonexistent/sms.db-wal")).valid());
}

} // namespace
