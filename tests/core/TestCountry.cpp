#include <ostream>

#include <gtest/gtest.h>

#include "Country.h"

namespace
{

Country withLengths(const QString &numc)
{
    Country c;
    c.numc = numc;
    return c;
}

Country withPattern(const QString &r1)
{
    Country c;
    c.r1 = r1;
    return c;
}

struct LengthCase
{
    const char *numc;
    int length;
    bool valid;
};

void PrintTo(const LengthCase &c, std::ostream *os)
{
    *os << "numc \"" << c.numc << "\" length " << c.length;
}

class CountryLengthTest : public ::testing::TestWithParam<LengthCase>
{
};

TEST_P(CountryLengthTest, IsValidLength)
{
    const LengthCase &t = GetParam();
    EXPECT_EQ(withLengths(QString::fromLatin1(t.numc)).isValidLength(t.length), t.valid);
}

INSTANTIATE_TEST_SUITE_P(Lengths, CountryLengthTest,
                         ::testing::Values(LengthCase{"10", 10, true}, LengthCase{"10", 9, false},
                                           LengthCase{"10", 0, false}, LengthCase{"10,11", 11, true},
                                           LengthCase{"7,8,9,10,11,12", 12, true},
                                           LengthCase{"7,8,9,10,11,12", 6, false},
                                           LengthCase{"7,8,9,10,11,12", 13, false},
                                           // The empty list is one empty part: only 0 is valid.
                                           LengthCase{"", 0, true}, LengthCase{"", 1, false},
                                           // Empty and non-numeric parts count as 0.
                                           LengthCase{"10,", 0, true}, LengthCase{",10", 10, true},
                                           LengthCase{"x,5", 0, true}, LengthCase{"x,5", 5, true},
                                           // "1" must not match the "1" inside "10".
                                           LengthCase{"10", 1, false}));

struct PatternCase
{
    const char *r1;
    const char *number;
    bool matches;
};

void PrintTo(const PatternCase &c, std::ostream *os)
{
    *os << "r1 \"" << c.r1 << "\" number \"" << c.number << "\"";
}

class CountryPatternTest : public ::testing::TestWithParam<PatternCase>
{
};

TEST_P(CountryPatternTest, MatchesPattern)
{
    const PatternCase &t = GetParam();
    EXPECT_EQ(withPattern(QString::fromLatin1(t.r1)).matchesPattern(QString::fromLatin1(t.number)), t.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, CountryPatternTest,
    ::testing::Values(PatternCase{R"([7-9]\d{9})", "9876543210", true},
                      // The whole number must be covered, not a part of it.
                      PatternCase{R"([7-9]\d{9})", "98765432101", false},
                      PatternCase{R"([7-9]\d{9})", "09876543210", false},
                      PatternCase{R"([7-9]\d{9})", "987654321", false},
                      // Each top-level alternative on its own covers the whole number or nothing.
                      PatternCase{R"(15\d{8}|17\d{8})", "1712345678", true},
                      PatternCase{R"(15\d{8}|17\d{8})", "1512345678", true},
                      PatternCase{R"(15\d{8}|17\d{8})", "01712345678", false},
                      PatternCase{R"(15\d{8}|17\d{8})", "17123456789", false},
                      PatternCase{R"(63[0-8]\d{6}|69[157-9]\d{6}|6[0-24-8]\d{7}|7[5-9]\d{7})", "612345678", true},
                      PatternCase{R"(63[0-8]\d{6}|69[157-9]\d{6}|6[0-24-8]\d{7}|7[5-9]\d{7})", "0612345678", false},
                      // Case-sensitive.
                      PatternCase{"ab", "AB", false},
                      // An empty pattern accepts nothing, not even the empty number.
                      PatternCase{"", "", false}, PatternCase{"", "12345", false},
                      // A pattern that does not compile accepts nothing.
                      PatternCase{"(12", "12", false}));

TEST(CountryTest, DefaultIsTheEmptyCountry)
{
    const Country c;
    for (const QString *field : {&c.sn, &c.n, &c.ln, &c.pnum, &c.mmc, &c.numc, &c.r1})
        EXPECT_TRUE(field->isEmpty());
    EXPECT_FALSE(c.matchesPattern(QStringLiteral("123")));
    EXPECT_TRUE(c.isValidLength(0));
    EXPECT_FALSE(c.isValidLength(3));
}

TEST(CountryTest, PatternsOfDifferentCountriesDoNotMixUp)
{
    // Alternating countries (as a scan of mixed rows does) must each keep their own rule.
    const Country in = withPattern(R"([7-9]\d{9})");
    const Country de = withPattern(R"(15\d{8}|17\d{8})");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(in.matchesPattern(QStringLiteral("9876543210")));
        EXPECT_FALSE(de.matchesPattern(QStringLiteral("9876543210")));
        EXPECT_TRUE(de.matchesPattern(QStringLiteral("1712345678")));
        EXPECT_FALSE(in.matchesPattern(QStringLiteral("1712345678")));
    }
}

} // namespace
