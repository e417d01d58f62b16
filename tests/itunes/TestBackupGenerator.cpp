#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include <plist/plist.h>

#include "AesCrypto.h"
#include "BackupGenerator.h"
#include "BackupKeybag.h"
#include "MbdbFile.h"

namespace
{

using G = BackupGenerator;

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString plistString(plist_t dict, const char *key)
{
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return QString();
    char *value = nullptr;
    plist_get_string_val(node, &value);
    const QString out = QString::fromUtf8(value);
    free(value);
    return out;
}

QList<G::File> sampleFiles()
{
    return {
        G::folder("HomeDomain", ""),
        G::folder("HomeDomain", "Library"),
        G::folder("HomeDomain", "Library/SMS"),
        G::file("HomeDomain", "Library/SMS/sms.db", QByteArray(8192 + 16, 'd'), 4),
        G::file("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", "SQLite format 3", 3),
        G::file("MediaDomain", "Library/SMS/Attachments/a.jpg", QByteArray(100, 'j'), 2),
        G::link("HomeDomain", "Library/link", "/var/mobile"),
    };
}

} // namespace

TEST(BackupGeneratorTest, KeyWrapReproducesTheRfc3394Vectors)
{
    const QByteArray kek = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    struct Case
    {
        QByteArray keyData;
        QByteArray wrapped;
    };
    const Case cases[] = {
        {QByteArray::fromHex("00112233445566778899AABBCCDDEEFF"),
         QByteArray::fromHex("64E8C3F9CE0F5BA263E9777905818A2A93C8191E7D6E8AE7")},
        {QByteArray::fromHex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F"),
         QByteArray::fromHex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keyData.toHex().toStdString());
        EXPECT_EQ(G::rfc3394Wrap(kek, c.keyData).toHex(), c.wrapped.toHex());
    }
}

TEST(BackupGeneratorTest, KeyDerivationMatchesPublishedPbkdf2Sha1Output)
{
    // RFC 6070, 2 iterations, extended to the 32 bytes the keybag uses.
    EXPECT_EQ(G::pbkdf2Sha1("password", "salt", 2).toHex().left(40), "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
}

TEST(BackupGeneratorTest, PlainBackupStoresFilesUnderTheirIds)
{
    QTemporaryDir dir;
    const QList<G::File> files = sampleFiles();
    const G::Result r = G::write(dir.path(), files);
    ASSERT_EQ(r.fileIds.size(), files.size());
    EXPECT_EQ(r.fileIds[3], "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    EXPECT_EQ(readAll(dir.filePath(r.fileIds[3])), files[3].content);
    EXPECT_FALSE(QFile::exists(dir.filePath(r.fileIds[1]))); // folders and links have no stored file
    EXPECT_FALSE(QFile::exists(dir.filePath(r.fileIds[6])));
    EXPECT_TRUE(r.keybag.bytes.isEmpty());

    const QHash<QString, MbdbRecord> table = readMbdb(dir.filePath("Manifest.mbdb"));
    ASSERT_EQ(table.size(), files.size());
    const MbdbRecord sms = table.value(r.fileIds[3]);
    EXPECT_EQ(sms.size, quint64(files[3].content.size()));
    EXPECT_EQ(sms.dataHash.data, QCryptographicHash::hash(files[3].content, QCryptographicHash::Sha1));
    EXPECT_TRUE(sms.encryptionKey.isNone());
    EXPECT_EQ(table.value(r.fileIds[6]).linkTarget.toString(), "/var/mobile");
    EXPECT_EQ(table.value(r.fileIds[1]).mode, G::FolderMode);
}

TEST(BackupGeneratorTest, ManifestPlistDescribesTheDevice)
{
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary);
        QTemporaryDir dir;
        G::Options o;
        o.deviceName = QString::fromUtf8("J\xc3\xbcrgen's phone");
        o.uniqueId = "ffeeddccbbaa99887766554433221100ffeeddcc";
        o.encrypted = true;
        o.binaryPlist = binary;
        const G::Result r = G::write(dir.path(), {}, o);

        const QByteArray bytes = readAll(dir.filePath("Manifest.plist"));
        EXPECT_EQ(bytes.startsWith("bplist00"), binary);
        plist_t root = nullptr;
        if (binary)
            plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
        else
            plist_from_xml(bytes.constData(), uint32_t(bytes.size()), &root);
        ASSERT_NE(root, nullptr);
        plist_t lockdown = plist_dict_get_item(root, "Lockdown");
        EXPECT_EQ(plistString(lockdown, "DeviceName"), o.deviceName);
        EXPECT_EQ(plistString(lockdown, "UniqueDeviceID"), o.uniqueId);
        EXPECT_EQ(plistString(lockdown, "ProductVersion"), o.productVersion);
        uint8_t encrypted = 0;
        plist_get_bool_val(plist_dict_get_item(root, "IsEncrypted"), &encrypted);
        EXPECT_EQ(encrypted, 1);
        char *keybag = nullptr;
        uint64_t length = 0;
        plist_get_data_val(plist_dict_get_item(root, "BackupKeyBag"), &keybag, &length);
        EXPECT_EQ(QByteArray(keybag, int(length)), r.keybag.bytes);
        free(keybag);
        int32_t sec = 0, usec = 0;
        plist_get_date_val(plist_dict_get_item(root, "Date"), &sec, &usec);
        EXPECT_EQ(sec, QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).secsTo(o.date));
        plist_free(root);
    }
}

