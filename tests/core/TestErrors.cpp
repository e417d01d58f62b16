#include <gtest/gtest.h>

#include <stdexcept>

#include "Errors.h"

namespace
{

template <class F>
std::string runtimeErrorText(F &&call)
{
    try {
        call();
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return "(no runtime_error)";
}

TEST(Errors, ThrowErrorCarriesTheTextAsUtf8)
{
    // A name as a device or a backup gives it: accents and a character
    // outside the basic plane must reach the error box unchanged.
    const QString text = QStringLiteral("Can not read \u00c9milie's \U0001F4F1 backup.");
    EXPECT_EQ(runtimeErrorText([&] { throwError(text); }), text.toUtf8().toStdString());
    EXPECT_EQ(runtimeErrorText([] { throwError(QString()); }), "");
}

TEST(Errors, ThrowCannotCreateNamesTargetAndReason)
{
    struct Case {
        QString target;
        QString reason;
        const char *expected;
    };
    const Case cases[] = {
        {QStringLiteral("/home/u/.local/share/db"), QStringLiteral("No space left on device"),
         "can not create /home/u/.local/share/db. No space left on device"},
        // A reason holding %1 is no placeholder of the message.
        {QStringLiteral("a%2"), QStringLiteral("50%1 done"), "can not create a%2. 50%1 done"},
        {QString(), QString(), "can not create . "},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(runtimeErrorText([&] { throwCannotCreate(c.target, c.reason); }), c.expected)
            << c.target.toStdString();
    }
}

} // namespace
