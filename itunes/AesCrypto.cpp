#include "AesCrypto.h"

#include <QObject>

#include <cstring>
#include <stdexcept>

#include <mbedtls/platform_util.h>

namespace
{

constexpr unsigned char kIntegrityByte = 0xA6; // RFC 3394 default initial value, byte by byte

} // namespace

QByteArray aesKeyUnwrap(const QByteArray &kek, const QByteArray &wrapped)
{
    if (kek.size() != 32 || wrapped.size() < 24 || wrapped.size() % 8 != 0)
        return QByteArray();
    const qsizetype n = wrapped.size() / 8 - 1;

    mbedtls_aes_context ctx;
    mbedtls_aes_init(&ctx);
    if (mbedtls_aes_setkey_dec(&ctx, reinterpret_cast<const unsigned char *>(kek.constData()), 256) != 0) {
        mbedtls_aes_free(&ctx);
        return QByteArray();
    }

    unsigned char a[8];
    std::memcpy(a, wrapped.constData(), 8);
    QByteArray r = wrapped.mid(8);
    auto *words = reinterpret_cast<unsigned char *>(r.data());
    unsigned char block[16];
    for (int j = 5; j >= 0; --j) {
        for (qsizetype i = n; i >= 1; --i) {
            const quint64 t = quint64(n) * quint64(j) + quint64(i);
            std::memcpy(block, a, 8);
            for (int k = 0; k < 8; ++k)
                block[k] ^= static_cast<unsigned char>(t >> (56 - 8 * k));
            unsigned char *word = words + (i - 1) * 8;
            std::memcpy(block + 8, word, 8);
            mbedtls_aes_crypt_ecb(&ctx, MBEDTLS_AES_DECRYPT, block, block);
            std::memcpy(a, block, 8);
            std::memcpy(word, block + 8, 8);
        }
    }
    mbedtls_aes_free(&ctx);
    mbedtls_platform_zeroize(block, sizeof block);

    unsigned char diff = 0;
    for (unsigned char byte : a)
        diff |= byte ^ kIntegrityByte;
    if (diff != 0) {
        mbedtls_platform_zeroize(r.data(), size_t(r.size()));
        return QByteArray();
    }
    return r;
}

void aesSetDecryptKey(mbedtls_aes_context &ctx, const QByteArray &key)
{
    if (key.size() != 32
        || mbedtls_aes_setkey_dec(&ctx, reinterpret_cast<const unsigned char *>(key.constData()), 256) != 0)
        throw std::runtime_error(QObject::tr("An AES-256 key must be 32 bytes long.").toStdString());
}

bool aesCbcDecrypt(mbedtls_aes_context &ctx, const char *data, int length, unsigned char iv[16], char *out)
{
    if (length <= 0 || length % 16 != 0)
        return false;
    return mbedtls_aes_crypt_cbc(&ctx, MBEDTLS_AES_DECRYPT, size_t(length), iv,
                                 reinterpret_cast<const unsigned char *>(data), reinterpret_cast<unsigned char *>(out))
        == 0;
}

QByteArray aesCbcDecrypt(mbedtls_aes_context &ctx, const char *data, int length, unsigned char iv[16])
{
    if (length <= 0 || length % 16 != 0)
        return QByteArray();
    QByteArray out(length, Qt::Uninitialized);
    if (!aesCbcDecrypt(ctx, data, length, iv, out.data()))
        return QByteArray();
    return out;
}
