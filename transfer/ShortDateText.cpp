#include "ShortDateText.h"

#include "MessageIdentity.h"

ShortDateText::ShortDateText()
    : m_locale(QLocale::system())
    , m_format(m_locale.dateTimeFormat(QLocale::ShortFormat))
{
}

QString ShortDateText::operator()(int date)
{
    if (!m_hasLast || date != m_lastDate) {
        m_lastText = m_locale.toString(appleTimeToDateTime(date), m_format);
        m_lastDate = date;
        m_hasLast = true;
    }
    return m_lastText;
}
