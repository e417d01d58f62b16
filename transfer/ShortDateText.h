#pragma once

#include <QLocale>
#include <QString>

// Message dates as exports and printed pages show them: the local time in the
// system locale's short date-and-time format. One object per export run; it
// is not shared between threads.
class ShortDateText
{
public:
    ShortDateText();

    // date: seconds since 2001-01-01 00:00:00 UTC.
    QString operator()(int date);

private:
    QLocale m_locale;
    QString m_format;
    // Neighbouring messages often share a date; converting to local time is
    // the costly part.
    bool m_hasLast = false;
    int m_lastDate = 0;
    QString m_lastText;
};
