#include "AesCrypto.h"

#include <QObject>

#include <cstring>
#include <stdexcept>

#include <mbedtls/platform_util.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LARKSPAN_AESNI_CBC 1
#endif

namespace
{

constexpr unsigned char kIntegrityByte = 0xA6; // RFC 3394 default initial value, byte by byte

#ifdef LARKSPAN_AESNI_CBC

// CBC decryption has no dependency between blocks, but the library decrypts
// one block at a time. With the processor's AES instructions, eight blocks in
// flight at once decrypt several times faster; the round keys are the
// library's own decryption schedule (equivalent inverse cipher order).
__attribute__((target("aes,sse2"))) void cbcDecryptAesni(const mbedtls_aes_context &ctx, const unsigned char *in,
                                                          size_t length, unsigned char iv[16], unsigned char *out)
{
    const int nr = ctx.nr;
    const auto *rkBytes = reinterpret_cast<const unsigned char *>(ctx.rk);
    __m128i rk[15];
    for (int r = 0; r <= nr; ++r)
        rk[r] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rkBytes + 16 * r));
    __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i *>(iv));

    size_t blocks = length / 16;
    constexpr int W = 8;
    while (blocks >= W) {
        __m128i c[W], x[W];
        for (int k = 0; k < W; ++k) {
            c[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16 * k));
            x[k] = _mm_xor_si128(c[k], rk[0]);
        }
        for (int r = 1; r < nr; ++r)
            for (int k = 0; k < W; ++k)
                x[k] = _mm_aesdec_si128(x[k], rk[r]);
        for (int k = 0; k < W; ++k)
            x[k] = _mm_aesdeclast_si128(x[k], rk[nr]);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_xor_si128(x[0], prev));
        for (int k = 1; k < W; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * k), _mm_xor_si128(x[k], c[k - 1]));
        prev = c[W - 1];
        in += 16 * W;
        out += 16 * W;
        blocks -= W;
    }
    for (; blocks > 0; --blocks) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
        __m128i x = _mm_xor_si128(c, rk[0]);
        for (int r = 1; r < nr; ++r)
            x = _mm_aesdec_si128(x, rk[r]);
        x = _mm_aesdeclast_si128(x, rk[nr]);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_xor_si128(x, prev));
        prev = c;
        in += 16;
        out += 16;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(iv), prev);
}

// Whether the fast path may be used: the processor has the instructions and
// the library's schedule is the one they expect, which is checked once
// against the library's own decryption of a few blocks.
bool aesniUsable()
{
    static const bool usable = [] {
        if (!__builtin_cpu_supports("aes") || !__builtin_cpu_supports("sse2"))
            return false;
        unsigned char key[32], data[16 * 9], ours[sizeof data], theirs[sizeof data];
        for (size_t i = 0; i < sizeof key; ++i)
            key[i] = static_cast<unsigned char>(i * 29 + 3);
        for (size_t i = 0; i < sizeof data; ++i)
            data[i] = static_cast<unsigned char>(i * 13 + 7);
        unsigned char iv1[16] = {}, iv2[16] = {};
        mbedtls_aes_context ctx;
        mbedtls_aes_init(&ctx);
        bool same = mbedtls_aes_setkey_dec(&ctx, key, 256) == 0 && ctx.nr == 14
            && mbedtls_aes_crypt_cbc(&ctx, MBEDTLS_AES_DECRYPT, sizeof data, iv1, data, theirs) == 0;
        if (same) {
            cbcDecryptAesni(ctx, data, sizeof data, iv2, ours);
            same = std::memcmp(ours, theirs, sizeof data) == 0 && std::memcmp(iv1, iv2, 16) == 0;
        }
        mbedtls_aes_free(&ctx);
        return same;
    }();
    return usable;
}

#endif

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
#ifdef LARKSPAN_AESNI_CBC
    if (ctx.nr >= 10 && ctx.nr <= 14 && aesniUsable()) {
        cbcDecryptAesni(ctx, reinterpret_cast<const unsigned char *>(data), size_t(length), iv,
                        reinterpret_cast<unsigned char *>(out));
        return true;
    }
#endif
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
