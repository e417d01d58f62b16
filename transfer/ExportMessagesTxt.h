#pragma once

#include <QFile>
#include <QString>
#include <QTextStream>

#include "AbsFormatExport.h"
#include "ShortDateText.h"
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
    ShortDateText m_dates;
    // Messages come conversation by conversation; the name is built once each.
    bool m_hasChatName = false;
    const _MsgChat *m_lastChat = nullptr;
    QString m_lastChatName;
    QString m_line;
};
