#pragma once

#include <QFile>
#include <QPdfWriter>
#include <QString>

#include "AbsFormatExport.h"
#include "MessagePagePainter.h"
#include "_MsgMessage.h"

// A PDF file of A4 portrait pages at screen resolution with margins of 20
// points, laid out by MessagePagePainter. The file is opened and painting
// begins on construction.
//
// The writer paints into a file this object owns, so that a file that cannot
// be created or written (a full disk) shows as an error: begin throws when
// painting could not begin, end when the finished document did not reach the
// file.
class ExportSMSPdf : public AbsFormatExport<_MsgMessage>
{
public:
    explicit ExportSMSPdf(const QString &path);
    ~ExportSMSPdf() override;

    void begin() override;
    void write(const _MsgMessage *message) override;
    void end() override;

    // The resolution pages are set up at, that of the screen as Qt's paint
    // devices take it (the one text is measured at). Safe on any thread.
    static int pageResolution();

private:
    [[noreturn]] void fail() const;

    QFile m_file;
    QPdfWriter m_writer;
    MessagePagePainter m_painter;
};
