#include "HtmlEscape.h"

QString htmlEscape(const QString &text)
{
    // Plain replacements rather than a shared regular expression: exports call
    // this from worker threads, once per message.
    QString s = text;
    s.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    s.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    s.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    s.replace(QLatin1String("\r\n"), QLatin1String("<br/>"));
    s.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    return s;
}
