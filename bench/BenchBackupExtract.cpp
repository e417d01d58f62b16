// Extraction speed of one large file out of a backup folder: decrypted out
// of an encrypted backup, beside the plain copy of the same file out of an
// unencrypted one, which is the limit decryption can reach.
//
//   bench_backup [size in MiB, default 512] [work folder, default the temp folder]

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <mbedtls/aes.h>
#include <mbedtls/md.h>
#include <mbedtls/pkcs5.h>

#include "BackupManifest.h"
#include "MbdbFile.h"
#include "PlistNode.h"

namespace
{

const QString kDomain = QStringLiteral("HomeDomain");
const QString kSmsPath = QStringLiteral("Library/SMS/sms.db");
const QByteArray kPassword = "bench";
constexpr int kClass = 4;
constexpr int kRuns = 3;

QByteArray be32(quint32 v)
{
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

QByteArray item(const char *tag, const QByteArray &value)
{
    return QByteArray(tag, 4) + be32(quint32(value.size())) + value;
}

QByteArray pseudoRandom(int n, quint64 &state)
{
    QByteArray out(n, Qt::Uninitialized);
    for (int i = 0; i + 8 <= n; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(out.data() + i, &state, 8);
    }
    return out;
}

// RFC 3394 key wrap, the inverse of what the program unwraps.
QByteArray wrapKey(const QByteArray &kek, const QByteArray &key)
{
    mbedtls_aes_context aes;
    mbedtls_aes_init(&aes);
    mbedtls_aes_setkey_enc(&aes, reinterpret_cast<const unsigned char *>(kek.constData()), 256);
    const int n = key.size() / 8;
    unsigned char a[8];
    std::memset(a, 0xA6, 8);
    QByteArray r = key;
    for (int j = 0; j <= 5; ++j) {
        for (int i = 1; i <= n; ++i) {
            unsigned char b[16];
            std::memcpy(b, a, 8);
            std::memcpy(b + 8, r.constData() + 8 * (i - 1), 8);
            mbedtls_aes_crypt_ecb(&aes, MBEDTLS_AES_ENCRYPT, b, b);
            const quint64 t = quint64(n) * quint64(j) + quint64(i);
            for (int k = 0; k < 8; ++k)
                a[k] = b[k] ^ static_cast<unsigned char>(t >> (56 - 8 * k));
            std::memcpy(r.data() + 8 * (i - 1), b + 8, 8);
        }
    }
    mbedtls_aes_free(&aes);
    return QByteArray(reinterpret_cast<const char *>(a), 8) + r;
}

QByteArray pbkdf2(const QByteArray &password, const QByteArray &salt, unsigned iterations)
{
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);
    unsigned char key[32];
    mbedtls_md_setup(&md, mbedtls_md_info_from_type(MBEDTLS_MD_SHA1), 1);
    mbedtls_pkcs5_pbkdf2_hmac(&md, reinterpret_cast<const unsigned char *>(password.constData()),
                              size_t(password.size()), reinterpret_cast<const unsigned char *>(salt.constData()),
                              size_t(salt.size()), iterations, sizeof key, key);
    mbedtls_md_free(&md);
    return QByteArray(reinterpret_cast<const char *>(key), sizeof key);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

MbdbRecord record(const QString &path, quint16 mode, quint64 size)
{
    MbdbRecord r;
    r.domain.setData(kDomain.toUtf8());
    r.path.setData(path.toUtf8());
    r.mode = mode;
    r.size = size;
    r.mtime = r.atime = r.ctime = 1357000000;
    r.protectionClass = kClass;
    return r;
}

// Writes a backup folder holding one database of the given size, whose
// contents follow from the seed; returns their SHA-1.
QByteArray writeBackup(const QString &folder, qint64 size, bool encrypted)
{
    QDir().mkpath(folder);
    quint64 state = 0x9E3779B97F4A7C15ULL;
    QByteArray keybag;
    QByteArray fileKey, wrappedFileKey;
    if (encrypted) {
        const QByteArray salt = pseudoRandom(24, state).left(20);
        const QByteArray classKey = pseudoRandom(32, state);
        fileKey = pseudoRandom(32, state);
        keybag = item("VERS", be32(3)) + item("UUID", pseudoRandom(16, state)) + item("WRAP", be32(0))
            + item("SALT", salt) + item("ITER", be32(1)) + item("UUID", pseudoRandom(16, state))
            + item("CLAS", be32(kClass)) + item("WRAP", be32(2)) + item("KTYP", be32(0))
            + item("WPKY", wrapKey(pbkdf2(kPassword, salt, 1), classKey));
        wrappedFileKey = be32(kClass) + wrapKey(classKey, fileKey);
    }

    PlistNode lockdown = PlistNode::newDict();
    lockdown.dictSet(QStringLiteral("UniqueDeviceID"), PlistNode::fromString(QStringLiteral("0123456789abcdef")));
    lockdown.dictSet(QStringLiteral("DeviceName"), PlistNode::fromString(QStringLiteral("Bench")));
    PlistNode plist = PlistNode::newDict();
    plist.dictSet(QStringLiteral("Lockdown"), lockdown);
    plist.dictSet(QStringLiteral("IsEncrypted"), PlistNode::fromBool(encrypted));
    if (encrypted)
        plist.dictSet(QStringLiteral("BackupKeyBag"), PlistNode::fromByteArray(keybag));
    writeFile(QDir(folder).filePath(QStringLiteral("Manifest.plist")), plist.toXml().toUtf8());

    MbdbRecord sms = record(kSmsPath, 0x81A4, quint64(size));
    if (encrypted)
        sms.encryptionKey.setData(wrappedFileKey);
    QList<MbdbRecord> records = {record(QStringLiteral("Library"), 0x41ED, 0),
                                 record(QStringLiteral("Library/SMS"), 0x41ED, 0), sms};
    writeMbdb(records, QDir(folder).filePath(QStringLiteral("Manifest.mbdb")));

    QFile stored(QDir(folder).filePath(mbdbFileId(kDomain, kSmsPath)));
    if (!stored.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the stored file");
    mbedtls_aes_context aes;
    mbedtls_aes_init(&aes);
    mbedtls_aes_setkey_enc(&aes, reinterpret_cast<const unsigned char *>(fileKey.constData()), 256);
    unsigned char iv[16] = {};
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    constexpr int chunk = 1 << 20;
    quint64 contents = 0x2545F4914F6CDD1DULL;
    for (qint64 done = 0; done < size;) {
        const int n = int(std::min<qint64>(chunk, size - done));
        QByteArray plain = pseudoRandom((n + 7) / 8 * 8, contents).left(n);
        sha1.addData(plain);
        done += n;
        if (encrypted) {
            if (done == size) { // PKCS#7: always a padding block, whole when the size is a multiple of 16
                const int pad = 16 - n % 16;
                plain += QByteArray(pad, char(pad));
            }
            mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_ENCRYPT, size_t(plain.size()), iv,
                                  reinterpret_cast<const unsigned char *>(plain.constData()),
                                  reinterpret_cast<unsigned char *>(plain.data()));
        }
        if (stored.write(plain) != plain.size())
            throw std::runtime_error("cannot write the stored file");
    }
    if (encrypted && size == 0) {
        QByteArray pad(16, char(16));
        mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_ENCRYPT, 16, iv,
                              reinterpret_cast<const unsigned char *>(pad.constData()),
                              reinterpret_cast<unsigned char *>(pad.data()));
        stored.write(pad);
    }
    mbedtls_aes_free(&aes);
    return sha1.result();
}

const BackupManifest::_FileNode *smsNode(const BackupManifest &m)
{
    const BackupManifest::_FileNode *node = &m.root;
    for (const QString &name : {QStringLiteral("Library"), QStringLiteral("SMS"), QStringLiteral("sms.db")}) {
        const auto it = std::find_if(node->children.cbegin(), node->children.cend(),
                                     [&](const BackupManifest::_FileNode *c) { return c->name == name; });
        if (it == node->children.cend())
            throw std::runtime_error("the database is missing from the file tree");
        node = *it;
    }
    return node;
}

// Best of a few runs, in MB/s (10^6 bytes per second).
double measure(const QString &folder, const QString &target, qint64 size, const QByteArray &sha1)
{
    BackupManifest m(folder);
    m.loadInfo();
    if (m.info.isEncrypted && !m.unlock(QString::fromUtf8(kPassword)))
        throw std::runtime_error("the benchmark backup does not unlock");
    m.loadFiles();
    const BackupManifest::_FileNode *node = smsNode(m);
    double best = 0;
    for (int run = 0; run < kRuns; ++run) {
        QFile::remove(target);
        QElapsedTimer timer;
        timer.start();
        m.extractFile(node, target);
        const qint64 ns = std::max<qint64>(timer.nsecsElapsed(), 1);
        best = std::max(best, double(size) * 1000.0 / double(ns));
    }
    if (QFileInfo(target).size() != size || fileSha1(target) != sha1)
        throw std::runtime_error("the extracted file differs from the original");
    QFile::remove(target);
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 mib = args.size() > 1 ? args[1].toLongLong() : 512;
    const QString base = args.size() > 2 ? args[2] : QDir::tempPath();
    if (mib <= 0) {
        std::fprintf(stderr, "usage: bench_backup [size in MiB] [work folder]\n");
        return 2;
    }
    const qint64 size = mib << 20;

    try {
        QTemporaryDir work(QDir(base).filePath(QStringLiteral("bench_backup-XXXXXX")));
        if (!work.isValid())
            throw std::runtime_error("cannot create a work folder in " + base.toStdString());
        const QByteArray plainSha1 = writeBackup(work.filePath(QStringLiteral("plain")), size, false);
        const QByteArray encryptedSha1 = writeBackup(work.filePath(QStringLiteral("encrypted")), size, true);
        if (plainSha1 != encryptedSha1)
            throw std::runtime_error("the two backups hold different contents");
        const QString target = work.filePath(QStringLiteral("sms.db"));

        const double copy = measure(work.filePath(QStringLiteral("plain")), target, size, plainSha1);
        const double decrypt = measure(work.filePath(QStringLiteral("encrypted")), target, size, encryptedSha1);
        std::printf("backup extraction of a %lld MiB file, best of %d runs\n", static_cast<long long>(mib), kRuns);
        std::printf("  plain copy          %8.0f MB/s\n", copy);
        std::printf("  decrypting copy     %8.0f MB/s  (%.0f%% of the plain copy)\n", decrypt, 100.0 * decrypt / copy);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_backup: %s\n", e.what());
        return 1;
    }
    return 0;
}
