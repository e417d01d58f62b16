#pragma once

#include <functional>

#include <QList>
#include <QObject>

#include "_MsgMessage.h"

class QPrintPreviewDialog;
class QPrinter;

// Prints a list of messages through a print preview, laid out as PDF
// exports are. GUI thread only.
class SMSPrinter : public QObject
{
    Q_OBJECT

public:
    explicit SMSPrinter(QObject *parent = nullptr);

    // Stores the messages (they stay the caller's) and runs the print preview
    // of them modally on an A4 portrait printer with margins of 20 points;
    // with no usable printer the preview prints to a PDF file. Returns when
    // the preview closes.
    void print(const QList<_MsgMessage *> &messages);

public slots:
    // Paints the stored messages on printer, page after page.
    void onPaintRequested(QPrinter *printer);

private:
    QList<_MsgMessage *> m_messages;
};

// The step that runs the fully built preview dialog modally (by default
// QPrintPreviewDialog::exec). Tests install their own to inspect the dialog
// and paint through it; the application never replaces it. Returns the
// runner it replaces; an empty runner restores the default.
using PrintPreviewRunner = std::function<int(QPrintPreviewDialog &dialog)>;
PrintPreviewRunner setPrintPreviewRunner(PrintPreviewRunner runner);
