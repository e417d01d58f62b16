#include "BackupManifest.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include <mbedtls/aes.h>
#include <mbedtls/platform_util.h>

#include "AesCrypto.h"
#include "BoundedRead.h"
#include "Errors.h"
#include "FileUtils.h"
#include "MbdbFile.h"
#include "PlistNode.h"
#include "SafePath.h"

namespace
{

const QString kAppDomainPrefix = QStringLiteral("AppDomain-");
const QString kApplications = QStringLiteral("Applications");

// Blocks of the size the backup program itself writes; every block but the
// last is a whole number of cipher blocks, so the chaining value carries.
constexpr qint64 kBlockSize = 8192;

// A Manifest.plist larger than this is not read into memory: real ones stay
// far below it even with hundreds of applications listed.
constexpr qint64 kMaxManifestPlistSize = qint64(256) << 20;

// How often an empty read before the end of a stored file is tried again
// before it counts as a read error.
constexpr int kReadAttempts = 3;

// Up to max bytes from the file; 0 only at its end.
qint64 readSome(QFile &file, char *buffer, qint64 max)
{
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const qint64 n = file.read(buffer, max);
        if (n < 0)
            throwError(file.errorString());
        if (n > 0 || file.atEnd())
            return n;
    }
    throwError(BackupManifest::tr("Cannot read %1.").arg(QDir::toNativeSeparators(file.fileName())));
}

// Fills the buffer as far as the file allows: short only at the end.
qint64 readBlock(QFile &file, char *buffer, qint64 size)
{
    qint64 filled = 0;
    while (filled < size) {
        const qint64 n = readSome(file, buffer + filled, size - filled);
        if (n == 0)
            break;
        filled += n;
    }
    return filled;
}

void writeAll(QSaveFile &target, const char *data, qint64 length)
{
    if (length > 0 && target.write(data, length) != length)
        throwError(target.errorString());
}

void setFileTimes(const QString &path, quint32 seconds)
{
    struct timespec times[2];
    times[0].tv_sec = time_t(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    // The copy is complete without its times; they only spare a later copy.
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) != 0)
        qWarning("Cannot set the times of %s", qUtf8Printable(path));
}

// Owns an AES context and wipes the key schedule when done.
struct AesContext
{
    AesContext() { mbedtls_aes_init(&ctx); }
    ~AesContext() { mbedtls_aes_free(&ctx); }
    AesContext(const AesContext &) = delete;
    AesContext &operator=(const AesContext &) = delete;
    mbedtls_aes_context ctx;
};

// The length of an encrypted file: what the PKCS#7 padding of its last
// block says (its last byte n in 1..16, the last n bytes all n). A
// catalogue's record can keep the size of an older version of the file, so
// the record's size counts only where the padding is not valid, and then
// only as far as the stored file reaches. Leaves the file at its start.
qint64 decryptedLength(QFile &source, mbedtls_aes_context &aes, qint64 stored, quint64 recordSize,
                       const QString &fileId)
{
    if (stored >= 16) {
        // The last block decrypts on its own with the block before it (or
        // the zero chaining value) as its chaining value.
        unsigned char iv[16] = {};
        char last[16];
        const qint64 from = std::max<qint64>(stored - 32, 0);
        if (!source.seek(from))
            throwError(source.errorString());
        if (from > 0 && readBlock(source, reinterpret_cast<char *>(iv), 16) != 16)
            throwError(BackupManifest::tr("Cannot read %1.").arg(QDir::toNativeSeparators(source.fileName())));
        if (readBlock(source, last, 16) != 16)
            throwError(BackupManifest::tr("Cannot read %1.").arg(QDir::toNativeSeparators(source.fileName())));
        if (!aesCbcDecrypt(aes, last, 16, iv, last))
            throwError(BackupManifest::tr("%1, POLARSSL_ERR_AES_INVALID_INPUT_LENGTH.").arg(fileId));
        const int n = static_cast<unsigned char>(last[15]);
        bool padded = n >= 1 && n <= 16;
        for (int i = 16 - n; padded && i < 15; ++i)
            padded = static_cast<unsigned char>(last[i]) == n;
        mbedtls_platform_zeroize(last, sizeof last);
        if (!source.seek(0))
            throwError(source.errorString());
        if (padded)
            return stored - n;
    }
    if (recordSize > quint64(stored))
        throwError(BackupManifest::tr("%1 holds %2 bytes, fewer than the %3 bytes of the file it stores.")
                       .arg(fileId)
                       .arg(stored)
                       .arg(recordSize));
    return qint64(recordSize);
}

} // namespace

BackupManifest::_FileNode::_FileNode(_FileNode *parent, const MbdbRecord &record, const QString &name)
    : name(name), record(record), parent(parent)
{
}

