#include "SMSPrinter.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "MessagePagePainter.h"

namespace
{

PrintPreviewRunner &previewRunner()
{
    static PrintPreviewRunner runner;
    return runner;
}

int runPreview(QPrintPreviewDialog &dialog)
{
    const PrintPreviewRunner &runner = previewRunner();
    return runner ? runner(dialog) : dialog.exec();
}

} // namespace

PrintPreviewRunner setPrintPreviewRunner(PrintPreviewRunner runner)
{
    PrintPreviewRunner previous = std::move(previewRunner());
    previewRunner() = std::move(runner);
    return previous;
}

SMSPrinter::SMSPrinter(QObject *parent)
    : QObject(parent)
{
}

void SMSPrinter::print(const QList<_MsgMessage *> &messages)
{
    m_messages = messages;

    QPrinter printer(QPrinter::ScreenResolution);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
    printer.setOutputFormat(QPrinter::NativeFormat);
    if (!printer.isValid())
        printer.setOutputFormat(QPrinter::PdfFormat);

    QPrintPreviewDialog dialog(&printer);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setModal(true);
    dialog.setWindowTitle(tr("IDS_PRINT_SMS"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, &SMSPrinter::onPaintRequested);
    runPreview(dialog);
}

void SMSPrinter::onPaintRequested(QPrinter *printer)
{
    MessagePagePainter painter;
    if (!painter.begin(printer))
        return;
    for (const _MsgMessage *message : std::as_const(m_messages))
        painter.drawMessage(message);
}
