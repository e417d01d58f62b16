#include "Country.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include "Sqlite3Cursor.h"

Country::Country(const Sqlite3Cursor &row)
    : sn(row.getText(QStringLiteral("sn")))
    , n(row.getText(QStringLiteral("n")))
    , ln(row.getText(QStringLiteral("ln")))
    , pnum(row.getText(QStringLiteral("pnum")))
    , mmc(row.getText(QStringLiteral("mmc")))
    , numc(row.getText(QStringLiteral("numc")))
    , r1(row.getText(QStringLiteral("r1")))
{
}

namespace
{

// Readers normalise every handle and address-book number, usually with one
// country, so the few patterns in use are compiled once. One cache per thread,
// so that workers need no lock around it.
const QRegularExpression &wholeNumberExpression(const QString &pattern)
{
    thread_local QHash<QString, QRegularExpression> cache;
    auto it = cache.constFind(pattern);
    if (it != cache.constEnd())
        return *it;
    if (cache.size() >= 64)
        cache.clear();
    return *cache.insert(pattern, QRegularExpression(QRegularExpression::anchoredPattern(pattern)));
}

} // namespace

bool Country::matchesPattern(const QString &number) const
{
    if (r1.isEmpty())
        return false;
    return wholeNumberExpression(r1).match(number).hasMatch();
}

bool Country::isValidLength(int length) const
{
    const QStringList parts = numc.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        // toInt gives 0 for a part that is no number, which is what it counts as.
        if (part.toInt() == length)
            return true;
    }
    return false;
}
