#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "FingerprintsAhead.h"
#include "MessageIdentity.h"
#include "_MsgHandle.h"

namespace
{

struct Messages
{
    _MsgHandle sender;
    std::vector<std::unique_ptr<_MsgMessage>> owned;
    QList<_MsgMessage *> list;

    explicit Messages(int count)
    {
        sender.id = QStringLiteral("+15550000001");
        for (int i = 0; i < count; ++i) {
            auto m = std::make_unique<_MsgMessage>();
            m->guid = QStringLiteral("GUID-%1").arg(i);
            m->text = QStringLiteral("text %1").arg(i);
            m->date = 400000000 + i;
            m->is_from_me = i % 2;
            m->item_type = i % 97 == 0 ? 1 : 0;
            m->sender = i % 3 == 0 ? nullptr : &sender;
            list.append(m.get());
            owned.push_back(std::move(m));
        }
    }
};

// Lists on either side of the sizes where a block is taken on several
// threads and where a second block starts.
TEST(FingerprintsAhead, EachMessageInOrderGetsItsOwnDigestAndTheNextOnesWithinABlock)
{
    for (const int count : {0, 1, 2047, 2048, 16384, 16385, 40000}) {
        Messages m(count);
        FingerprintsAhead ahead;
        ahead.reset(m.list);
        int nextsKnown = 0;
        for (int i = 0; i < count; ++i) {
            const FingerprintsAhead::Coming *next = nullptr;
            const FingerprintsAhead::Coming *digest = ahead.take(m.list.at(i), &next);
            ASSERT_NE(digest, nullptr) << count << " " << i;
            ASSERT_EQ(digest->fingerprint, messageFingerprintDigest(*m.list.at(i))) << count << " " << i;
            ASSERT_EQ(digest->guid, guidDigest(QByteArrayView(m.list.at(i)->guid.toUtf8()))) << count << " " << i;
            if (next) {
                ASSERT_LT(i + 1, count);
                ASSERT_EQ(next->fingerprint, messageFingerprintDigest(*m.list.at(i + 1))) << count << " " << i;
                ASSERT_EQ(next->guid, guidDigest(QByteArrayView(m.list.at(i + 1)->guid.toUtf8()))) << count << " " << i;
                ++nextsKnown;
            }
        }
        // Only the last of each block of 16384 lacks the next one.
        EXPECT_EQ(nextsKnown, count == 0 ? 0 : count - (count + 16383) / 16384) << count;
        const FingerprintsAhead::Coming *next = nullptr;
        EXPECT_EQ(ahead.take(m.list.value(0), &next), nullptr) << "past the end";
    }
}

// A guid's digest is that of its UTF-8 bytes, as the database holds them,
// whether or not it is short and ASCII.
TEST(FingerprintsAhead, AGuidsDigestIsThatOfItsUtf8)
{
    const QString guids[] = {QString(),
                             QStringLiteral(""),
                             QStringLiteral("8A1F2C3D-0000-4E5F-9A8B-7C6D5E4F3A2B"),
                             QStringLiteral("guid-\u00e9"),
                             QStringLiteral("\U0001F600"),
                             QString(128, QLatin1Char('a')),
                             QString(129, QLatin1Char('a')),
                             QString(127, QLatin1Char('a')) + QChar(0x7f),
                             QString(127, QLatin1Char('a')) + QChar(0x80)};
    for (const QString &guid : guids) {
        const QByteArray utf8 = guid.toUtf8();
        EXPECT_EQ(guidDigest(guid), guidDigest(QByteArrayView(utf8))) << qPrintable(guid);
        EXPECT_NE(guidDigest(guid), 0u);
    }
    EXPECT_NE(guidDigest(QStringLiteral("a")), guidDigest(QStringLiteral("b")));
}

TEST(FingerprintsAhead, AMessageOutOfOrderGetsNoAnswerAndTheListWaits)
{
    Messages m(3000);
    Messages stranger(1);
    FingerprintsAhead ahead;
    ahead.reset(m.list);
    const FingerprintsAhead::Coming *next = nullptr;
    EXPECT_EQ(ahead.take(m.list.at(1), &next), nullptr);
    EXPECT_EQ(next, nullptr);
    EXPECT_EQ(ahead.take(stranger.list.at(0), &next), nullptr);
    EXPECT_EQ(ahead.take(nullptr, &next), nullptr);
    // The first is still the next one.
    const FingerprintsAhead::Coming *first = ahead.take(m.list.at(0), &next);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->fingerprint, messageFingerprintDigest(*m.list.at(0)));

    // Forgotten on reset.
    ahead.reset();
    EXPECT_EQ(ahead.take(m.list.at(1), &next), nullptr);
}

} // namespace
