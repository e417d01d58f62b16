#include <QList>

#include <gtest/gtest.h>

#include "Rc4.h"

namespace
{

TEST(Rc4Test, PublishedVectors)
{
    struct Case
    {
        const char *label;
        QByteArray key;
        QByteArray plain;
        QByteArray cipherHex;
    };
    const QList<Case> cases = {
        {"Key / Plaintext", "Key", "Plaintext", "bbf316e8d940af0ad3"},
        {"Wiki / pedia", "Wiki", "pedia", "1021bf0420"},
        {"Secret / Attack at dawn", "Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
        // RFC 6229, 40-bit key 0x0102030405: keystream bytes 0 to 31.
        {"RFC 6229 key 0102030405", QByteArray::fromHex("0102030405"), QByteArray(32, '\0'),
         "b2396305f03dc027ccc3524a0a1118a86982944f18fc82d589c403a47a0d0919"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(rc4(c.key, c.plain).toHex(), c.cipherHex) << c.label;
        // Deciphering is the same operation.
        EXPECT_EQ(rc4(c.key, QByteArray::fromHex(c.cipherHex)), c.plain) << c.label;
    }
}

TEST(Rc4Test, EveryCallStartsAtTheBeginningOfTheKeystream)
{
    const QByteArray key = "3F9C2E71B08D46A5E1C7092B5DA4F816";
    const QByteArray first = rc4(key, "same body");
    EXPECT_EQ(rc4(key, "same body"), first);
    EXPECT_NE(first, QByteArray("same body"));
    EXPECT_TRUE(rc4(key, QByteArray()).isEmpty());
    // A long key uses every one of its bytes: changing the last one changes
    // the keystream.
    QByteArray other = key;
    other[31] = '7';
    EXPECT_NE(rc4(other, "same body"), first);
}

} // namespace