BackupManifest::_FileNode::~_FileNode()
{
    // Without recursion: a catalogue may nest paths deeper than the stack
    // would allow.
    std::vector<_FileNode *> pending(children.cbegin(), children.cend());
    children.clear();
    while (!pending.empty()) {
        _FileNode *node = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), node->children.cbegin(), node->children.cend());
        node->children.clear();
        delete node;
    }
}

BackupManifest::BackupManifest(const QString &folderPath, QObject *parent)
    : QObject(parent), folder(folderPath), root(nullptr, MbdbRecord(), QString())
{
}

BackupManifest::~BackupManifest() = default;

void BackupManifest::loadInfo()
{
    const QString path = folder.absoluteFilePath(QStringLiteral("Manifest.plist"));
    if (!QFile::exists(path))
        throwError(tr("Cannot find %1").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throwError(file.errorString());
    QByteArray bytes;
    switch (readWithin(file, kMaxManifestPlistSize, bytes)) {
    case BoundedRead::Whole:
        break;
    case BoundedRead::TooLarge:
        throwError(tr("%1 is too large to be read.").arg(QDir::toNativeSeparators(path)));
    case BoundedRead::Failed:
        throwError(file.errorString());
    }

    // Without a readable Manifest.plist the backup would pass for an
    // unencrypted one and hand out its encrypted files as they are.
    const PlistNode plist = PlistNode::fromData(bytes);
    if (!plist.isDict())
        throwError(tr("%1 is not a valid property list.").arg(QDir::toNativeSeparators(path)));

    const PlistNode lockdown = plist.dictItem(QStringLiteral("Lockdown"));
    _BackupInfo read;
    read.uniqueDeviceId = lockdown.dictItem(QStringLiteral("UniqueDeviceID")).toString();
    read.deviceName = lockdown.dictItem(QStringLiteral("DeviceName")).toString();
    read.date = plist.dictItem(QStringLiteral("Date")).toDateTime();
    read.productType = lockdown.dictItem(QStringLiteral("ProductType")).toString();
    read.productVersion = lockdown.dictItem(QStringLiteral("ProductVersion")).toString();
    read.serialNumber = lockdown.dictItem(QStringLiteral("SerialNumber")).toString();
    read.isEncrypted = plist.dictItem(QStringLiteral("IsEncrypted")).toBool();
    read.backupKeyBag = plist.dictItem(QStringLiteral("BackupKeyBag")).toByteArray();

    // A backup may lack the identifier (nothing here needs it), but one it
    // holds must be able to name a folder of the device. Device identifiers
    // never hold a separator of either kind.
    if (!read.uniqueDeviceId.isEmpty() && !isSafePathComponent(read.uniqueDeviceId))
        throwError(tr("Invalid device identifier \"%1\" in %2.")
                       .arg(read.uniqueDeviceId, QDir::toNativeSeparators(path)));

    info = read;
    const QString folderName = folder.dirName();
    if (!info.uniqueDeviceId.isEmpty() && folderName.contains(info.uniqueDeviceId, Qt::CaseSensitive))
        displayName = QString(folderName).replace(info.uniqueDeviceId, info.deviceName, Qt::CaseSensitive);
    else
        displayName = info.deviceName + QLatin1Char('-') + folderName;
}

QString BackupManifest::id() const
{
    return md5Hex(folder.absolutePath());
}

bool BackupManifest::unlock(const QString &password)
{
    keybag = BackupKeybag(info.backupKeyBag);
    return keybag.unlock(password.toUtf8());
}

void BackupManifest::loadFiles()
{
    if (!root.children.isEmpty())
        return;
    const QHash<QString, MbdbRecord> table = readMbdb(folder.absoluteFilePath(QStringLiteral("Manifest.mbdb")));

    // Folders come before what they hold within a domain; each key is
    // decoded once rather than in every comparison.
    struct Entry
    {
        QString domain;
        QString path;
        const MbdbRecord *record;
    };
    std::vector<Entry> entries;
    entries.reserve(size_t(table.size()));
    for (const MbdbRecord &r : table)
        entries.push_back({r.domain.toString(), r.path.toString(), &r});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry &a, const Entry &b) { return mbdbKeyLess(a.domain, a.path, b.domain, b.path); });

    // Every path is checked before the first node is made, so a refused
    // catalogue leaves no half-built tree.
    struct Placement
    {
        QString treePath;
        qsizetype slash; // position of the last "/" in treePath, or -1
        bool application;
        const MbdbRecord *record;
    };
    std::vector<Placement> placements;
    placements.reserve(entries.size());
    for (const Entry &e : entries) {
        Placement p;
        p.application = e.domain.startsWith(kAppDomainPrefix);
        if (p.application) {
            p.treePath = kApplications + QLatin1Char('/') + e.domain.mid(kAppDomainPrefix.size());
            if (!e.path.isEmpty())
                p.treePath += QLatin1Char('/') + e.path;
        } else {
            p.treePath = e.path;
        }
        p.slash = p.treePath.lastIndexOf(QLatin1Char('/'));
        p.record = e.record;
        if (p.slash == p.treePath.size() - 1)
            continue; // no name: the record of a domain itself
        if (!isSafeRelativePath(p.treePath))
            throwError(tr("Manifest.mbdb holds the path \"%1\" of the domain \"%2\", which leads outside the backup's "
                          "folders.")
                           .arg(e.path, e.domain));
        placements.push_back(std::move(p));
    }

    QHash<QString, _FileNode *> nodes;
    nodes.reserve(qsizetype(placements.size()) + 1);
    for (const Placement &p : placements) {
        if (p.application && !nodes.contains(kApplications)) {
            auto *apps = new _FileNode(&root, MbdbRecord(), kApplications);
            root.children.append(apps);
            nodes.insert(kApplications, apps);
        }
        if (nodes.contains(p.treePath))
            continue;
        _FileNode *parent = &root;
        if (p.slash > 0)
            parent = nodes.value(p.treePath.left(p.slash), &root);
        auto *node = new _FileNode(parent, *p.record, p.treePath.mid(p.slash + 1));
        parent->children.append(node);
        nodes.insert(p.treePath, node);
    }
}

