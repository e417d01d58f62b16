#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <stdexcept>

#include "ExportFileReader.h"
#include "ExportSMSPdf.h"
#include "MsgSetBuilder.h"
#include "PdfPages.h"
#include "WrappedText.h"

namespace
{

bool isCompletePdf(const QByteArray &pdf)
{
    return pdf.startsWith("%PDF-") && pdf.trimmed().endsWith("%%EOF");
}

void exportPdf(const QString &path, const QList<const _MsgMessage *> &messages)
{
    ExportSMSPdf pdf(path);
    pdf.begin();
    for (const _MsgMessage *m : messages)
        pdf.write(m);
    pdf.end();
}

TEST(ExportSMSPdfTest, EmptyExportIsOneA4Page)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("empty.pdf");
    exportPdf(path, {});
    const QByteArray pdf = readExportedFile(path);
    EXPECT_TRUE(isCompletePdf(pdf));
    EXPECT_EQ(pdfPages(pdf), 1);
    // A4 portrait in whole points.
    static const QRegularExpression box(QStringLiteral("/MediaBox \\[0 0 595(\\.0*)? 842(\\.0*)?\\]"));
    EXPECT_TRUE(box.match(QString::fromLatin1(pdf)).hasMatch());
}

TEST(ExportSMSPdfTest, PageBreaksFollowTextHeight)
{
    const QString text = QStringLiteral("a\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl\nm\nn\no\np\nq\nr\ns");
    const int line = textHeight(QStringLiteral("x"), 699);
    ASSERT_EQ(textHeight(text, 699), 19 * line);
    // Each message: date and header of one line, 19 text lines.
    const int need = 21 * line + 10;
    const int advance = 21 * line + 40;
    int perPage = 0;
    for (int y = 20; y + need <= 1029; y += advance)
        ++perPage;
    ASSERT_GE(perPage, 1);

    struct Case
    {
        int messages;
        int pages;
    };
    const QList<Case> cases = {{1, 1}, {perPage, 1}, {perPage + 1, 2}, {3 * perPage, 3}, {3 * perPage + 1, 4}};
    for (const Case &c : cases) {
        MsgSetBuilder b;
        QList<const _MsgMessage *> messages;
        for (int i = 0; i < c.messages; ++i)
            messages.append(b.message(nullptr, i + 1, 0, text));
        QTemporaryDir dir;
        const QString path = dir.filePath("p.pdf");
        exportPdf(path, messages);
        const QByteArray pdf = readExportedFile(path);
        EXPECT_TRUE(isCompletePdf(pdf)) << c.messages;
        EXPECT_EQ(pdfPages(pdf), c.pages) << c.messages << " messages, " << perPage << " a page";
    }
}

TEST(ExportSMSPdfTest, WritesFromAWorkerThread)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("thread.pdf");
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, "+15550001");
    b.handle(chat, 10, "+15550001", "Ann");
    const _MsgMessage *m = b.message(chat, 1, 400000000, "hello from a worker");
    QString error;
    QThread *worker = QThread::create([&] {
        try {
            exportPdf(path, {m});
        } catch (const std::exception &e) {
            error = QString::fromUtf8(e.what());
        }
    });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_EQ(error, QString());
    const QByteArray pdf = readExportedFile(path);
    EXPECT_TRUE(isCompletePdf(pdf));
    EXPECT_EQ(pdfPages(pdf), 1);
}

TEST(ExportSMSPdfTest, UnwritablePathFailsAtBegin)
{
    const QString path = unwritableExportPath("x.pdf");
    ExportSMSPdf pdf(path);
    EXPECT_THROW(pdf.begin(), std::runtime_error);
    EXPECT_THROW(pdf.end(), std::runtime_error);
    EXPECT_FALSE(QFile::exists(path));
}

TEST(ExportSMSPdfTest, FullDiskIsAnError)
{
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    MsgSetBuilder b;
    _MsgMessage *m = b.message(nullptr, 1, 0, "text");
    ExportSMSPdf pdf("/dev/full");
    EXPECT_THROW(
        {
            pdf.begin();
            pdf.write(m);
            pdf.end();
        },
        std::runtime_error);
}

TEST(ExportSMSPdfTest, DestroyedUnendedStillClosesTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("dropped.pdf");
    {
        MsgSetBuilder b;
        ExportSMSPdf pdf(path);
        pdf.begin();
        pdf.write(b.message(nullptr, 1, 0, "x"));
    }
    EXPECT_TRUE(isCompletePdf(readExportedFile(path)));
}

} // namespace
