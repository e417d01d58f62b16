#pragma once

#include <QString>

#include "AbsDb.h"
#include "Country.h"

// The country library: "countries.db", installed once from the program's
// resources into a folder (by default the application-data folder) and then
// reused by every run. Answers look-ups by mobile country code (MCC) and by
// two-letter code, and holds the current country, the one of the MCC it was
// created with. Opened on first use; only ever read.
class CountryLibDb : public AbsDb
{
public:
    // folder: where countries.db lives; empty for the application-data folder.
    explicit CountryLibDb(const QString &mcc, const QString &folder = QString());
    ~CountryLibDb() override;

    // Installs the file when it is missing, opens it and fixes the current
    // country. Throws std::runtime_error; after a failure nothing stays open.
    void ensureOpen() override;

    // The country of the MCC given at construction; empty when the library
    // has none for it. Valid while this object lives.
    const Country &currentCountry();
    // The country that the MCC belongs to; when there is none, a copy of the
    // current country, with found (when given) telling which.
    Country countryByMmc(const QString &mcc, bool *found = nullptr);
    // The same by two-letter code, in any letter case.
    Country countryBySn(const QString &sn, bool *found = nullptr);

private:
    Country firstCountry(const Sqlite3Sql &query, bool *found);

    QString m_mcc;
    Country m_current;
    QString m_folder;
};
