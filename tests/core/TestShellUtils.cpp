#include <QDir>
#include <QUrl>

#include <gtest/gtest.h>

#include "RecordingShellOpener.h"
#include "ShellUtils.h"

namespace
{

TEST(ShellOpen, AddressesGoAsTheyAreAndPathsAsLocalFiles)
{
    struct Case {
        QString in;
        QUrl expected;
    };
    const Case cases[] = {
        {"http://service.example.invalid/help.php?pid=1&x=a%20b",
         QUrl("http://service.example.invalid/help.php?pid=1&x=a%20b")},
        {"https://example.invalid/", QUrl("https://example.invalid/")},
        {"mailto:support@example.invalid", QUrl("mailto:support@example.invalid")},
        {"/tmp/a b/report.csv", QUrl::fromLocalFile("/tmp/a b/report.csv")},
        {"rel/x.txt", QUrl::fromLocalFile(QDir::current().absoluteFilePath("rel/x.txt"))},
        {QStringLiteral("/tmp/Zoë#1.html"), QUrl::fromLocalFile(QStringLiteral("/tmp/Zoë#1.html"))},
    };
    for (const Case &c : cases) {
        RecordingShellOpener opener;
        EXPECT_TRUE(shellOpen(c.in));
        ASSERT_EQ(opener.urls().size(), 1) << c.in.toStdString();
        EXPECT_EQ(opener.urls().first(), c.expected) << c.in.toStdString();
    }
}

TEST(ShellOpen, FailureAndEmptyInputAreReported)
{
    RecordingShellOpener opener(false);
    EXPECT_FALSE(shellOpen("/tmp/x"));
    EXPECT_FALSE(openFolderInExplorer("/tmp"));
    EXPECT_EQ(opener.urls().size(), 2);

    opener.setResult(true);
    EXPECT_FALSE(shellOpen(""));
    EXPECT_FALSE(openFolderInExplorer(""));
    EXPECT_EQ(opener.urls().size(), 2);
}

TEST(OpenFolderInExplorer, OpensTheFolderAsALocalFile)
{
    RecordingShellOpener opener;
    EXPECT_TRUE(openFolderInExplorer("/tmp/some folder"));
    EXPECT_TRUE(openFolderInExplorer("relative/dir"));
    ASSERT_EQ(opener.urls().size(), 2);
    EXPECT_EQ(opener.urls().at(0), QUrl::fromLocalFile("/tmp/some folder"));
    EXPECT_EQ(opener.urls().at(1), QUrl::fromLocalFile(QDir::current().absoluteFilePath("relative/dir")));
}

} // namespace
