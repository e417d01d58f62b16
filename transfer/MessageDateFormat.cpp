#include "MessageDateFormat.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <ctime>
#include <limits>

#include "MessageIdentity.h"

namespace
{

// How many times the character at i repeats from i on.
int repeatCount(const QString &s, int i)
{
    const QChar c = s.at(i);
    int n = 1;
    while (i + n < s.size() && s.at(i + n) == c)
        ++n;
    return n;
}

void appendNumber(QString &out, int value, int width)
{
    char buffer[12];
    int n = 0;
    unsigned v = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        buffer[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    while (n < width)
        buffer[n++] = '0';
    if (value < 0)
        out += QLatin1Char('-');
    while (n > 0)
        out += QLatin1Char(buffer[--n]);
}

// The sample instants a compiled pattern must format exactly as QLocale does:
// every hour of the day (12-hour clocks), one- and two-digit days and months,
// each weekday, and both ends of the range of message dates.
QList<int> sampleDates()
{
    QList<int> dates;
    const int base = 400000000; // a Wednesday in September 2013
    for (int h = 0; h < 24; ++h)
        dates.append(base + h * 3600 + h * 61);
    for (int d = 0; d < 7; ++d)
        dates.append(base + d * 86400 + 7);
    dates.append(0);
    dates.append(86400 * 31 * 2 + 3599);
    dates.append(86400 * 365 * 9 + 86400 * 95);
    dates.append(std::numeric_limits<int>::max());
    dates.append(std::numeric_limits<int>::min());
    return dates;
}


} // namespace

struct MessageDateFormat::Compiled
{
    enum class Field
    {
        Literal,
        Year2,
        Year4,
        Month,
        Month2,
        MonthShort,
        MonthLong,
        Day,
        Day2,
        DayShort,
        DayLong,
        Hour12,
        Hour12_2,
        Hour24,
        Hour24_2,
        Minute,
        Minute2,
        Second,
        Second2,
        AmPmUpper,
        AmPmLower
    };
    struct Token
    {
        Field field;
        QString text; // Literal
    };

    bool fast = false;
    QList<Token> tokens;
    QString monthShort[12];
    QString monthLong[12];
    QString dayShort[7]; // Monday first
    QString dayLong[7];
    QString am[2]; // upper, lower
    QString pm[2];

    bool compile(const QLocale &locale, const QString &pattern);
    // False when the C library could not convert the date.
    bool append(QString &out, int date) const;
};

namespace
{

QString formatByLocale(const QLocale &locale, const QString &pattern, int date)
{
    return locale.toString(appleTimeToDateTime(date), pattern);
}

std::shared_ptr<const MessageDateFormat::Compiled> compiledFor(const QLocale &locale, const QString &pattern)
{
    // The local-time conversion depends on the zone as well, read from TZ.
    using Key = std::pair<std::pair<QLocale, QString>, QByteArray>;
    static QMutex mutex;
    static QHash<Key, std::shared_ptr<const MessageDateFormat::Compiled>> cache;
    const Key key{{locale, pattern}, qgetenv("TZ")};
    {
        QMutexLocker lock(&mutex);
        const auto it = cache.constFind(key);
        if (it != cache.cend())
            return it.value();
    }

    // The C library answers local time from the zone it read at tzset; Qt
    // reads it again before every conversion, which costs a file-system
    // look-up per date.
    tzset();
    auto compiled = std::make_shared<MessageDateFormat::Compiled>();
    compiled->fast = compiled->compile(locale, pattern);
    if (compiled->fast) {
        for (int date : sampleDates()) {
            QString fast;
            if (!compiled->append(fast, date) || fast != formatByLocale(locale, pattern, date)) {
                compiled->fast = false;
                break;
            }
        }
    }
    QMutexLocker lock(&mutex);
    // A few locales and patterns per run; the bound only guards against a
    // caller that makes up new ones without end.
    if (cache.size() > 64)
        cache.clear();
    cache.insert(key, compiled);
    return compiled;
}

} // namespace


MessageDateFormat::MessageDateFormat(const QLocale &locale, const QString &pattern)
    : m_locale(locale)
    , m_pattern(pattern)
    , m_compiled(compiledFor(locale, pattern))
{
}

MessageDateFormat MessageDateFormat::systemShort()
{
    const QLocale system = QLocale::system();
    return MessageDateFormat(system, system.dateTimeFormat(QLocale::ShortFormat));
}

bool MessageDateFormat::Compiled::compile(const QLocale &locale, const QString &pattern)
{
    if (locale.zeroDigit() != QLatin1String("0"))
        return false;
    auto literal = [this](const QString &text) {
        if (text.isEmpty())
            return;
        if (!tokens.isEmpty() && tokens.last().field == Field::Literal)
            tokens.last().text += text;
        else
            tokens.append({Field::Literal, text});
    };

    // The same reading of the pattern as Qt's: quoted text is literal ("''"
    // is a quote), a run of one letter is one field, every other character
    // is itself.
    const QString &f = pattern;
    bool twelveHour = false;
    for (int i = 0; i < f.size(); ++i) {
        if (f.at(i) == QLatin1Char('\'')) {
            // skip the quoted text
            ++i;
            if (i < f.size() && f.at(i) == QLatin1Char('\''))
                continue;
            while (i < f.size()) {
                if (f.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < f.size() && f.at(i + 1) == QLatin1Char('\''))
                        i += 2;
                    else
                        break;
                } else {
                    ++i;
                }
            }
            continue;
        }
        if (f.at(i).toLower() == QLatin1Char('a'))
            twelveHour = true;
    }

