#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PrivateFiles.h"
#include "WholeFileCopy.h"

namespace
{

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Bytes that differ from one position to the next, so a chunk written twice
// or skipped shows.
QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 251) & 0xFF);
    return bytes;
}

TEST(WholeFileCopyTest, CopiesEveryByteOfFilesOfAnySize)
{
    QTemporaryDir dir;
    // Empty, one byte, around the 64 KiB buffer, and several mebibytes.
    const qsizetype sizes[] = {0, 1, 65535, 65536, 65537, 3 * 1024 * 1024 + 17};
    for (const qsizetype size : sizes) {
        SCOPED_TRACE(size);
        const QString from = dir.filePath(QStringLiteral("from-%1").arg(size));
        const QString to = dir.filePath(QStringLiteral("to-%1").arg(size));
        const QByteArray bytes = pattern(size);
        writeFile(from, bytes);
        ASSERT_TRUE(copyWholeFile(from, to));
        EXPECT_EQ(readFile(to), bytes);
        EXPECT_EQ(readFile(from), bytes);
    }
}

TEST(WholeFileCopyTest, TheCopyHasTheModeOfItsSource)
{
    // A private file stays private in its copy, whatever the umask allows.
    QTemporaryDir dir;
    for (const int mode : {0600, 0640, 0644}) {
        SCOPED_TRACE(mode);
        const QString from = dir.filePath(QStringLiteral("from-%1").arg(mode));
        const QString to = dir.filePath(QStringLiteral("to-%1").arg(mode));
        writeFile(from, "bytes");
        ASSERT_EQ(::chmod(QFile::encodeName(from).constData(), mode_t(mode)), 0);
        ASSERT_EQ(permissionBits(from), mode);
        ASSERT_TRUE(copyWholeFile(from, to));
        EXPECT_EQ(permissionBits(to), mode);
    }
}

TEST(WholeFileCopyTest, RefusesAnExistingTargetAndAMissingSource)
{
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from"));
    const QString to = dir.filePath(QStringLiteral("to"));
    writeFile(from, "new bytes");
    writeFile(to, "kept");

    EXPECT_FALSE(copyWholeFile(from, to));
    EXPECT_EQ(readFile(to), QByteArray("kept"));

    const QString fresh = dir.filePath(QStringLiteral("fresh"));
    EXPECT_FALSE(copyWholeFile(dir.filePath(QStringLiteral("missing")), fresh));
    EXPECT_FALSE(QFile::exists(fresh));

    EXPECT_FALSE(copyWholeFile(from, dir.filePath(QStringLiteral("no-folder/to"))));
}

TEST(WholeFileCopyTest, CopyBytesStartsWhereEachFileStandsAndReadsPipesToo)
{
    QTemporaryDir dir;
    const QByteArray bytes = pattern(200000);
    const QString from = dir.filePath(QStringLiteral("from"));
    writeFile(from, bytes);

    // From a regular file, read and written from where each stands.
    {
        const QString to = dir.filePath(QStringLiteral("tail"));
        writeFile(to, "head:");
        const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
        const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(in, 0);
        ASSERT_GE(out, 0);
        ASSERT_EQ(::lseek(in, 1000, SEEK_SET), 1000);
        ASSERT_EQ(::lseek(out, 0, SEEK_END), 5);
        EXPECT_TRUE(copyBytes(in, out));
        ::close(in);
        ::close(out);
        EXPECT_EQ(readFile(to), QByteArray("head:") + bytes.mid(1000));
    }

    // From a pipe, which the kernel cannot copy in place: the buffered road.
    {
        const QString to = dir.filePath(QStringLiteral("piped"));
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const QByteArray small = bytes.left(4096);
        ASSERT_EQ(::write(fds[1], small.constData(), size_t(small.size())), small.size());
        ::close(fds[1]);
        const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        ASSERT_GE(out, 0);
        EXPECT_TRUE(copyBytes(fds[0], out));
        ::close(fds[0]);
        ::close(out);
        EXPECT_EQ(readFile(to), small);
    }

    // Into a descriptor open only for reading: a write error, reported.
    {
        const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
        const int out = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(in, 0);
        ASSERT_GE(out, 0);
        EXPECT_FALSE(copyBytes(in, out));
        ::close(in);
        ::close(out);
        EXPECT_EQ(readFile(from), bytes);
    }
}

} // namespace
