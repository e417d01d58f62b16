#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "AesCrypto.h"
#include "BackupGenerator.h"

namespace
{

const QByteArray kKek = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");

// RFC 3394 section 4 test vectors with a 256-bit key-encryption key.
struct Vector
{
    const char *name;
    QByteArray keyData;
    QByteArray wrapped;
};
const Vector kVectors[] = {
    {"4.3: 128 bits of key data", QByteArray::fromHex("00112233445566778899AABBCCDDEEFF"),
     QByteArray::fromHex("64E8C3F9CE0F5BA263E9777905818A2A93C8191E7D6E8AE7")},
    {"4.5: 192 bits of key data", QByteArray::fromHex("00112233445566778899AABBCCDDEEFF0001020304050607"),
     QByteArray::fromHex("A8F9BC1612C68B3FF6E6F4FBE30E71E4769C8B80A32CB8958CD5D17D6B254DA1")},
    {"4.6: 256 bits of key data",
     QByteArray::fromHex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F"),
     QByteArray::fromHex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21")},
};

struct AesContext
{
    AesContext() { mbedtls_aes_init(&ctx); }
    ~AesContext() { mbedtls_aes_free(&ctx); }
    mbedtls_aes_context ctx;
};

QByteArray pattern(int n)
{
    QByteArray out(n, '\0');
    for (int i = 0; i < n; ++i)
        out[i] = char(i * 7 + i / 251);
    return out;
}

} // namespace

TEST(AesKeyUnwrap, ReproducesTheRfc3394Vectors)
{
    for (const Vector &v : kVectors) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(aesKeyUnwrap(kKek, v.wrapped).toHex(), v.keyData.toHex());
    }
}

TEST(AesKeyUnwrap, AnyChangedByteFailsTheIntegrityCheck)
{
    for (const Vector &v : kVectors) {
        for (int i = 0; i < v.wrapped.size(); ++i) {
            SCOPED_TRACE(std::string(v.name) + ", byte " + std::to_string(i));
            QByteArray spoilt = v.wrapped;
            spoilt[i] = char(spoilt[i] ^ 0x01);
            EXPECT_TRUE(aesKeyUnwrap(kKek, spoilt).isEmpty());
        }
        QByteArray otherKek = kKek;
        otherKek[31] = char(otherKek[31] ^ 0x80);
        EXPECT_TRUE(aesKeyUnwrap(otherKek, v.wrapped).isEmpty());
    }
}

TEST(AesKeyUnwrap, MalformedInputGivesNoKey)
{
    const QByteArray wrapped = kVectors[2].wrapped;
    struct Case
    {
        const char *name;
        QByteArray kek;
        QByteArray wrapped;
    };
    const Case cases[] = {
        {"empty", kKek, {}},
        {"one word", kKek, wrapped.left(8)},
        {"two words", kKek, wrapped.left(16)},
        {"not whole words", kKek, wrapped + "x"},
        {"cut inside a word", kKek, wrapped.left(39)},
        {"128-bit kek", kKek.left(16), wrapped},
        {"no kek", {}, wrapped},
        {"33-byte kek", kKek + "x", wrapped},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(aesKeyUnwrap(c.kek, c.wrapped).isEmpty());
    }
}

TEST(AesSetDecryptKey, RefusesKeysOtherThan256Bits)
{
    AesContext aes;
    for (const int n : {0, 16, 24, 31, 33}) {
        SCOPED_TRACE(n);
        EXPECT_THROW(aesSetDecryptKey(aes.ctx, QByteArray(n, 'k')), std::runtime_error);
    }
    EXPECT_NO_THROW(aesSetDecryptKey(aes.ctx, QByteArray(32, 'k')));
}

