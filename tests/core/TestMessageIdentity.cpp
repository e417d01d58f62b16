#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <limits>

#include "MessageIdentity.h"
#include "MsgSetBuilder.h"

// The expected values in this file were computed by hand, with a short
// independent script over the same bytes (hashlib.md5, struct.pack), not by
// this code.

namespace
{

TEST(MessageIdentityTest, AppleTimeToDateTime)
{
    struct Case
    {
        int date;
        const char *utc;
    };
    const Case cases[] = {
        {0, "2001-01-01T00:00:00Z"},
        {1, "2001-01-01T00:00:01Z"},
        {-1, "2000-12-31T23:59:59Z"},
        {400000000, "2013-09-04T15:06:40Z"},
        // Both ends of the int range, which overflow when added to the epoch
        // offset in 32 bits.
        {std::numeric_limits<int>::max(), "2069-01-19T03:14:07Z"},
        {std::numeric_limits<int>::min(), "1932-12-13T20:45:52Z"},
    };
    for (const Case &c : cases) {
        const QDateTime dt = appleTimeToDateTime(c.date);
        EXPECT_EQ(dt.timeSpec(), Qt::LocalTime) << c.date;
        EXPECT_EQ(dt.toUTC().toString(Qt::ISODate), QString::fromLatin1(c.utc)) << c.date;
        EXPECT_EQ(dt.toSecsSinceEpoch(), qint64(c.date) + 978307200) << c.date;
    }
}

TEST(MessageIdentityTest, NewGuidShape)
{
    static const QRegularExpression shape(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"));
    QSet<QString> seen;
    // A random one (version 4, the variant of RFC 4122) each time.
    for (int i = 0; i < 200; ++i) {
        const QString g = newGuid();
        EXPECT_TRUE(shape.match(g).hasMatch()) << g.toStdString();
        seen.insert(g);
    }
    EXPECT_EQ(seen.size(), 200);
}

TEST(MessageIdentityTest, GuidFromData)
{
    struct Case
    {
        QByteArray data;
        const char *expected;
    };
    const Case cases[] = {
        {QByteArray(), "D41D8CD9-8F00-B204-E980-0998ECF8427E"},
        {QByteArray("abc"), "90015098-3CD2-4FB0-D696-3F7D28E17F72"},
        {QByteArray("SMS;-;+4915112345678"), "7A4134EC-97DA-3AD6-BF5C-209D05649DDD"},
        {QByteArray("\x00\xff\x00", 3), "B2B237A1-BBD9-C57B-93B9-52C24E7936A8"},
        {QStringLiteral("Grüße").toUtf8(), "49C5F675-B490-37B6-044B-803AC9D1A6D7"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(guidFromData(c.data), QString::fromLatin1(c.expected)) << c.expected;
}

TEST(MessageIdentityTest, MakeChatIdentifier)
{
    struct Case
    {
        QString seed;
        const char *expected;
    };
    const Case cases[] = {
        {QString(), "chat922209552194357126"},
        {QStringLiteral("a"), "chat133517912513081738"},
        {QStringLiteral("SMS;-;+4915112345678"), "chat144753723611898180"},
        {QStringLiteral("SMS;-;anna@example.org"), "chat178314878024207197"},
        {QStringLiteral("Grüße 😀"), "chat111423717416266681"},
        // Two short numbers (9 + 8 digits) need a third digest, of which only
        // the first digit is taken.
        {QStringLiteral("SMS;-;+15550011"), "chat177391369128222131"},
        {QStringLiteral("SMS;-;+15550042"), "chat861795429457716972"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(makeChatIdentifier(c.seed), QString::fromLatin1(c.expected)) << c.expected;
        EXPECT_EQ(makeChatIdentifier(c.seed), makeChatIdentifier(c.seed));
    }
}

TEST(MessageIdentityTest, AbsDecimalOfEveryKindOfWord)
{
    struct Case
    {
        qint32 word;
        const char *expected;
    };
    const Case cases[] = {
        {0, "0"},
        {7, "7"},
        {-7, "7"},
        {std::numeric_limits<qint32>::max(), "2147483647"},
        {-std::numeric_limits<qint32>::max(), "2147483647"},
        {std::numeric_limits<qint32>::min(), "-2147483648"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(absDecimal(c.word), QString::fromLatin1(c.expected)) << c.word;
}

struct FingerprintCase
{
    const char *label;
    bool hasSender;
    QString senderId;
    int date;
    int isFromMe;
    QString text;
    QStringList filenames;
    const char *expected;
};

TEST(MessageIdentityTest, FingerprintOfOrdinaryMessages)
{
    const QChar p(0xFFFC);
    const QList<FingerprintCase> cases = {
        {"plain", true, "+4915112345678", 400000000, 1, "Hello", {}, "8eb77e91abbddffd78cc6365716a84ff"},
        {"no sender", false, "", 400000000, 1, "Hello", {}, "9a1cbb78356104c9a39e0e7b48a8bafc"},
        {"sender with empty id", true, "", 400000000, 1, "Hello", {}, "9a1cbb78356104c9a39e0e7b48a8bafc"},
        {"negative date, placeholder removed", true, "a@b.org", -5, 0, QStringLiteral("Hi ") + p + "there", {},
         "3629b30fc686ba45e6662ffc0ab412e2"},
        {"largest date, empty text", true, "a@b.org", std::numeric_limits<int>::max(), 0, "", {},
         "0688ca5d616cb06728febea59c2f3943"},
        {"only the low byte of is_from_me", true, "+1", 7, 257, "x", {}, "ca3dba72f82096810be45b49be18d883"},
        {"UTF-8 text", true, "+1", 7, 0, QStringLiteral("Grüße 😀"), {}, "ee868014610b4f2b3b4b8a2b9174b6b2"},
        {"attachment names: last component, lower case, sorted, empty ones skipped", true, "+1", 7, 0,
         QString(p) + p + "pics",
         {"~/Library/SMS/Attachments/ab/IMG_0002.JPG", "", "~/Library/b/img_0001.jpeg", "noslash.PNG", "dir/"},
         "7f8a88d28a6d7ba27d3ea997358f7f87"},
        {"attachment names sorted by UTF-16 code units", true, "+1", 7, 0, "",
         {QStringLiteral("x/～a"), QStringLiteral("y/😀b"), QStringLiteral("z/Ä.GIF")},
         "5ff1337e8753d2bddd8d18f0542f48df"},
    };
    for (const FingerprintCase &c : cases) {
        MsgSetBuilder b;
        _MsgHandle *h = c.hasSender ? b.handle(nullptr, 1, c.senderId) : nullptr;
        _MsgMessage *m = b.message(nullptr, 1, c.date, c.text, h);
        m->is_from_me = c.isFromMe;
        qint64 rowid = 1;
        for (const QString &f : c.filenames)
            b.attachment(m, rowid++, f);
        EXPECT_EQ(messageFingerprint(m), QString::fromLatin1(c.expected)) << c.label;
    }
}

TEST(MessageIdentityTest, FingerprintIgnoresWhereAMessageWasRead)
{
    MsgSetBuilder b;
    _MsgChat *c1 = b.chat(1);
    _MsgChat *c2 = b.chat(2);
    _MsgHandle *h = b.handle(c1, 1, QStringLiteral("+4915112345678"));
    _MsgMessage *m1 = b.message(c1, 10, 400000000, QStringLiteral("Hello"), h);
    m1->is_from_me = 1;
    _MsgMessage *m2 = b.message(c2, 99, 400000000, QStringLiteral("Hello"), h);
    m2->is_from_me = 1;
    m2->guid = QStringLiteral("OTHER");
    m2->service = QStringLiteral("iMessage");
    m2->date_read = 5;
    m2->date_delivered = 6;
    const QString expected = QStringLiteral("8eb77e91abbddffd78cc6365716a84ff");
    EXPECT_EQ(messageFingerprint(m1), expected);
    EXPECT_EQ(messageFingerprint(m2), expected);

    // Attachment names in another folder or letter case give the same hash;
    // a new name changes it.
    b.attachment(m1, 1, QStringLiteral("~/Library/SMS/IMG_1.JPG"));
    b.attachment(m2, 2, QStringLiteral("/var/mobile/img_1.jpg"));
    EXPECT_EQ(messageFingerprint(m1), messageFingerprint(m2));
    EXPECT_NE(messageFingerprint(m1), expected);
    b.attachment(m2, 3, QString()); // no file name: not part of the hash
    EXPECT_EQ(messageFingerprint(m1), messageFingerprint(m2));
    EXPECT_EQ(messageFingerprint(nullptr), QString());
}

TEST(MessageIdentityTest, FingerprintOfASystemEventIsItsGuid)
{
    struct Case
    {
        int itemType;
        const char *guid;
        const char *expected;
    };
    const Case cases[] = {
        {2, "7E1D8C5B-0A4F-4C3B-9E2D-1F0A2B3C4D5E", "c73170f3f10a6d82a276aa134a7f72a6"},
        {-1, "7E1D8C5B-0A4F-4C3B-9E2D-1F0A2B3C4D5E", "c73170f3f10a6d82a276aa134a7f72a6"},
        {7, "", "d41d8cd98f00b204e9800998ecf8427e"},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        _MsgMessage *m = b.message(nullptr, 1, 12345, QStringLiteral("text"), b.handle(nullptr, 1, "+1"));
        m->item_type = c.itemType;
        m->guid = QString::fromLatin1(c.guid);
        b.attachment(m, 1, QStringLiteral("a.jpg"));
        EXPECT_EQ(messageFingerprint(m), QString::fromLatin1(c.expected)) << c.itemType;
    }
}

} // namespace
