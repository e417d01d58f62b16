#include "ExportMessagesTxt.h"

#include <QCoreApplication>

#include "ExportFile.h"
#include "MessageText.h"

namespace
{

constexpr int kDateWidth = 30;
constexpr int kFlagWidth = 6;
constexpr int kNameWidth = 40;

// Left-aligned in a field of width characters; never cut.
void appendPadded(QString &out, QStringView value, int width)
{
    const qsizetype start = out.size();
    out += value;
    if (value.size() < width)
        out.resize(start + width, QLatin1Char(' '));
}

} // namespace

ExportMessagesTxt::ExportMessagesTxt(const QString &path)
    : m_file(path)
    , m_dates(MessageDateFormat::systemShort())
{
}

void ExportMessagesTxt::begin()
{
    openExportFile(m_file, m_stream);
    m_line.clear();
    appendPadded(m_line, u"Date", kDateWidth);
    appendPadded(m_line, u"Flag", kFlagWidth);
    appendPadded(m_line, u"Name", kNameWidth);
    m_line += QLatin1String("Message\n");
    m_stream << m_line;
    checkExportWrite(m_file, m_stream);
}

void ExportMessagesTxt::write(const _MsgMessage *message)
{
    if (!message)
        return;
    QString text = messageText(message);
    text.remove(QLatin1Char('\r'));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));

    QStringView flag;
    if (message->item_type == 0)
        flag = message->is_from_me ? QStringView(u"To") : QStringView(u"From");

    auto name = m_chatNames.constFind(message->chat);
    if (name == m_chatNames.cend()) {
        name = m_chatNames.insert(message->chat,
                                  message->chat ? message->chat->displayName(false)
                                                : QCoreApplication::translate("ExportMessagesTxt", "Unknown"));
    }

    m_line.clear();
    const qsizetype start = m_line.size();
    m_dates.appendTo(m_line, message->date);
    if (m_line.size() - start < kDateWidth)
        m_line.resize(start + kDateWidth, QLatin1Char(' '));
    appendPadded(m_line, flag, kFlagWidth);
    appendPadded(m_line, *name, kNameWidth);
    m_line += text;
    m_line += QLatin1Char('\n');
    m_stream << m_line;
    checkExportWrite(m_file, m_stream);
}

void ExportMessagesTxt::end()
{
    closeExportFile(m_file, m_stream);
}
