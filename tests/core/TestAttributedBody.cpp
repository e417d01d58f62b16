#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <stdexcept>

#include "AttributedBody.h"

namespace
{

TEST(AttributedBodyTest, ArchiveAroundTheGuid)
{
    const QString guid = QStringLiteral("7E1D8C5B-0A4F-4C3B-9E2D-1F0A2B3C4D5E");
    const QByteArray body = attributedBodyFromText(guid);
    // Size and digest computed independently from the archive layout.
    EXPECT_EQ(body.size(), 308);
    EXPECT_EQ(QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex(),
              QByteArray("2d14aee13443654e7038d63c00a9f739"));
    EXPECT_TRUE(body.startsWith(QByteArray("\x04\x0bstreamtyped")));
    EXPECT_EQ(body.mid(199, 37), QByteArray("\x24") + guid.toLatin1());
    EXPECT_TRUE(body.contains("NSMutableAttributedString"));
    EXPECT_TRUE(body.contains("\xEF\xBF\xBC")); // the string: U+FFFC
    EXPECT_TRUE(body.contains("__kIMFileTransferGUIDAttributeName"));
    EXPECT_TRUE(body.contains("__kIMMessagePartAttributeName"));
}

TEST(AttributedBodyTest, GuidOfAnyOtherLengthIsRefused)
{
    const QString cases[] = {
        QString(),
        QStringLiteral("7E1D8C5B-0A4F-4C3B-9E2D-1F0A2B3C4D5"),
        QStringLiteral("7E1D8C5B-0A4F-4C3B-9E2D-1F0A2B3C4D5E0"),
        // 36 characters, but more than 36 bytes of UTF-8.
        QStringLiteral("ÄE1D8C5B-0A4F-4C3B-9E2D-1F0A2B3C4D5E"),
    };
    for (const QString &g : cases)
        EXPECT_THROW(attributedBodyFromText(g), std::runtime_error) << g.toStdString();
}

} // namespace
