#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Writes iTunes-style backup folders for tests, plain or encrypted, from
// first principles: it shares no code with the program, so that the two
// can only agree by both following the format.
class BackupGenerator
{
public:
    static constexpr quint16 FileMode = 0x81A4;   // regular file, rw-r--r--
    static constexpr quint16 FolderMode = 0x41ED; // folder, rwxr-xr-x
    static constexpr quint16 LinkMode = 0xA1ED;   // symbolic link

    // How the key of an encrypted file appears in its record.
    enum class KeyForm
    {
        Wrapped,       // four bytes of class, then the 40-byte wrapped key
        Absent,        // no key at all (the contents are still encrypted)
        WithoutPrefix, // the 40-byte wrapped key alone
    };

    // How the contents of an encrypted file are stored.
    enum class Padding
    {
        Pkcs7, // followed by 1 to 16 bytes of PKCS#7 padding, as the backup program writes them
        None,  // the contents alone, which must be whole cipher blocks: nothing at its end tells its length
    };

    // One entry of the backup. Folders (mode 0x4xxx) and links have no
    // stored file; regular files are stored under their file id.
    struct File
    {
        QString domain;
        QString path;
        QByteArray content;
        quint16 mode = FileMode;
        quint8 protectionClass = 3;
        quint32 mtime = 1357000000;
        QByteArray linkTarget;
        QList<QPair<QByteArray, QByteArray>> properties;
        // The size the record gives, when it should not be the content's:
        // the record of a file the phone changed after it was catalogued
        // keeps the old size, while the stored file holds all of it.
        std::optional<quint64> recordSize;
        KeyForm keyForm = KeyForm::Wrapped;
        Padding padding = Padding::Pkcs7;
    };

    // A protection class of the keybag. wrap 2 means the class key is
    // wrapped with the password key; any other value wraps it with a key the
    // password cannot give.
    struct KeyClass
    {
        int number;
        quint32 wrap = 2;
    };

    struct Options
    {
        QString deviceName = QStringLiteral("Test iPhone");
        QString uniqueId = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
        QString productType = QStringLiteral("iPhone5,2");
        QString productVersion = QStringLiteral("6.1.2");
        QString serialNumber = QStringLiteral("F2LJ00000000");
        QDateTime date = QDateTime(QDate(2013, 3, 1), QTime(12, 0), Qt::UTC);
        bool encrypted = false;
        QByteArray password = "secret"; // UTF-8 bytes; used when encrypted
        quint32 iterations = 1000;
        QList<KeyClass> classes = defaultClasses();
        bool binaryPlist = false;
        quint32 seed = 1; // all keys, salts and UUIDs follow from it
    };

    struct Keybag
    {
        QByteArray bytes;
        QByteArray salt;
        QMap<int, QByteArray> classKeys; // every class, password-wrapped or not
    };

    struct Result
    {
        Keybag keybag;              // empty for a plain backup
        QStringList fileIds;        // one per file, in the order given
        QList<QByteArray> fileKeys; // one per file; empty when nothing is encrypted
        QByteArray mbdb;            // the bytes of Manifest.mbdb
    };

    // A Manifest.mbdb record with every field under the caller's control;
    // a string that is nullopt is written as none (length 0xFFFF).
    struct MbdbEntry
    {
        std::optional<QByteArray> domain, path, linkTarget, dataHash, encryptionKey;
        quint16 mode = 0;
        quint64 inode = 0;
        quint32 userId = 0, groupId = 0, mtime = 0, atime = 0, ctime = 0;
        quint64 size = 0;
        quint8 protectionClass = 0;
        QList<QPair<std::optional<QByteArray>, std::optional<QByteArray>>> properties;
    };

    static File file(const QString &domain, const QString &path, const QByteArray &content,
                     quint8 protectionClass = 3);
    static File folder(const QString &domain, const QString &path);
    static File link(const QString &domain, const QString &path, const QByteArray &target);

    static QList<KeyClass> defaultClasses();

    // Writes Manifest.plist, Manifest.mbdb and the stored files into folder
    // (created when missing).
    static Result write(const QString &folder, const QList<File> &files, const Options &options);
    static Result write(const QString &folder, const QList<File> &files);

    // The pieces, for tests that craft their own bytes.
    static QByteArray be16(quint16 v);
    static QByteArray be32(quint32 v);
    static QByteArray be64(quint64 v);
    static QByteArray keybagItem(const char *tag, const QByteArray &value);
    static Keybag makeKeybag(const QByteArray &password, const QList<KeyClass> &classes, quint32 iterations,
                             quint32 seed);
    static QByteArray pbkdf2Sha1(const QByteArray &password, const QByteArray &salt, quint32 iterations);
    static QByteArray rfc3394Wrap(const QByteArray &kek, const QByteArray &keyData);
    // AES-256-CBC with a zero IV and PKCS#7 padding: the stored form of an
    // encrypted file, always 1 to 16 bytes longer than the contents.
    static QByteArray encryptContents(const QByteArray &key, const QByteArray &plain);
    // The same without padding; plain must be whole 16-byte blocks.
    static QByteArray encryptBlocks(const QByteArray &key, const QByteArray &plain);
    static QString storedName(const QString &domain, const QString &path);
    static QByteArray mbdbHeader();
    static QByteArray mbdbString(const std::optional<QByteArray> &s);
    static QByteArray mbdbRecord(const MbdbEntry &e);
};
