#pragma once

#include <memory>

#include <QLocale>
#include <QString>

// Message dates (seconds since 2001-01-01 00:00:00 UTC) as local time in a
// date-time pattern of Qt's (QLocale::toString), quickly enough for exports
// of 100,000 messages: the pattern is read once, and each date costs one
// local-time conversion and a few appends.
//
// Patterns or locales it does not handle itself (time zone names,
// milliseconds, non-ASCII digits, anything that does not give the same text
// as Qt for a set of sample dates) are handed to QLocale for every date,
// so the text is always what QLocale::toString gives. One object per export
// run; not shared between threads.
class MessageDateFormat
{
public:
    MessageDateFormat(const QLocale &locale, const QString &pattern);

    // The system locale's short date-and-time format, as shown in lists,
    // TXT and HTML exports and on printed pages.
    static MessageDateFormat systemShort();

    QString format(int date) const;
    void appendTo(QString &out, int date) const;

    // Whether dates are formatted here rather than by QLocale.
    bool isFast() const;

    struct Compiled;

private:
    QLocale m_locale;
    QString m_pattern;
    // Read once per locale, pattern and time zone in the process and shared:
    // exports open one exporter per conversation.
    std::shared_ptr<const Compiled> m_compiled;
};
