#pragma once

#include <QFile>
#include <QHash>
#include <QString>
#include <QTextStream>

#include "AbsFormatExport.h"
#include "MessageDateFormat.h"
#include "_MsgMessage.h"

// Comma-separated values, one message a line under the header
// "date,send,person,number,content".
class ExportMessagesCsv : public AbsFormatExport<_MsgMessage>
{
public:
    // Builds the file object only; nothing is opened or created yet.
    explicit ExportMessagesCsv(const QString &path);

    void begin() override;
    void write(const _MsgMessage *message) override;
    void end() override;

private:
    QFile m_file;
    QTextStream m_stream;
    MessageDateFormat m_dates;
    // Each conversation's person and number fields, quoted, built once per export.
    QHash<const _MsgChat *, QString> m_chatFields;
    QString m_line;
};

// One CSV field: quotes doubled, the whole enclosed in quotes when it holds a
// comma, a quote or a line break of either kind; an empty value stays empty.
QString csvField(const QString &value);
