#pragma once

#include <QString>

class Country;

// The canonical form of a correspondent's address, used as handle id and
// conversation key. An address holding a letter or "@" is only lower-cased.
// A number is reduced to its digits and "+"; without a "+" it is put into
// international form with the country's calling code when the country's
// length and mobile-number rules accept it as a national number (with or
// without the trunk prefix 0), or when it already starts with the calling
// code followed by a national number of valid length. Otherwise the cleaned
// number comes back as it is; a number that cleans to nothing gives "".
QString normalizePhoneNumber(const Country &country, const QString &number);
