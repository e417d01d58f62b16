#include "BackupKeybag.h"

#include <QtEndian>

#include <mbedtls/md.h>
#include <mbedtls/pkcs5.h>
#include <mbedtls/platform_util.h>

#include "AesCrypto.h"

namespace
{

const QString kUuid = QStringLiteral("UUID");
const QString kClas = QStringLiteral("CLAS");
const QString kWrap = QStringLiteral("WRAP");
const QString kWpky = QStringLiteral("WPKY");
const QString kIter = QStringLiteral("ITER");
const QString kSalt = QStringLiteral("SALT");
const QString kKey = QStringLiteral("KEY");

// The tags that belong to a class entry rather than to the keybag itself.
bool isClassTag(const QString &tag)
{
    return tag == kClas || tag == kWrap || tag == kWpky || tag == QLatin1String("KTYP")
        || tag == QLatin1String("PBKY");
}

bool isNumberTag(const QString &tag)
{
    return tag == kClas || tag == kWrap || tag == kIter;
}

// The wrap bit that says a class key is protected by the backup password.
constexpr int kPasswordWrap = 2;
constexpr int kWrappedClassKeySize = 40;
constexpr int kWrappedFileKeySize = 40;
constexpr int kKeySize = 32;

} // namespace

BackupKeybag::BackupKeybag(const QByteArray &keybagBytes)
{
    TagMap current;
    const qsizetype size = keybagBytes.size();
    qsizetype pos = 0;
    while (pos < size) {
        if (size - pos < 8) {
            m_damaged = true;
            break;
        }
        const QString tag = QString::fromLatin1(keybagBytes.constData() + pos, 4);
        const quint32 length = qFromBigEndian<quint32>(keybagBytes.constData() + pos + 4);
        pos += 8;
        if (length > quint64(size - pos)) {
            m_damaged = true;
            break;
        }
        const QByteArray value = keybagBytes.mid(pos, qsizetype(length));
        pos += qsizetype(length);
        if (isNumberTag(tag) && value.size() < 4)
            m_damaged = true;

        if (tag == kUuid && !tags.contains(kUuid)) {
            tags.insert(tag, value);
        } else if (tag == kWrap && !tags.contains(kWrap)) {
            tags.insert(tag, value);
        } else if (tag != kUuid) {
            if (isClassTag(tag))
                current.insert(tag, value);
            else
                tags.insert(tag, value);
        } else {
            if (current.contains(kClas))
                classes.insert(intValue(current, kClas), current);
            current.clear();
            current.insert(tag, value);
        }
        if (current.contains(kClas))
            classes.insert(intValue(current, kClas), current);
    }
}

int BackupKeybag::intValue(const TagMap &tags, const QString &tag)
{
    const auto it = tags.constFind(tag);
    if (it == tags.constEnd() || it->size() < 4)
        return 0;
    return int(qFromBigEndian<quint32>(it->constData()));
}

bool BackupKeybag::unlock(const QByteArray &password)
{
    if (m_damaged)
        return false;
    const auto iter = tags.constFind(kIter);
    if (iter == tags.constEnd() || iter->size() < 4)
        return false;
    const quint32 iterations = qFromBigEndian<quint32>(iter->constData());
    if (iterations == 0 || iterations > MaxIterations)
        return false;
    const QByteArray salt = tags.value(kSalt);

    const mbedtls_md_info_t *sha1 = mbedtls_md_info_from_type(MBEDTLS_MD_SHA1);
    if (!sha1)
        return false;
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);
    unsigned char passwordKey[kKeySize];
    int rc = mbedtls_md_setup(&md, sha1, 1);
    if (rc == 0)
        rc = mbedtls_pkcs5_pbkdf2_hmac(&md, reinterpret_cast<const unsigned char *>(password.constData()),
                                       size_t(password.size()), reinterpret_cast<const unsigned char *>(salt.constData()),
                                       size_t(salt.size()), iterations, kKeySize, passwordKey);
    mbedtls_md_free(&md);
    if (rc != 0)
        return false;
    QByteArray kek(reinterpret_cast<const char *>(passwordKey), kKeySize);
    mbedtls_platform_zeroize(passwordKey, sizeof passwordKey);

    bool unwrapped = false;
    bool ok = true;
    for (auto it = classes.begin(); it != classes.end(); ++it) {
        const auto wpky = it->constFind(kWpky);
        if (wpky == it->constEnd())
            continue;
        if (!(intValue(*it, kWrap) & kPasswordWrap))
            continue;
        const QByteArray key = wpky->size() == kWrappedClassKeySize ? aesKeyUnwrap(kek, *wpky) : QByteArray();
        if (key.size() != kKeySize) {
            ok = false;
            break;
        }
        it->insert(kKey, key);
        unwrapped = true;
    }
    mbedtls_platform_zeroize(kek.data(), size_t(kek.size()));
    return ok && unwrapped;
}

QByteArray BackupKeybag::unwrapKeyForClass(int protectionClass, const QByteArray &wrappedKey) const
{
    if (wrappedKey.size() != kWrappedFileKeySize)
        return QByteArray();
    const auto entry = classes.constFind(protectionClass);
    if (entry == classes.constEnd())
        return QByteArray();
    const auto key = entry->constFind(kKey);
    if (key == entry->constEnd())
        return QByteArray();
    return aesKeyUnwrap(*key, wrappedKey);
}