// The generator and the program share no code: an encrypted backup they
// agree on is one both read the same way.
TEST(BackupGeneratorTest, EncryptedBackupOpensWithTheProgramsKeybagAndAes)
{
    QTemporaryDir dir;
    G::Options o;
    o.encrypted = true;
    o.password = "p\xc3\xa4ss";
    const QList<G::File> files = sampleFiles();
    const G::Result r = G::write(dir.path(), files, o);

    BackupKeybag keybag(r.keybag.bytes);
    ASSERT_FALSE(BackupKeybag(r.keybag.bytes).unlock("pass"));
    ASSERT_TRUE(keybag.unlock(o.password));
    const QHash<QString, MbdbRecord> table = readMbdb(dir.filePath("Manifest.mbdb"));
    for (int i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].path.toStdString());
        const MbdbRecord record = table.value(r.fileIds[i]);
        if ((files[i].mode & 0xF000) != 0x8000) {
            EXPECT_TRUE(record.encryptionKey.isNone());
            continue;
        }
        ASSERT_EQ(record.encryptionKey.length, 44);
        EXPECT_EQ(record.protectionClass, files[i].protectionClass);
        const QByteArray key = keybag.unwrapKeyForClass(record.protectionClass, record.encryptionKey.data.mid(4));
        ASSERT_EQ(key, r.fileKeys[i]);

        const QByteArray stored = readAll(dir.filePath(r.fileIds[i]));
        EXPECT_EQ(stored.size(), (files[i].content.size() / 16 + 1) * 16);
        mbedtls_aes_context aes;
        mbedtls_aes_init(&aes);
        aesSetDecryptKey(aes, key);
        unsigned char iv[16] = {};
        const QByteArray plain = aesCbcDecrypt(aes, stored.constData(), stored.size(), iv);
        mbedtls_aes_free(&aes);
        EXPECT_EQ(plain.left(files[i].content.size()), files[i].content);
        EXPECT_EQ(record.size, quint64(files[i].content.size()));
    }
}

TEST(BackupGeneratorTest, SameSeedSameBackup)
{
    QTemporaryDir a, b;
    G::Options o;
    o.encrypted = true;
    const G::Result ra = G::write(a.path(), sampleFiles(), o);
    const G::Result rb = G::write(b.path(), sampleFiles(), o);
    EXPECT_EQ(ra.keybag.bytes, rb.keybag.bytes);
    EXPECT_EQ(ra.mbdb, rb.mbdb);
    o.seed = 2;
    EXPECT_NE(G::write(b.path(), sampleFiles(), o).keybag.bytes, ra.keybag.bytes);
}
