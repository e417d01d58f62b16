#include "Rc4.h"

#include <utility>

QByteArray rc4(const QByteArray &key, const QByteArray &data)
{
    if (key.isEmpty())
        return data;
    unsigned char s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<unsigned char>(i);
    const auto *k = reinterpret_cast<const unsigned char *>(key.constData());
    const qsizetype keyLength = key.size();
    unsigned char j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<unsigned char>(j + s[i] + k[i % keyLength]);
        std::swap(s[i], s[j]);
    }

    QByteArray out(data);
    auto *p = reinterpret_cast<unsigned char *>(out.data());
    unsigned char a = 0;
    unsigned char b = 0;
    for (qsizetype n = 0; n < out.size(); ++n) {
        a = static_cast<unsigned char>(a + 1);
        b = static_cast<unsigned char>(b + s[a]);
        std::swap(s[a], s[b]);
        p[n] ^= s[static_cast<unsigned char>(s[a] + s[b])];
    }
    return out;
}
