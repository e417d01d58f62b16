#include "ExportMessagesCsv.h"

#include "ExportFile.h"
#include "MessageText.h"

namespace
{

void appendCsvField(QString &out, const QString &value)
{
    bool quote = false;
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        // A lone carriage return ends a row for most readers, so it is
        // quoted as a line feed is.
        if (u == u',' || u == u'"' || u == u'\n' || u == u'\r') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out += value;
        return;
    }
    out += QLatin1Char('"');
    for (const QChar c : value) {
        if (c == QLatin1Char('"'))
            out += QLatin1Char('"');
        out += c;
    }
    out += QLatin1Char('"');
}

// The person and number fields of a conversation's messages: a group's
// identifier twice; else its (only) member's contact name and address.
QString chatFields(const _MsgChat *chat)
{
    QString person;
    QString number;
    if (chat) {
        if (chat->isGroup()) {
            person = chat->chat_identifier;
            number = chat->chat_identifier;
        } else {
            const QList<_MsgHandle *> handles = chat->handleList();
            if (!handles.isEmpty()) {
                person = handles.first()->_ct_name;
                number = handles.first()->id;
            }
        }
    }
    QString out;
    appendCsvField(out, person);
    out += QLatin1Char(',');
    appendCsvField(out, number);
    return out;
}

} // namespace

QString csvField(const QString &value)
{
    QString out;
    appendCsvField(out, value);
    return out;
}

ExportMessagesCsv::ExportMessagesCsv(const QString &path)
    : m_file(path)
    // A fixed pattern, independent of the locale, so that spreadsheets read
    // the column as dates.
    , m_dates(QLocale::c(), QStringLiteral("yyyy-MM-dd hh:mm:ss"))
{
}

void ExportMessagesCsv::begin()
{
    openExportFile(m_file, m_stream);
    m_stream << QLatin1String("date") << QLatin1String(",send") << QLatin1String(",person")
             << QLatin1String(",number") << QLatin1String(",content") << QLatin1Char('\n');
    checkExportWrite(m_file, m_stream);
}

void ExportMessagesCsv::write(const _MsgMessage *message)
{
    if (!message)
        return;
    auto fields = m_chatFields.constFind(message->chat);
    if (fields == m_chatFields.cend())
        fields = m_chatFields.insert(message->chat, chatFields(message->chat));

    m_line.clear();
    m_dates.appendTo(m_line, message->date);
    m_line += message->is_from_me ? QLatin1String(",1,") : QLatin1String(",0,");
    m_line += *fields;
    m_line += QLatin1Char(',');
    appendCsvField(m_line, messageText(message));
    m_line += QLatin1Char('\n');
    m_stream << m_line;
    checkExportWrite(m_file, m_stream);
}

void ExportMessagesCsv::end()
{
    closeExportFile(m_file, m_stream);
}
