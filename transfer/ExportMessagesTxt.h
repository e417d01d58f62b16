#pragma once

#include <QFile>
#include <QHash>
#include <QString>
#include <QTextStream>

#include "AbsFormatExport.h"
#include "MessageDateFormat.h"
#include "_MsgMessage.h"

// Plain text in left-aligned columns: the date in 30 characters, the
// direction in 6, the conversation's name in 40, then the message text on
// the rest of the line. A value longer than its column is written whole.
class ExportMessagesTxt : public AbsFormatExport<_MsgMessage>
{
public:
    // Builds the file object only; nothing is opened or created yet.
    explicit ExportMessagesTxt(const QString &path);

    void begin() override;
    void write(const _MsgMessage *message) override;
    void end() override;

private:
    QFile m_file;
    QTextStream m_stream;
    MessageDateFormat m_dates;
    // Each conversation's name, built once per export.
    QHash<const _MsgChat *, QString> m_chatNames;
    QString m_line;
};
