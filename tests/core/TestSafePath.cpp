#include <QString>

#include <gtest/gtest.h>

#include "SafePath.h"

namespace
{

// What names from a backup catalogue, a device's folder listing or archive,
// a device identifier or a typed database name look like, good and bad.
struct Case {
    QString text;
    bool component;          // as a folder name of our own
    bool componentBackslash; // as a device's file name, backslash a character
    bool relativePath;
};

const QString kNul = QString(QChar(0));

const Case kCases[] = {
    {QStringLiteral("sms.db"), true, true, true},
    {QStringLiteral("00008030-001A2B3C4D5E802E"), true, true, true},
    {QStringLiteral("0123456789abcdef0123456789abcdef01234567"), true, true, true},
    {QStringLiteral("My iPhone_Backup"), true, true, true},
    {QStringLiteral(".hidden"), true, true, true},
    {QStringLiteral("..."), true, true, true},
    {QStringLiteral("a..b"), true, true, true},
    {QStringLiteral(" "), true, true, true},
    {QStringLiteral("\u00c9milie"), true, true, true},
    {QString(), false, false, false},
    {QStringLiteral("."), false, false, false},
    {QStringLiteral(".."), false, false, false},
    {QStringLiteral("/"), false, false, false},
    {QStringLiteral("/etc"), false, false, false},
    {QStringLiteral("a/b"), false, false, true},
    {QStringLiteral("HomeDomain/Library/SMS/sms.db"), false, false, true},
    {QStringLiteral("MediaDomain/Library/SMS/Attachments/0a/10/IMG_0001.JPG"), false, false, true},
    {QStringLiteral("a/"), false, false, false},
    {QStringLiteral("a//b"), false, false, false},
    {QStringLiteral("a/./b"), false, false, false},
    {QStringLiteral("a/../b"), false, false, false},
    {QStringLiteral("a/.."), false, false, false},
    {QStringLiteral("../a"), false, false, false},
    {QStringLiteral("a\\b"), false, true, true},
    {QStringLiteral("..\\x"), false, true, true},
    {QStringLiteral("\\"), false, true, true},
    {QStringLiteral("a") + kNul + QStringLiteral("b"), false, false, false},
    {kNul, false, false, false},
    {QStringLiteral("a/b") + kNul, false, false, false},
};

TEST(SafePath, EachNameIsJudgedByEachRule)
{
    for (const Case &c : kCases) {
        const std::string shown = c.text.toUtf8().toStdString();
        EXPECT_EQ(isSafePathComponent(c.text), c.component) << shown;
        EXPECT_EQ(isSafePathComponent(c.text, Backslash::Separator), c.component) << shown;
        EXPECT_EQ(isSafePathComponent(c.text, Backslash::Character), c.componentBackslash) << shown;
        EXPECT_EQ(isSafeRelativePath(c.text), c.relativePath) << shown;
    }
}

} // namespace
