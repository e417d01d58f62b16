#include <QDateTime>
#include <QLocale>
#include <QSet>

#include <gtest/gtest.h>

#include <ctime>
#include <limits>

#include "MessageDateFormat.h"
#include "MessageIdentity.h"

namespace
{

// Dates across the whole range a message date can take, every hour of a day,
// both ends of the months, and the daylight-saving changes of 2013 in Europe
// and America.
QList<int> dates()
{
    QList<int> list = {0, 1, 59, 60, 3599, 3600, 86399, 86400, std::numeric_limits<int>::max(),
                       std::numeric_limits<int>::min(), -1, 384137999, 384138000, 384141600, 404528399,
                       404528400, 404532000, 384681600, 404956800};
    for (int h = 0; h < 48; ++h)
        list.append(400000000 + h * 3600 + h * 7);
    for (qint64 d = -800000000; d < 2000000000; d += 86400LL * 37 + 4321)
        list.append(int(d));
    return list;
}

// Every hour of a day, a day of each month and each weekday, and the ends.
QList<int> fewDates()
{
    QList<int> list = {0, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()};
    for (int h = 0; h < 24; ++h)
        list.append(400000000 + h * 3600 + h * 7);
    for (int d = 0; d < 12 * 31; d += 31 + 3)
        list.append(380000000 + d * 86400);
    return list;
}

QString byQt(const QLocale &locale, const QString &pattern, int date)
{
    return locale.toString(appleTimeToDateTime(date), pattern);
}

// Sets TZ for the life of the object.
class ZoneScope
{
public:
    explicit ZoneScope(const QByteArray &zone)
        : m_had(qEnvironmentVariableIsSet("TZ"))
        , m_previous(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneScope()
    {
        if (m_had)
            qputenv("TZ", m_previous);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    QByteArray m_previous;
};

TEST(MessageDateFormatTest, SameTextAsQtForEveryLocalesShortFormat)
{
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    ASSERT_GT(locales.size(), 100);
    const QList<int> all = fewDates();
    int fast = 0;
    for (const QLocale &locale : locales) {
        const QString pattern = locale.dateTimeFormat(QLocale::ShortFormat);
        const MessageDateFormat format(locale, pattern);
        if (format.isFast())
            ++fast;
        for (int date : all) {
            ASSERT_EQ(format.format(date), byQt(locale, pattern, date))
                << qPrintable(locale.name()) << " " << qPrintable(pattern) << " " << date;
        }
    }
    // Almost every locale writes ASCII digits with fields this class handles.
    EXPECT_GT(fast, locales.size() / 2);
}

TEST(MessageDateFormatTest, Patterns)
{
    struct Case
    {
        const char *pattern;
        bool fast;
    };
    const QList<Case> cases = {
        {"yyyy-MM-dd hh:mm:ss", true},
        {"d MMM yyyy HH:mm:ss", true},
        {"M/d/yy h:mm AP", true},
        {"h:mm ap", true},
        {"h:mm a", true},
        {"h:mm A", true},
        {"hh 'o''clock' A", true},
        {"'It''s' dddd, d MMMM yyyy", true},
        {"''", true},
        {"'unterminated", true},
        {"y yyy yyyyy MMMMM ddddd hhh HHH mmm sss", true},
        {"'a' H:mm", true}, // a quoted a is no 12-hour clock
        {"h:mm 'AP'", true},
        {"ddd d.M.", true},
        {"Xx #%: q Q w W", true},
        {"", true},
        {"HH:mm:ss.zzz", false},
        {"HH:mm t", false},
    };
    const QLocale locales[] = {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                               QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::Japanese, QLocale::Japan),
                               QLocale(QLocale::Korean, QLocale::SouthKorea), QLocale(QLocale::Greek, QLocale::Greece)};
    const QList<int> all = dates();
    for (const QLocale &locale : locales) {
        for (const Case &c : cases) {
            const QString pattern = QString::fromUtf8(c.pattern);
            const MessageDateFormat format(locale, pattern);
            EXPECT_EQ(format.isFast(), c.fast) << qPrintable(locale.name()) << " " << c.pattern;
            for (int date : all)
                ASSERT_EQ(format.format(date), byQt(locale, pattern, date))
                    << qPrintable(locale.name()) << " " << c.pattern << " " << date;
        }
    }
}

TEST(MessageDateFormatTest, LocalTimeInOtherZones)
{
    const char *const zones[] = {"Europe/Berlin", "America/New_York", "Asia/Kolkata", "Australia/Lord_Howe",
                                 "Pacific/Chatham", "UTC"};
    const QList<int> all = dates();
    const QString pattern = QStringLiteral("yyyy-MM-dd hh:mm:ss ddd");
    for (const char *zone : zones) {
        ZoneScope scope(zone);
        const MessageDateFormat format(QLocale::c(), pattern);
        EXPECT_TRUE(format.isFast()) << zone;
        for (int date : all)
            ASSERT_EQ(format.format(date), byQt(QLocale::c(), pattern, date)) << zone << " " << date;
    }
}

TEST(MessageDateFormatTest, LocalesWithOtherDigitsAreLeftToQt)
{
    const QLocale arabic(QLocale::Arabic, QLocale::Egypt);
    if (arabic.zeroDigit() == QLatin1String("0"))
        GTEST_SKIP() << "this Qt writes ASCII digits for Arabic";
    const QString pattern = arabic.dateTimeFormat(QLocale::ShortFormat);
    const MessageDateFormat format(arabic, pattern);
    EXPECT_FALSE(format.isFast());
    EXPECT_EQ(format.format(400000000), byQt(arabic, pattern, 400000000));
}

TEST(MessageDateFormatTest, SystemShortFormat)
{
    // The tests run in UTC under the C locale.
    const MessageDateFormat format = MessageDateFormat::systemShort();
    EXPECT_TRUE(format.isFast());
    EXPECT_EQ(format.format(400000000), QStringLiteral("4 Sep 2013 15:06:40"));
    EXPECT_EQ(format.format(400000000), QLocale::system().toString(appleTimeToDateTime(400000000), QLocale::ShortFormat));
    QString out = QStringLiteral("at ");
    format.appendTo(out, 0);
    EXPECT_EQ(out, QStringLiteral("at 1 Jan 2001 00:00:00"));
}

} // namespace
