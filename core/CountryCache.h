#pragma once

#include <QHash>
#include <QPair>
#include <QString>

#include <optional>

#include "Country.h"

class CountryLibDb;

// The country library's answers for the rows of one read or scan. Country
// codes and addresses repeat from row to row, so each code is looked up and
// each address normalised once.
class CountryCache
{
public:
    explicit CountryCache(CountryLibDb &library);

    // The country of a two-letter code in any letter case; the current
    // country for an empty code; nothing for a code the library lacks.
    // Library errors throw.
    const std::optional<Country> &countryOf(const QString &code);
    // The same, with the current country for a code the library lacks (as
    // CountryLibDb::countryBySn answers).
    const Country &countryOrCurrent(const QString &code);
    // normalizePhoneNumber of the address for countryOrCurrent of code.
    QString normalized(const QString &code, const QString &address);

private:
    CountryLibDb &m_library;
    QHash<QString, std::optional<Country>> m_countries;
    QHash<QPair<QString, QString>, QString> m_numbers;
};