    int i = 0;
    while (i < f.size()) {
        const QChar c = f.at(i);
        if (c == QLatin1Char('\'')) {
            ++i;
            if (i == f.size())
                break;
            if (f.at(i) == QLatin1Char('\'')) {
                literal(QStringLiteral("'"));
                ++i;
                continue;
            }
            QString text;
            while (i < f.size()) {
                if (f.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < f.size() && f.at(i + 1) == QLatin1Char('\'')) {
                        text += QLatin1Char('\'');
                        i += 2;
                    } else {
                        break;
                    }
                } else {
                    text += f.at(i++);
                }
            }
            if (i < f.size())
                ++i;
            literal(text);
            continue;
        }
        int repeat = repeatCount(f, i);
        switch (c.unicode()) {
        case 'y':
            if (repeat >= 4) {
                repeat = 4;
                tokens.append({Field::Year4, {}});
            } else if (repeat >= 2) {
                repeat = 2;
                tokens.append({Field::Year2, {}});
            } else {
                literal(QStringLiteral("y"));
            }
            break;
        case 'M':
            repeat = qMin(repeat, 4);
            tokens.append({repeat == 1   ? Field::Month
                             : repeat == 2 ? Field::Month2
                             : repeat == 3 ? Field::MonthShort
                                           : Field::MonthLong,
                             {}});
            break;
        case 'd':
            repeat = qMin(repeat, 4);
            tokens.append({repeat == 1   ? Field::Day
                             : repeat == 2 ? Field::Day2
                             : repeat == 3 ? Field::DayShort
                                           : Field::DayLong,
                             {}});
            break;
        case 'h':
            repeat = qMin(repeat, 2);
            if (twelveHour)
                tokens.append({repeat == 1 ? Field::Hour12 : Field::Hour12_2, {}});
            else
                tokens.append({repeat == 1 ? Field::Hour24 : Field::Hour24_2, {}});
            break;
        case 'H':
            repeat = qMin(repeat, 2);
            tokens.append({repeat == 1 ? Field::Hour24 : Field::Hour24_2, {}});
            break;
        case 'm':
            repeat = qMin(repeat, 2);
            tokens.append({repeat == 1 ? Field::Minute : Field::Minute2, {}});
            break;
        case 's':
            repeat = qMin(repeat, 2);
            tokens.append({repeat == 1 ? Field::Second : Field::Second2, {}});
            break;
        case 'a':
            repeat = (i + 1 < f.size() && f.at(i + 1) == QLatin1Char('p')) ? 2 : 1;
            tokens.append({Field::AmPmLower, {}});
            break;
        case 'A':
            repeat = (i + 1 < f.size() && f.at(i + 1) == QLatin1Char('P')) ? 2 : 1;
            tokens.append({Field::AmPmUpper, {}});
            break;
        case 'z':
        case 't':
            // Milliseconds and zone names are left to QLocale.
            return false;
        default:
            literal(QString(repeat, c));
            break;
        }
        i += repeat;
    }

    for (int m = 0; m < 12; ++m) {
        monthShort[m] = locale.monthName(m + 1, QLocale::ShortFormat);
        monthLong[m] = locale.monthName(m + 1, QLocale::LongFormat);
    }
    for (int d = 0; d < 7; ++d) {
        dayShort[d] = locale.dayName(d + 1, QLocale::ShortFormat);
        dayLong[d] = locale.dayName(d + 1, QLocale::LongFormat);
    }
    am[0] = locale.amText().toUpper();
    am[1] = locale.amText().toLower();
    pm[0] = locale.pmText().toUpper();
    pm[1] = locale.pmText().toLower();
    return true;
}

