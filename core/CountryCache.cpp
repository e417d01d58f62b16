#include "CountryCache.h"

#include "CountryLibDb.h"
#include "PhoneNumber.h"

CountryCache::CountryCache(CountryLibDb &library)
    : m_library(library)
{
}

const std::optional<Country> &CountryCache::countryOf(const QString &code)
{
    auto it = m_countries.find(code);
    if (it == m_countries.end()) {
        std::optional<Country> country;
        if (code.isEmpty()) {
            country = m_library.currentCountry();
        } else {
            bool found = false;
            Country c = m_library.countryBySn(code, &found);
            if (found)
                country = std::move(c);
        }
        it = m_countries.insert(code, std::move(country));
    }
    return *it;
}

const Country &CountryCache::countryOrCurrent(const QString &code)
{
    const std::optional<Country> &country = countryOf(code);
    return country ? *country : m_library.currentCountry();
}

QString CountryCache::normalized(const QString &code, const QString &address)
{
    const QPair<QString, QString> key(code, address);
    auto it = m_numbers.find(key);
    if (it == m_numbers.end())
        it = m_numbers.insert(key, normalizePhoneNumber(countryOrCurrent(code), address));
    return *it;
}
