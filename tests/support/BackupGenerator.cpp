#include "BackupGenerator.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cstring>
#include <stdexcept>

#include <mbedtls/aes.h>
#include <mbedtls/md.h>
#include <mbedtls/pkcs5.h>

#include <plist/plist.h>

namespace
{

QByteArray randomBytes(QRandomGenerator &rng, int n)
{
    QByteArray out(n, '\0');
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}

QByteArray le32(quint32 v)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char(v >> (8 * i));
    return out;
}

void writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

bool isFolder(quint16 mode)
{
    return (mode & 0xF000) == 0x4000;
}

bool isLink(quint16 mode)
{
    return (mode & 0xF000) == 0xA000;
}

QByteArray manifestPlist(const BackupGenerator::Options &o, const QByteArray &keybag)
{
    plist_t root = plist_new_dict();
    plist_t lockdown = plist_new_dict();
    plist_dict_set_item(lockdown, "UniqueDeviceID", plist_new_string(o.uniqueId.toUtf8().constData()));
    plist_dict_set_item(lockdown, "DeviceName", plist_new_string(o.deviceName.toUtf8().constData()));
    plist_dict_set_item(lockdown, "ProductType", plist_new_string(o.productType.toUtf8().constData()));
    plist_dict_set_item(lockdown, "ProductVersion", plist_new_string(o.productVersion.toUtf8().constData()));
    plist_dict_set_item(lockdown, "SerialNumber", plist_new_string(o.serialNumber.toUtf8().constData()));
    plist_dict_set_item(root, "Lockdown", lockdown);
    const QDateTime plistEpoch(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    plist_dict_set_item(root, "Date", plist_new_date(int32_t(plistEpoch.secsTo(o.date)), 0));
    plist_dict_set_item(root, "IsEncrypted", plist_new_bool(o.encrypted ? 1 : 0));
    plist_dict_set_item(root, "WasPasscodeSet", plist_new_bool(0));
    if (o.encrypted)
        plist_dict_set_item(root, "BackupKeyBag", plist_new_data(keybag.constData(), uint64_t(keybag.size())));
    plist_dict_set_item(root, "Applications", plist_new_dict());

    char *out = nullptr;
    uint32_t length = 0;
    QByteArray bytes;
    if (o.binaryPlist) {
        plist_to_bin(root, &out, &length);
        bytes = QByteArray(out, int(length));
        plist_to_bin_free(out);
    } else {
        plist_to_xml(root, &out, &length);
        bytes = QByteArray(out, int(length));
        plist_to_xml_free(out);
    }
    plist_free(root);
    return bytes;
}

} // namespace

BackupGenerator::File BackupGenerator::file(const QString &domain, const QString &path, const QByteArray &content,
                                            quint8 protectionClass)
{
    File f;
    f.domain = domain;
    f.path = path;
    f.content = content;
    f.protectionClass = protectionClass;
    return f;
}

BackupGenerator::File BackupGenerator::folder(const QString &domain, const QString &path)
{
    File f;
    f.domain = domain;
    f.path = path;
    f.mode = FolderMode;
    return f;
}

BackupGenerator::File BackupGenerator::link(const QString &domain, const QString &path, const QByteArray &target)
{
    File f;
    f.domain = domain;
    f.path = path;
    f.mode = LinkMode;
    f.linkTarget = target;
    return f;
}

QList<BackupGenerator::KeyClass> BackupGenerator::defaultClasses()
{
    QList<KeyClass> classes;
    for (int c = 1; c <= 11; ++c)
        classes.append({c, 2});
    return classes;
}

QByteArray BackupGenerator::be16(quint16 v)
{
    QByteArray out(2, '\0');
    out[0] = char(v >> 8);
    out[1] = char(v);
    return out;
}

QByteArray BackupGenerator::be32(quint32 v)
{
    return be16(quint16(v >> 16)) + be16(quint16(v));
}

QByteArray BackupGenerator::be64(quint64 v)
{
    return be32(quint32(v >> 32)) + be32(quint32(v));
}

QByteArray BackupGenerator::keybagItem(const char *tag, const QByteArray &value)
{
    if (std::strlen(tag) != 4)
        throw std::invalid_argument("keybag tags have four letters");
    return QByteArray(tag, 4) + be32(quint32(value.size())) + value;
}