void BackupManifest::extractFile(const _FileNode *node, const QString &targetPath) const
{
    if (!node)
        throwError(tr("No backup file to extract."));
    // Callers name the copy after the node; a name that is no plain file
    // name could put it anywhere.
    if (!isSafePathComponent(node->name, Backslash::Character))
        throwError(tr("Refusing to extract \"%1\": it is not a plain file name.").arg(node->name));

    const MbdbRecord &record = node->record;
    const QString fileId = record.fileId();
    const QString sourcePath = folder.absoluteFilePath(fileId);
    // A device or a pipe planted in the backup folder would never end, or
    // block the opening itself.
    const QFileInfo sourceInfo(sourcePath);
    if (sourceInfo.exists() && !sourceInfo.isFile())
        throwError(tr("%1 is not a regular file.").arg(QDir::toNativeSeparators(sourcePath)));
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throwError(source.errorString());

    // A file needs its key to be decrypted. Only one whose record says it
    // is empty may do without: phones store such files without a key, and
    // whatever the stored file holds is then taken for padding.
    QByteArray fileKey;
    if (info.isEncrypted)
        fileKey = keybag.unwrapKeyForClass(qint8(record.protectionClass), record.encryptionKey.data.mid(4));
    const bool decrypt = !fileKey.isEmpty();
    const bool nothingToDecrypt = info.isEncrypted && !decrypt && record.size == 0;
    // Handing on the stored bytes would pass ciphertext off as the file.
    if (info.isEncrypted && !decrypt && !nothingToDecrypt)
        throwError(tr("The key of %1 cannot be unwrapped, so it cannot be decrypted.").arg(fileId));

    QByteArray buffer(kBlockSize, Qt::Uninitialized);
    char *block = buffer.data();
    AesContext aes;
    qint64 length = 0; // of the decrypted file
    if (decrypt) {
        aesSetDecryptKey(aes.ctx, fileKey);
        mbedtls_platform_zeroize(fileKey.data(), size_t(fileKey.size()));
        const qint64 stored = source.size();
        if (stored % 16 != 0)
            throwError(tr("%1, POLARSSL_ERR_AES_INVALID_INPUT_LENGTH.").arg(fileId));
        length = decryptedLength(source, aes.ctx, stored, record.size, fileId);
    }

    QSaveFile target(targetPath);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throwError(target.errorString());

    if (decrypt) {
        unsigned char iv[16] = {};
        qint64 remaining = length;
        while (remaining > 0) {
            const qint64 n = readBlock(source, block, std::min(kBlockSize, (remaining + 15) / 16 * 16));
            if (n == 0)
                throwError(tr("%1 ended before the %2 bytes of the file it stores.").arg(fileId).arg(length));
            if (!aesCbcDecrypt(aes.ctx, block, int(n), iv, block))
                throwError(tr("%1, POLARSSL_ERR_AES_INVALID_INPUT_LENGTH.").arg(fileId));
            const qint64 keep = std::min(n, remaining);
            writeAll(target, block, keep);
            remaining -= keep;
        }
        mbedtls_platform_zeroize(block, size_t(kBlockSize));
    } else if (!nothingToDecrypt) {
        while (true) {
            const qint64 n = readSome(source, block, kBlockSize);
            if (n == 0)
                break;
            writeAll(target, block, n);
        }
    }

    if (!target.commit())
        throwError(target.errorString());
    setFileTimes(targetPath, record.mtime);
}
