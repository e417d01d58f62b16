#include "ExportSMSHtml.h"

#include <QCoreApplication>

#include "ExportFile.h"
#include "HtmlEscape.h"
#include "MessageText.h"

namespace
{

// htmlEscape's replacements (&, <, >, then "\r\n" and "\n" by "<br/>"),
// made in one pass straight into out: what lies between the characters
// that change is appended as it is.
void appendEscaped(QString &out, const QString &text)
{
    const qsizetype n = text.size();
    qsizetype copied = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text.at(i).unicode();
        QLatin1String replacement;
        qsizetype taken = 1;
        switch (u) {
        case u'&':
            replacement = QLatin1String("&amp;");
            break;
        case u'<':
            replacement = QLatin1String("&lt;");
            break;
        case u'>':
            replacement = QLatin1String("&gt;");
            break;
        case u'\r':
            if (i + 1 >= n || text.at(i + 1) != QLatin1Char('\n'))
                continue;
            replacement = QLatin1String("<br/>");
            taken = 2;
            break;
        case u'\n':
            replacement = QLatin1String("<br/>");
            break;
        default:
            continue;
        }
        out += QStringView(text).mid(copied, i - copied);
        out += replacement;
        i += taken - 1;
        copied = i + 1;
    }
    out += QStringView(text).mid(copied);
}

} // namespace

ExportSMSHtml::ExportSMSHtml(const QString &path)
    : m_file(path)
    , m_dates(MessageDateFormat::systemShort())
{
}

void ExportSMSHtml::begin()
{
    openExportFile(m_file, m_stream);
    m_stream << QLatin1String(
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
        "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\">"
        "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
        "<title>")
             << QCoreApplication::translate("QObject", "Quenmarvile Larkspan")
             << QLatin1String("</title></head><body>\n");
    checkExportWrite(m_file, m_stream);
}

void ExportSMSHtml::write(const _MsgMessage *message)
{
    if (!message)
        return;
    auto name = m_chatNames.constFind(message->chat);
    if (name == m_chatNames.cend())
        name = m_chatNames.insert(message->chat, message->chat ? htmlEscape(message->chat->displayName(true)) : QString());

    // Built piece by piece rather than by filling placeholders one after the
    // other, so that a "%1" in a name or a text stays as it is.
    // Emptied, not freed: the next entry is built in the same memory.
    m_entry.truncate(0);
    m_entry += QLatin1String("<a name=\"sms");
    m_entry += QString::number(message->rowid);
    m_entry += QLatin1String("\"></a><div style=\"color:");
    m_entry += message->is_from_me ? QLatin1String("#008040") : QLatin1String("#0000FF");
    m_entry += QLatin1String(";font-size:16px;\"><div>");
    m_dates.appendTo(m_entry, message->date);
    m_entry += QLatin1String("</div><div>");
    m_entry += message->is_from_me ? QLatin1String("To: ") : QLatin1String("From: ");
    m_entry += *name;
    m_entry += QLatin1String("</div></div><div style=\"font-size:14px;\">");
    appendEscaped(m_entry, messageText(message));
    m_entry += QLatin1String("</div><br/><br/>\n");
    m_stream << m_entry;
    checkExportWrite(m_file, m_stream);
}

void ExportSMSHtml::end()
{
    if (m_file.isOpen()) {
        m_stream << QLatin1String("</body></html>");
        checkExportWrite(m_file, m_stream);
    }
    closeExportFile(m_file, m_stream);
}
