#include <ostream>

#include <gtest/gtest.h>

#include "Country.h"
#include "PhoneNumber.h"

namespace
{

Country india()
{
    Country c;
    c.sn = QStringLiteral("IN");
    c.n = QStringLiteral("India");
    c.pnum = QStringLiteral("91");
    c.mmc = QStringLiteral("404,405");
    c.numc = QStringLiteral("10");
    c.r1 = QStringLiteral(R"([7-9]\d{9})");
    return c;
}

// Mobile numbers of ten digits (15... or 17...), national numbers of ten or eleven.
Country code49()
{
    Country c;
    c.sn = QStringLiteral("ZD");
    c.pnum = QStringLiteral("49");
    c.numc = QStringLiteral("10,11");
    c.r1 = QStringLiteral(R"(15\d{8}|17\d{8})");
    return c;
}

// A country without a mobile pattern.
Country noPattern()
{
    Country c;
    c.sn = QStringLiteral("AC");
    c.pnum = QStringLiteral("247");
    c.numc = QStringLiteral("4");
    return c;
}

struct Case
{
    const char *country;
    const char *input;
    const char *expected;
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << "country " << c.country << ", \"" << c.input << "\" -> \"" << c.expected << "\"";
}

Country countryNamed(const char *name)
{
    const QByteArray n(name);
    if (n == "IN")
        return india();
    if (n == "49")
        return code49();
    if (n == "AC")
        return noPattern();
    return Country();
}

class NormalizePhoneNumberTest : public ::testing::TestWithParam<Case>
{
};

TEST_P(NormalizePhoneNumberTest, Normalizes)
{
    const Case &t = GetParam();
    EXPECT_EQ(normalizePhoneNumber(countryNamed(t.country), QString::fromUtf8(t.input)), QString::fromUtf8(t.expected));
}

INSTANTIATE_TEST_SUITE_P(
    India, NormalizePhoneNumberTest,
    ::testing::Values(
        // A national number, blanks removed.
        Case{"IN", "98765 43210", "+919876543210"},
        // With the trunk prefix.
        Case{"IN", "09876543210", "+919876543210"},
        // With the calling code but without "+".
        Case{"IN", "919876543210", "+919876543210"},
        // Begins with the calling code digits yet is a national number: national wins.
        Case{"IN", "9123456789", "+919123456789"},
        Case{"IN", "(0)98765-43210", "+919876543210"},
        // A "+" anywhere: only cleaned.
        Case{"IN", "+91 98765-43210", "+919876543210"}, Case{"IN", "12+34", "12+34"},
        Case{"IN", "12345", "12345"},
        // Trunk prefix before a number that is no mobile number: stays as it is.
        Case{"IN", "01234567890", "01234567890"},
        // Calling code followed by a national number of the wrong length.
        Case{"IN", "91987654321", "91987654321"},
        // Letters or an at sign: lower-cased, blanks and punctuation kept.
        Case{"IN", "Some.One@Example.COM", "some.one@example.com"}, Case{"IN", "Mum Mobile", "mum mobile"},
        Case{"IN", "AB-98765 43210", "ab-98765 43210"}, Case{"IN", "98765@43210", "98765@43210"},
        // Nothing to dial.
        Case{"IN", "", ""}, Case{"IN", " ()- ", ""}, Case{"IN", "+", "+"}));

INSTANTIATE_TEST_SUITE_P(
    CallingCode49, NormalizePhoneNumberTest,
    ::testing::Values(
        // Step over the trunk prefix: no alternative covers the number with its 0.
        Case{"49", "01712345678", "+491712345678"}, Case{"49", "1712345678", "+491712345678"},
        Case{"49", "0151 2345678", "+491512345678"}, Case{"49", "491712345678", "+491712345678"},
        // The calling code with a national number of valid length needs no pattern.
        Case{"49", "4930123456789", "+4930123456789"},
        // One alternative covers only the first ten digits: not a mobile number.
        Case{"49", "17123456789", "17123456789"}, Case{"49", "0301234567", "0301234567"}));

INSTANTIATE_TEST_SUITE_P(
    EmptyCountry, NormalizePhoneNumberTest,
    ::testing::Values(Case{"", "98765 43210", "9876543210"}, Case{"", "0171 2345678", "01712345678"},
                      Case{"", "+49 171 2345678", "+491712345678"}, Case{"", "Name@Host.ORG", "name@host.org"},
                      // Cleans to nothing: empty, never a bare "+".
                      Case{"", "", ""}, Case{"", "-()", ""}, Case{"", "  ", ""}));

INSTANTIATE_TEST_SUITE_P(
    WithoutPattern, NormalizePhoneNumberTest,
    ::testing::Values(Case{"AC", "1234", "1234"}, Case{"AC", "01234", "01234"},
                      // Only the number that already carries the calling code gets its "+".
                      Case{"AC", "2471234", "+2471234"}, Case{"AC", "247 12345", "24712345"}));

TEST(NormalizePhoneNumberEdgeTest, ACountryWithoutCallingCodeNeverAddsAPlus)
{
    // Lengths and a pattern but no calling code: there is no international form.
    Country c;
    c.numc = QStringLiteral("4");
    c.r1 = QStringLiteral(R"(\d{4})");
    EXPECT_EQ(normalizePhoneNumber(c, QStringLiteral("1234")), QStringLiteral("1234"));
    EXPECT_EQ(normalizePhoneNumber(c, QStringLiteral("01234")), QStringLiteral("01234"));
}

} // namespace