QByteArray BackupGenerator::pbkdf2Sha1(const QByteArray &password, const QByteArray &salt, quint32 iterations)
{
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);
    unsigned char key[32];
    int rc = mbedtls_md_setup(&md, mbedtls_md_info_from_type(MBEDTLS_MD_SHA1), 1);
    if (rc == 0)
        rc = mbedtls_pkcs5_pbkdf2_hmac(&md, reinterpret_cast<const unsigned char *>(password.constData()),
                                       size_t(password.size()), reinterpret_cast<const unsigned char *>(salt.constData()),
                                       size_t(salt.size()), iterations, sizeof key, key);
    mbedtls_md_free(&md);
    if (rc != 0)
        throw std::runtime_error("PBKDF2 failed");
    return QByteArray(reinterpret_cast<const char *>(key), sizeof key);
}

QByteArray BackupGenerator::rfc3394Wrap(const QByteArray &kek, const QByteArray &keyData)
{
    if (keyData.size() < 16 || keyData.size() % 8 != 0)
        throw std::invalid_argument("key data must be two or more 64-bit words");
    mbedtls_aes_context ctx;
    mbedtls_aes_init(&ctx);
    if (mbedtls_aes_setkey_enc(&ctx, reinterpret_cast<const unsigned char *>(kek.constData()),
                               unsigned(kek.size() * 8))
        != 0) {
        mbedtls_aes_free(&ctx);
        throw std::invalid_argument("bad key-encryption key");
    }
    const int n = keyData.size() / 8;
    QByteArray a(8, char(0xA6));
    QList<QByteArray> r;
    for (int i = 0; i < n; ++i)
        r.append(keyData.mid(8 * i, 8));
    for (int j = 0; j <= 5; ++j) {
        for (int i = 1; i <= n; ++i) {
            QByteArray in = a + r[i - 1];
            unsigned char b[16];
            mbedtls_aes_crypt_ecb(&ctx, MBEDTLS_AES_ENCRYPT, reinterpret_cast<const unsigned char *>(in.constData()), b);
            const quint64 t = quint64(n) * quint64(j) + quint64(i);
            a = QByteArray(reinterpret_cast<const char *>(b), 8);
            const QByteArray tb = be64(t);
            for (int k = 0; k < 8; ++k)
                a[k] = char(a[k] ^ tb[k]);
            r[i - 1] = QByteArray(reinterpret_cast<const char *>(b) + 8, 8);
        }
    }
    mbedtls_aes_free(&ctx);
    QByteArray out = a;
    for (const QByteArray &w : r)
        out += w;
    return out;
}

QByteArray BackupGenerator::encryptContents(const QByteArray &key, const QByteArray &plain)
{
    const int pad = 16 - plain.size() % 16;
    return encryptBlocks(key, plain + QByteArray(pad, char(pad)));
}

QByteArray BackupGenerator::encryptBlocks(const QByteArray &key, const QByteArray &plain)
{
    if (plain.size() % 16 != 0)
        throw std::invalid_argument("unpadded contents must be whole cipher blocks");
    QByteArray out(plain.size(), '\0');
    if (plain.isEmpty())
        return out;
    unsigned char iv[16] = {};
    mbedtls_aes_context ctx;
    mbedtls_aes_init(&ctx);
    mbedtls_aes_setkey_enc(&ctx, reinterpret_cast<const unsigned char *>(key.constData()), 256);
    mbedtls_aes_crypt_cbc(&ctx, MBEDTLS_AES_ENCRYPT, size_t(plain.size()), iv,
                          reinterpret_cast<const unsigned char *>(plain.constData()),
                          reinterpret_cast<unsigned char *>(out.data()));
    mbedtls_aes_free(&ctx);
    return out;
}

QString BackupGenerator::storedName(const QString &domain, const QString &path)
{
    return QString::fromLatin1(
        QCryptographicHash::hash((domain + "-" + path).toUtf8(), QCryptographicHash::Sha1).toHex());
}

QByteArray BackupGenerator::mbdbHeader()
{
    return QByteArray("mbdb\x05\x00", 6);
}

QByteArray BackupGenerator::mbdbString(const std::optional<QByteArray> &s)
{
    if (!s)
        return be16(0xFFFF);
    if (s->size() > 0xFFFE)
        throw std::invalid_argument("string too long for Manifest.mbdb");
    return be16(quint16(s->size())) + *s;
}

QByteArray BackupGenerator::mbdbRecord(const MbdbEntry &e)
{
    if (e.properties.size() > 255)
        throw std::invalid_argument("too many properties");
    QByteArray out = mbdbString(e.domain) + mbdbString(e.path) + mbdbString(e.linkTarget) + mbdbString(e.dataHash)
        + mbdbString(e.encryptionKey);
    out += be16(e.mode) + be64(e.inode) + be32(e.userId) + be32(e.groupId) + be32(e.mtime) + be32(e.atime)
        + be32(e.ctime) + be64(e.size);
    out += char(e.protectionClass);
    out += char(e.properties.size());
    for (const auto &p : e.properties)
        out += mbdbString(p.first) + mbdbString(p.second);
    return out;
}

