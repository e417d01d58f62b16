#include <gtest/gtest.h>

#include "CaseName.h"
#include "HtmlEscape.h"

namespace
{

struct EscapeCase
{
    const char *name;
    QString in;
    QString out;
};

void PrintTo(const EscapeCase &c, std::ostream *os)
{
    *os << c.name;
}

class HtmlEscapeTest : public ::testing::TestWithParam<EscapeCase>
{
};

TEST_P(HtmlEscapeTest, Escapes)
{
    EXPECT_EQ(htmlEscape(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Cases, HtmlEscapeTest,
    ::testing::Values(
        EscapeCase{"Empty", QString(), QString()},
        EscapeCase{"Plain", QStringLiteral("hello"), QStringLiteral("hello")},
        EscapeCase{"Tags", QStringLiteral("<script>x</script>"), QStringLiteral("&lt;script&gt;x&lt;/script&gt;")},
        // An ampersand is escaped first, so an entity already in the text shows as typed.
        EscapeCase{"AmpersandFirst", QStringLiteral("&lt; & <"), QStringLiteral("&amp;lt; &amp; &lt;")},
        EscapeCase{"LineEnds", QStringLiteral("a\nb\r\nc"), QStringLiteral("a<br/>b<br/>c")},
        EscapeCase{"BlankLines", QStringLiteral("\n\r\n\n"), QStringLiteral("<br/><br/><br/>")},
        EscapeCase{"LoneCarriageReturnKept", QStringLiteral("a\rb"), QStringLiteral("a\rb")},
        EscapeCase{"QuotesKept", QStringLiteral("\"it's\""), QStringLiteral("\"it's\"")},
        EscapeCase{"NonAscii", QStringLiteral("Grüße <3 \U0001F600"), QStringLiteral("Grüße &lt;3 \U0001F600")}),
    CaseName());

} // namespace
