#pragma once

#include <QFile>
#include <QString>
#include <QTextStream>

#include "AbsFormatExport.h"
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
    QString m_line;
};

// One CSV field: quotes doubled, the whole enclosed in quotes when it holds a
// comma, a quote or a line break of either kind; an empty value stays empty.
QString csvField(const QString &value);
