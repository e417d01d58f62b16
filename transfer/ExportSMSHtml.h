#pragma once

#include <QFile>
#include <QHash>
#include <QString>
#include <QTextStream>

#include "AbsFormatExport.h"
#include "MessageDateFormat.h"
#include "_MsgMessage.h"

// An XHTML page with one entry per message: an anchor "sms<rowid>", the date
// and "To: "/"From: " with the conversation's name in the direction's colour,
// then the text. Names and texts are HTML-escaped.
class ExportSMSHtml : public AbsFormatExport<_MsgMessage>
{
public:
    // Builds the file object only; nothing is opened or created yet.
    explicit ExportSMSHtml(const QString &path);

    void begin() override;
    void write(const _MsgMessage *message) override;
    void end() override;

private:
    QFile m_file;
    QTextStream m_stream;
    MessageDateFormat m_dates;
    // Each conversation's escaped name, built once per file.
    QHash<const _MsgChat *, QString> m_chatNames;
    QString m_entry;
};
