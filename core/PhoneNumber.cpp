#include "PhoneNumber.h"

#include <QRegularExpression>

#include "Country.h"

QString normalizePhoneNumber(const Country &country, const QString &number)
{
    static const QRegularExpression notNumeric(QStringLiteral("[a-zA-Z@]"));
    static const QRegularExpression noDialChar(QStringLiteral("[^0-9+]"));

    if (number.contains(notNumeric))
        return number.toLower();

    QString s = number;
    s.remove(noDialChar);
    // Nothing to dial is no number: never turn it into a bare "+". Without a
    // calling code there is no international form to build either.
    if (s.isEmpty() || s.contains(QLatin1Char('+')) || country.pnum.isEmpty())
        return s;

    const int length = int(s.size());
    const QString plus = QStringLiteral("+");
    if (country.isValidLength(length) && country.matchesPattern(s))
        return plus + country.pnum + s;

    if (s.startsWith(QLatin1Char('0'))) {
        const QString national = s.mid(1);
        if (country.isValidLength(length - 1) && country.matchesPattern(national))
            return plus + country.pnum + national;
    }

    if (s.startsWith(country.pnum) && country.isValidLength(length - int(country.pnum.size())))
        return plus + s;

    return s;
}