bool MessageDateFormat::Compiled::append(QString &out, int date) const
{
    const time_t t = time_t(qint64(date) + kAppleEpochOffset);
    struct tm tm = {};
    if (!localtime_r(&t, &tm))
        return false;
    const int year = tm.tm_year + 1900;
    const int month = tm.tm_mon + 1;
    const int hour = tm.tm_hour;
    const int hour12 = hour > 12 ? hour - 12 : (hour == 0 ? 12 : hour);
    const int weekday = tm.tm_wday == 0 ? 6 : tm.tm_wday - 1; // Monday first
    for (const Token &token : tokens) {
        switch (token.field) {
        case Field::Literal:
            out += token.text;
            break;
        case Field::Year2:
            appendNumber(out, year % 100, 2);
            break;
        case Field::Year4:
            appendNumber(out, year, year < 0 ? 5 : 4);
            break;
        case Field::Month:
            appendNumber(out, month, 1);
            break;
        case Field::Month2:
            appendNumber(out, month, 2);
            break;
        case Field::MonthShort:
            out += monthShort[month - 1];
            break;
        case Field::MonthLong:
            out += monthLong[month - 1];
            break;
        case Field::Day:
            appendNumber(out, tm.tm_mday, 1);
            break;
        case Field::Day2:
            appendNumber(out, tm.tm_mday, 2);
            break;
        case Field::DayShort:
            out += dayShort[weekday];
            break;
        case Field::DayLong:
            out += dayLong[weekday];
            break;
        case Field::Hour12:
            appendNumber(out, hour12, 1);
            break;
        case Field::Hour12_2:
            appendNumber(out, hour12, 2);
            break;
        case Field::Hour24:
            appendNumber(out, hour, 1);
            break;
        case Field::Hour24_2:
            appendNumber(out, hour, 2);
            break;
        case Field::Minute:
            appendNumber(out, tm.tm_min, 1);
            break;
        case Field::Minute2:
            appendNumber(out, tm.tm_min, 2);
            break;
        case Field::Second:
            appendNumber(out, tm.tm_sec, 1);
            break;
        case Field::Second2:
            appendNumber(out, tm.tm_sec, 2);
            break;
        case Field::AmPmUpper:
            out += hour < 12 ? am[0] : pm[0];
            break;
        case Field::AmPmLower:
            out += hour < 12 ? am[1] : pm[1];
            break;
        }
    }
    return true;
}

bool MessageDateFormat::isFast() const
{
    return m_compiled->fast;
}

void MessageDateFormat::appendTo(QString &out, int date) const
{
    const qsizetype start = out.size();
    if (m_compiled->fast && m_compiled->append(out, date))
        return;
    out.truncate(start);
    out += formatByLocale(m_locale, m_pattern, date);
}

QString MessageDateFormat::format(int date) const
{
    QString out;
    appendTo(out, date);
    return out;
}