TEST(AesCbcDecrypt, BlocksDecryptAsOneStreamWithTheChainingValueCarried)
{
    const QByteArray key = pattern(32);
    const QByteArray plain = pattern(8192 + 9); // padded to 8208 bytes
    const QByteArray stored = BackupGenerator::encryptContents(key, plain);
    ASSERT_EQ(stored.size(), 8208);

    struct Case
    {
        const char *name;
        QList<int> blocks;
    };
    const Case cases[] = {
        {"at once", {8208}},
        {"8192 then 16", {8192, 16}},
        {"one AES block at a time", QList<int>(8208 / 16, 16)},
        {"uneven whole blocks", {48, 4096, 4064}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AesContext aes;
        aesSetDecryptKey(aes.ctx, key);
        unsigned char iv[16] = {};
        QByteArray out;
        int at = 0;
        for (const int n : c.blocks) {
            out += aesCbcDecrypt(aes.ctx, stored.constData() + at, n, iv);
            at += n;
        }
        EXPECT_EQ(std::memcmp(iv, stored.constData() + stored.size() - 16, 16), 0);
        EXPECT_EQ(out.left(plain.size()), plain);
        EXPECT_EQ(out.mid(plain.size()), QByteArray(7, char(7))); // padding is left in place
    }
}

TEST(AesCbcDecrypt, IntoACallersBufferAndInPlace)
{
    const QByteArray key = pattern(32);
    const QByteArray plain = pattern(100);
    const QByteArray stored = BackupGenerator::encryptContents(key, plain);
    AesContext aes;
    aesSetDecryptKey(aes.ctx, key);

    unsigned char iv[16] = {};
    QByteArray out(stored.size(), '\0');
    ASSERT_TRUE(aesCbcDecrypt(aes.ctx, stored.constData(), stored.size(), iv, out.data()));
    EXPECT_EQ(out.left(100), plain);

    unsigned char iv2[16] = {};
    QByteArray inPlace = stored;
    ASSERT_TRUE(aesCbcDecrypt(aes.ctx, inPlace.constData(), 64, iv2, inPlace.data()));
    ASSERT_TRUE(aesCbcDecrypt(aes.ctx, inPlace.constData() + 64, 48, iv2, inPlace.data() + 64));
    EXPECT_EQ(inPlace, out);
}

TEST(AesCbcDecrypt, LengthNotAWholeNumberOfBlocksIsRefused)
{
    AesContext aes;
    aesSetDecryptKey(aes.ctx, pattern(32));
    const QByteArray data = pattern(64);
    for (const int n : {1, 15, 17, 63, -16, 0}) {
        SCOPED_TRACE(n);
        unsigned char iv[16];
        std::memset(iv, 0x5A, sizeof iv);
        char out[64];
        std::memset(out, 0x33, sizeof out);
        EXPECT_TRUE(aesCbcDecrypt(aes.ctx, data.constData(), n, iv).isEmpty());
        EXPECT_FALSE(aesCbcDecrypt(aes.ctx, data.constData(), n, iv, out));
        for (unsigned char b : iv)
            EXPECT_EQ(b, 0x5A);
        for (char b : out)
            EXPECT_EQ(b, 0x33);
    }
}

TEST(AesCbcDecrypt, AgreesWithTheLibrarysCbcForEveryBlockCountAndSplit)
{
    const QByteArray key = pattern(32).toHex().left(32);
    QByteArray data(16 * 40, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 131 + 17) ^ (i >> 3));
    mbedtls_aes_context lib;
    mbedtls_aes_init(&lib);
    mbedtls_aes_setkey_dec(&lib, reinterpret_cast<const unsigned char *>(key.constData()), 256);
    AesContext aes;
    aesSetDecryptKey(aes.ctx, key);
    for (int blocks = 1; blocks <= 40; ++blocks) {
        for (const int first : {blocks, blocks / 2, 1, 9}) {
            if (first < 1 || first > blocks)
                continue;
            SCOPED_TRACE(std::to_string(blocks) + " blocks, first call " + std::to_string(first));
            const int length = 16 * blocks;
            unsigned char libIv[16], iv[16];
            std::memset(libIv, 0xC3, 16);
            std::memset(iv, 0xC3, 16);
            QByteArray expected(length, '\0');
            mbedtls_aes_crypt_cbc(&lib, MBEDTLS_AES_DECRYPT, size_t(length), libIv,
                                  reinterpret_cast<const unsigned char *>(data.constData()),
                                  reinterpret_cast<unsigned char *>(expected.data()));
            QByteArray out = data.left(length); // decrypted in place
            ASSERT_TRUE(aesCbcDecrypt(aes.ctx, out.constData(), 16 * first, iv, out.data()));
            if (first < blocks) {
                ASSERT_TRUE(aesCbcDecrypt(aes.ctx, out.constData() + 16 * first, 16 * (blocks - first), iv,
                                          out.data() + 16 * first));
            }
            EXPECT_EQ(out, expected);
            EXPECT_EQ(std::memcmp(iv, libIv, 16), 0);
        }
    }
    mbedtls_aes_free(&lib);
}
