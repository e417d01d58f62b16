#include "MessageIdentity.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QStringList>
#include <QUuid>
#include <QtEndian>

#include <algorithm>
#include <limits>

namespace
{

void appendLittleEndian32(QCryptographicHash &hash, qint32 value)
{
    char bytes[4];
    qToLittleEndian<qint32>(value, bytes);
    hash.addData(QByteArrayView(bytes, 4));
}

} // namespace

QDateTime appleTimeToDateTime(int date)
{
    return QDateTime::fromSecsSinceEpoch(qint64(date) + kAppleEpochOffset, Qt::LocalTime);
}

QString newGuid()
{
    // A random (version 4) UUID from the seeded generator: the system's own
    // source costs a round trip per call, and an SMS of an old file gets one
    // on every read. Upper-case hex digits and hyphens, without the braces.
    quint64 words[2];
    QRandomGenerator::global()->fillRange(words);
    QByteArray bytes(reinterpret_cast<const char *>(words), sizeof(words));
    bytes[6] = char((quint8(bytes[6]) & 0x0f) | 0x40);
    bytes[8] = char((quint8(bytes[8]) & 0x3f) | 0x80);
    return QString::fromLatin1(QUuid::fromRfc4122(bytes).toByteArray(QUuid::WithoutBraces).toUpper());
}

QString guidFromData(const QByteArray &data)
{
    const QString hex =
        QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex()).toUpper();
    return QStringLiteral("%1-%2-%3-%4-%5")
        .arg(hex.mid(0, 8), hex.mid(8, 4), hex.mid(12, 4), hex.mid(16, 4), hex.mid(20, 12));
}

QString absDecimal(qint32 word)
{
    // std::abs of the most negative value overflows; widen first and keep the
    // sign of the one value that has no positive counterpart.
    if (word == std::numeric_limits<qint32>::min())
        return QString::number(qint64(word));
    return QString::number(qAbs(qint64(word)));
}

QString makeChatIdentifier(const QString &seed)
{
    const QByteArray seedBytes = seed.toUtf8();
    QString digits;
    quint32 counter = 0;
    while (digits.size() <= 17) {
        QCryptographicHash md5(QCryptographicHash::Md5);
        appendLittleEndian32(md5, qint32(counter));
        md5.addData(seedBytes);
        ++counter;
        const QByteArray digest = md5.result();
        qint32 word = 0;
        for (int i = 0; i < 4; ++i)
            word ^= qFromLittleEndian<qint32>(digest.constData() + 4 * i);
        digits += absDecimal(word);
    }
    return QStringLiteral("chat") + digits.left(18);
}

FingerprintDigest messageFingerprintDigest(const _MsgMessage &message)
{
    // A backup takes the fingerprint of every message it is given: one hash
    // per thread is started afresh each time instead of made anew.
    thread_local QCryptographicHash md5(QCryptographicHash::Md5);
    md5.reset();
    if (message.item_type != 0) {
        md5.addData(message.guid.toUtf8());
    } else {
        if (message.sender)
            md5.addData(message.sender->id.toUtf8());
        appendLittleEndian32(md5, qint32(message.date));
        const char fromMe = char(message.is_from_me & 0xFF);
        md5.addData(QByteArrayView(&fromMe, 1));
        // Most texts hold no U+FFFC and are hashed as they are.
        if (message.text.contains(QChar(0xFFFC)))
            md5.addData(message.cleanText().toUtf8());
        else
            md5.addData(message.text.toUtf8());
        if (!message.attachments.isEmpty()) {
            QStringList names;
            for (const _MsgAttachment *a : message.attachments) {
                if (!a || a->filename.isEmpty())
                    continue;
                // The last component of the device path, which always uses "/".
                names.append(a->filename.mid(a->filename.lastIndexOf(QLatin1Char('/')) + 1).toLower());
            }
            // QString's operator< compares UTF-16 code units.
            std::sort(names.begin(), names.end());
            for (const QString &n : std::as_const(names))
                md5.addData(n.toUtf8());
        }
    }
    const QByteArrayView result = md5.resultView();
    FingerprintDigest digest{};
    std::copy_n(reinterpret_cast<const unsigned char *>(result.data()), digest.size(), digest.begin());
    return digest;
}

QString fingerprintText(const FingerprintDigest &digest)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    QString text(qsizetype(2 * digest.size()), Qt::Uninitialized);
    QChar *out = text.data();
    for (const unsigned char byte : digest) {
        *out++ = QLatin1Char(kDigits[byte >> 4]);
        *out++ = QLatin1Char(kDigits[byte & 0xF]);
    }
    return text;
}

QString messageFingerprint(const _MsgMessage *message)
{
    if (!message)
        return QString();
    return fingerprintText(messageFingerprintDigest(*message));
}