BackupGenerator::Keybag BackupGenerator::makeKeybag(const QByteArray &password, const QList<KeyClass> &classes,
                                                    quint32 iterations, quint32 seed)
{
    QRandomGenerator rng(seed);
    Keybag kb;
    kb.salt = randomBytes(rng, 20);
    const QByteArray passwordKey = pbkdf2Sha1(password, kb.salt, iterations);
    const QByteArray otherKey = randomBytes(rng, 32); // stands for the device's own key

    kb.bytes = keybagItem("VERS", be32(3)) + keybagItem("TYPE", be32(1)) + keybagItem("UUID", randomBytes(rng, 16))
        + keybagItem("HMCK", randomBytes(rng, 40)) + keybagItem("WRAP", be32(0)) + keybagItem("SALT", kb.salt)
        + keybagItem("ITER", be32(iterations));
    for (const KeyClass &c : classes) {
        const QByteArray classKey = randomBytes(rng, 32);
        kb.classKeys.insert(c.number, classKey);
        const QByteArray wpky = rfc3394Wrap((c.wrap & 2) ? passwordKey : otherKey, classKey);
        kb.bytes += keybagItem("UUID", randomBytes(rng, 16)) + keybagItem("CLAS", be32(quint32(c.number)))
            + keybagItem("WRAP", be32(c.wrap)) + keybagItem("KTYP", be32(0)) + keybagItem("WPKY", wpky);
    }
    return kb;
}

BackupGenerator::Result BackupGenerator::write(const QString &folder, const QList<File> &files)
{
    return write(folder, files, Options());
}

BackupGenerator::Result BackupGenerator::write(const QString &folder, const QList<File> &files,
                                               const Options &options)
{
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        throw std::runtime_error("cannot create " + folder.toStdString());

    Result result;
    QRandomGenerator rng(options.seed ^ 0x5EED);
    if (options.encrypted)
        result.keybag = makeKeybag(options.password, options.classes, options.iterations, options.seed);

    QByteArray mbdb = mbdbHeader();
    quint64 inode = 1;
    for (const File &f : files) {
        const QString id = storedName(f.domain, f.path);
        result.fileIds.append(id);
        const bool stored = !isFolder(f.mode) && !isLink(f.mode);

        MbdbEntry e;
        e.domain = f.domain.toUtf8();
        e.path = f.path.toUtf8();
        if (isLink(f.mode))
            e.linkTarget = f.linkTarget;
        if (stored)
            e.dataHash = QCryptographicHash::hash(f.content, QCryptographicHash::Sha1);
        e.mode = f.mode;
        e.inode = inode++;
        e.userId = e.groupId = 501;
        e.mtime = e.atime = e.ctime = f.mtime;
        e.size = f.recordSize ? *f.recordSize : stored ? quint64(f.content.size()) : 0;
        e.protectionClass = f.protectionClass;
        for (const auto &p : f.properties)
            e.properties.append({p.first, p.second});

        QByteArray fileKey;
        if (stored && options.encrypted) {
            const QByteArray classKey = result.keybag.classKeys.value(f.protectionClass);
            if (classKey.isEmpty())
                throw std::invalid_argument("file of a class the keybag does not hold");
            fileKey = randomBytes(rng, 32);
            const QByteArray wrapped = rfc3394Wrap(classKey, fileKey);
            if (f.keyForm == KeyForm::Wrapped)
                e.encryptionKey = le32(f.protectionClass) + wrapped;
            else if (f.keyForm == KeyForm::WithoutPrefix)
                e.encryptionKey = wrapped;
        }
        result.fileKeys.append(fileKey);
        mbdb += mbdbRecord(e);

        if (stored) {
            QByteArray bytes = f.content;
            if (options.encrypted)
                bytes = f.padding == Padding::Pkcs7 ? encryptContents(fileKey, f.content)
                                                    : encryptBlocks(fileKey, f.content);
            writeWholeFile(dir.filePath(id), bytes);
        }
    }
    result.mbdb = mbdb;
    writeWholeFile(dir.filePath(QStringLiteral("Manifest.mbdb")), mbdb);
    writeWholeFile(dir.filePath(QStringLiteral("Manifest.plist")), manifestPlist(options, result.keybag.bytes));
    return result;
}
