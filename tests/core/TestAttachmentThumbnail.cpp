#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "AttachmentThumbnail.h"

namespace
{

class AttachmentThumbnailTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;

    QString writeImage(const QString &name, int w, int h, const char *format)
    {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(Qt::darkCyan);
        const QString path = dir.filePath(name);
        EXPECT_TRUE(img.save(path, format));
        return path;
    }
};

TEST_F(AttachmentThumbnailTest, ScalesTheLongerSideTo120InTheFormatItWasReadIn)
{
    struct Case
    {
        const char *name;
        int w, h;
        const char *writtenAs;
        int thumbW, thumbH;
        const char *thumbFormat;
    };
    const Case cases[] = {
        {"wide.png", 300, 200, "PNG", 120, 80, "png"},
        {"tall.jpg", 200, 300, "JPEG", 80, 120, "jpeg"},
        {"square.png", 50, 50, "PNG", 120, 120, "png"},
        // The name says nothing; the loader tries JPEG, then PNG.
        {"looks-like.jpg", 240, 60, "PNG", 120, 30, "png"},
        {"no-suffix", 90, 900, "JPEG", 12, 120, "jpeg"},
    };
    for (const Case &c : cases) {
        _MsgAttachment a;
        a._local_path = writeImage(QString::fromLatin1(c.name), c.w, c.h, c.writtenAs);
        const QString thumb = attachmentThumbnail(&a);
        EXPECT_EQ(QFileInfo(thumb).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath()) << c.name;
        EXPECT_TRUE(thumb.endsWith(QLatin1String(".thumb"))) << c.name;
        QImageReader reader(thumb);
        EXPECT_EQ(reader.format(), QByteArray(c.thumbFormat)) << c.name;
        const QImage img = reader.read();
        EXPECT_EQ(img.size(), QSize(c.thumbW, c.thumbH)) << c.name;
    }
}

TEST_F(AttachmentThumbnailTest, NameIsTheMd5OfTheLocalPath)
{
    struct Case
    {
        const char *localPath;
        const char *name;
    };
    const Case cases[] = {
        {"/nonexistent/file.jpg", "84ec30999705e4aa0241e7f6ab255dbb.thumb"},
        {"", "d41d8cd98f00b204e9800998ecf8427e.thumb"},
    };
    for (const Case &c : cases) {
        _MsgAttachment a;
        a._local_path = QString::fromLatin1(c.localPath);
        const QString thumb = attachmentThumbnail(&a);
        EXPECT_EQ(thumb, QDir(QDir::tempPath()).filePath(QString::fromLatin1(c.name)));
        // Nothing could be read, so nothing was written.
        EXPECT_FALSE(QFile::exists(thumb));
    }
    EXPECT_EQ(attachmentThumbnail(nullptr), QString());
}

TEST_F(AttachmentThumbnailTest, NoImageGivesThePathButNoFile)
{
    _MsgAttachment a;
    a._local_path = dir.filePath(QStringLiteral("note.jpg"));
    QFile f(a._local_path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a picture at all");
    f.close();
    const QString thumb = attachmentThumbnail(&a);
    EXPECT_FALSE(thumb.isEmpty());
    EXPECT_FALSE(QFile::exists(thumb));
}

TEST_F(AttachmentThumbnailTest, SecondCallReusesTheStoredThumbnail)
{
    _MsgAttachment a;
    a._local_path = writeImage(QStringLiteral("p.png"), 300, 200, "PNG");
    const QString thumb = attachmentThumbnail(&a);
    ASSERT_TRUE(QFile::exists(thumb));
    // The source is gone and the stored thumbnail replaced by a marker: a
    // second call must neither load the image nor write the file again.
    ASSERT_TRUE(QFile::remove(a._local_path));
    QFile t(thumb);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly | QIODevice::Truncate));
    t.write("marker");
    t.close();
    EXPECT_EQ(attachmentThumbnail(&a), thumb);
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    EXPECT_EQ(t.readAll(), QByteArray("marker"));
}

} // namespace
