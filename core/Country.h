#pragma once

#include <QString>

class Sqlite3Cursor;

// One country of the country library: its codes, names and the rules that
// tell a national mobile number. A default record has every field empty (the
// empty country): it accepts no number, so normalising with it only cleans.
class Country
{
public:
    Country() = default;
    // Reads the current row of a query on the countries table, by column name.
    explicit Country(const Sqlite3Cursor &row);

    // Whether the pattern r1 covers the whole number (a top-level alternative
    // has to cover all of it on its own). An empty pattern accepts nothing.
    bool matchesPattern(const QString &number) const;
    // Whether one of the comma-separated lengths in numc equals length; a
    // part that is no number counts as 0, so an empty numc accepts only 0.
    bool isValidLength(int length) const;

    QString sn;   // two-letter code, upper case ("DE")
    QString n;    // English name
    QString ln;   // name in the country's own language
    QString pnum; // international calling code without "+" ("49")
    QString mmc;  // mobile country codes, comma-separated ("404,405")
    QString numc; // valid national number lengths, comma-separated ("10,11")
    QString r1;   // regular expression of a national mobile number
};
