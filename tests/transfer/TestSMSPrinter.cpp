#include <QCoreApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include "ExportFileReader.h"
#include "ExportSMSPdf.h"
#include "MsgSetBuilder.h"
#include "PdfPages.h"
#include "SMSPrinter.h"
#include "WrappedText.h"

namespace
{

// Installs a preview runner for the life of the object.
class PreviewRunnerScope
{
public:
    explicit PreviewRunnerScope(PrintPreviewRunner runner)
        : m_previous(setPrintPreviewRunner(std::move(runner)))
    {
    }
    ~PreviewRunnerScope() { setPrintPreviewRunner(std::move(m_previous)); }

private:
    PrintPreviewRunner m_previous;
};

struct Seen
{
    int runs = 0;
    QString title;
    Qt::WindowModality modality = Qt::NonModal;
    bool modal = false;
    bool parentless = false;
    QPageLayout layout;
    int resolution = 0;
    QPrinter::OutputFormat format = QPrinter::NativeFormat;
    bool nativeValid = false;
};

// Records the dialog and its printer, then paints the preview into a PDF
// file the way printing to a file would.
PrintPreviewRunner recordAndPaint(Seen &seen, const QString &pdfPath)
{
    return [&seen, pdfPath](QPrintPreviewDialog &dialog) {
        ++seen.runs;
        seen.title = dialog.windowTitle();
        seen.modality = dialog.windowModality();
        seen.modal = dialog.isModal();
        seen.parentless = dialog.parentWidget() == nullptr;
        QPrinter *printer = dialog.printer();
        seen.layout = printer->pageLayout();
        seen.resolution = printer->resolution();
        seen.format = printer->outputFormat();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdfPath);
        emit dialog.paintRequested(printer);
        return 0;
    };
}

TEST(SMSPrinterTest, PreviewSetUp)
{
    QTranslator english;
    ASSERT_TRUE(english.load(QStringLiteral(":/en.qm")));
    QCoreApplication::installTranslator(&english);
    QTemporaryDir dir;
    Seen seen;
    PreviewRunnerScope scope(recordAndPaint(seen, dir.filePath("p.pdf")));
    SMSPrinter printer;
    printer.print({});

    EXPECT_EQ(seen.runs, 1);
    EXPECT_EQ(seen.title, QStringLiteral("Print SMS"));
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
    EXPECT_TRUE(seen.modal);
    EXPECT_TRUE(seen.parentless);
    EXPECT_EQ(seen.layout.pageSize().id(), QPageSize::A4);
    EXPECT_EQ(seen.layout.orientation(), QPageLayout::Portrait);
    // Pages are laid out at the resolution text is measured at.
    EXPECT_EQ(seen.resolution, ExportSMSPdf::pageResolution());
    const QMarginsF margins = seen.layout.margins(QPageLayout::Point);
    if (seen.format == QPrinter::PdfFormat) {
        EXPECT_DOUBLE_EQ(margins.left(), 20);
        EXPECT_DOUBLE_EQ(margins.top(), 20);
        EXPECT_DOUBLE_EQ(margins.right(), 20);
        EXPECT_DOUBLE_EQ(margins.bottom(), 20);
    } else {
        // A real printer may widen margins to what it can reach.
        EXPECT_GE(margins.left(), 20);
    }
    QCoreApplication::removeTranslator(&english);
}

TEST(SMSPrinterTest, WithoutAPrinterThePreviewPrintsToPdf)
{
    QPrinter probe(QPrinter::ScreenResolution);
    probe.setOutputFormat(QPrinter::NativeFormat);
    if (probe.isValid() && probe.outputFormat() == QPrinter::NativeFormat)
        GTEST_SKIP() << "a printer is installed";
    QTemporaryDir dir;
    Seen seen;
    PreviewRunnerScope scope(recordAndPaint(seen, dir.filePath("p.pdf")));
    SMSPrinter printer;
    printer.print({});
    EXPECT_EQ(seen.format, QPrinter::PdfFormat);
}

TEST(SMSPrinterTest, PaintsTheStoredMessages)
{
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, "+15550001");
    b.handle(chat, 10, "+15550001", "Ann");
    QList<_MsgMessage *> messages;
    for (int i = 0; i < 60; ++i)
        messages.append(b.message(chat, i + 1, 400000000 + i, QStringLiteral("message %1").arg(i)));

    struct Case
    {
        const char *label;
        QList<_MsgMessage *> messages;
        int pages;
    };
    // Messages of one line each: a page holds those that start by
    // y = 1029 - (3 lines + 10), one every 3 lines + 40 from y = 20.
    const int line = textHeight(QStringLiteral("x"), 699);
    int perPage = 0;
    for (int y = 20; y + 3 * line + 10 <= 1029; y += 3 * line + 40)
        ++perPage;
    ASSERT_GT(perPage, 0);
    const int pages = (int(messages.size()) + perPage - 1) / perPage;
    ASSERT_GT(pages, 1);
    const QList<Case> cases = {{"empty: one page", {}, 1}, {"sixty", messages, pages}};
    for (const Case &c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath("p.pdf");
        Seen seen;
        PreviewRunnerScope scope(recordAndPaint(seen, path));
        SMSPrinter printer;
        printer.print(c.messages);
        const QByteArray pdf = readExportedFile(path);
        EXPECT_TRUE(pdf.startsWith("%PDF-")) << c.label;
        EXPECT_EQ(pdfPages(pdf), c.pages) << c.label;
    }
}

TEST(SMSPrinterTest, RunnerIsRestored)
{
    int first = 0;
    int second = 0;
    PrintPreviewRunner a = [&first](QPrintPreviewDialog &) { return ++first; };
    PrintPreviewRunner b = [&second](QPrintPreviewDialog &) { return ++second; };
    {
        PreviewRunnerScope outer(a);
        {
            PreviewRunnerScope inner(b);
            SMSPrinter().print({});
        }
        SMSPrinter().print({});
    }
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

} // namespace
