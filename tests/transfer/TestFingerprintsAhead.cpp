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
TEST(FingerprintsAhead, EachMessageInOrderGetsItsOwnDigests)
{
    for (const int count : {0, 1, 2047, 2048, 16384, 16385, 40000}) {
        Messages m(count);
        FingerprintsAhead ahead;
        ahead.reset(m.list);
        for (int i = 0; i < count; ++i) {
            const FingerprintsAhead::Coming *digest = ahead.take(m.list.at(i));
            ASSERT_NE(digest, nullptr) << count << " " << i;
            ASSERT_EQ(digest->fingerprint, messageFingerprintDigest(*m.list.at(i))) << count << " " << i;
            ASSERT_EQ(digest->guid, guidDigest(QByteArrayView(m.list.at(i)->guid.toUtf8()))) << count << " " << i;
        }
        EXPECT_EQ(ahead.take(m.list.value(0)), nullptr) << "past the end";
    }
}

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
    }
    EXPECT_NE(guidDigest(QStringLiteral("a")), guidDigest(QStringLiteral("b")));
}

TEST(FingerprintsAhead, AMessageOutOfOrderGetsNoAnswerAndTheListWaits)
{
    Messages m(3000);
    Messages stranger(1);
    FingerprintsAhead ahead;
    ahead.reset(m.list);
    EXPECT_EQ(ahead.take(m.list.at(1)), nullptr);
    EXPECT_EQ(ahead.take(stranger.list.at(0)), nullptr);
    EXPECT_EQ(ahead.take(nullptr), nullptr);
    // The first is still the next one.
    const FingerprintsAhead::Coming *first = ahead.take(m.list.at(0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->fingerprint, messageFingerprintDigest(*m.list.at(0)));

    // Forgotten on reset.
    ahead.reset();
    EXPECT_EQ(ahead.take(m.list.at(1)), nullptr);
}

} // namespace
