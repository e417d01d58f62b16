#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QList>
#include <QObject>
#include <QString>

#include "BackupKeybag.h"
#include "MbdbRecord.h"

// One backup folder: its summary (Manifest.plist), its keybag when it is
// encrypted, the tree of the files it holds (Manifest.mbdb) and the copying
// of one of those files out of its hashed storage.
//
// Calling order: construct, loadInfo, unlock (encrypted backups), loadFiles,
// then any number of extractFile calls. Once loadFiles has run, the object is
// only read: a worker thread may extract from it while nobody changes it.
class BackupManifest : public QObject
{
    Q_OBJECT

public:
    // The summary of Manifest.plist.
    struct _BackupInfo
    {
        QString uniqueDeviceId;
        QString deviceName;
        QDateTime date;
        QString productType;
        QString productVersion;
        QString serialNumber;
        bool isEncrypted = false;
        QByteArray backupKeyBag;
    };

    // One folder or file of the backup, placed where it sits in the device's
    // file system. A node owns its children.
    struct _FileNode
    {
        // Does not add itself to the parent's children; the caller does.
        _FileNode(_FileNode *parent, const MbdbRecord &record, const QString &name);
        ~_FileNode();
        _FileNode(const _FileNode &) = delete;
        _FileNode &operator=(const _FileNode &) = delete;

        QString name;
        MbdbRecord record;
        _FileNode *parent;
        QList<_FileNode *> children;
    };

    // Reads nothing; the folder is kept exactly as given.
    explicit BackupManifest(const QString &folderPath, QObject *parent = nullptr);
    ~BackupManifest() override;

    // Reads Manifest.plist into info and sets displayName. Throws
    // std::runtime_error when the file is missing ("Cannot find <path>"),
    // unreadable, not a property list, or names no usable device identifier;
    // info is then left as it was.
    void loadInfo();

    // Lower-case hex MD5 of the folder's absolute path: names the folder's
    // cache, so it depends on the path only.
    QString id() const;

    // Rebuilds the keybag from info.backupKeyBag and opens it with the
    // password; earlier attempts leave nothing behind.
    bool unlock(const QString &password);

    // Builds the file tree under root from Manifest.mbdb, once: does nothing
    // when root already has children. Application domains go under
    // "Applications", the other domains share one tree. Throws
    // std::runtime_error when the catalogue cannot be read or a record's
    // path would lead outside the tree; root is then left without children.
    void loadFiles();

    // Copies the node's stored file to targetPath, decrypted when the backup
    // is encrypted, and gives it the record's modification time. The file is
    // written under a temporary name and renamed into place when complete,
    // so a failed extraction leaves an earlier file at targetPath as it was.
    // A decrypted file ends where its PKCS#7 padding says; the record's size,
    // which a catalogue can keep from an older version of the file, counts
    // only where that padding is not valid. A file of an encrypted backup
    // whose key cannot be had is refused, but one whose record gives size 0
    // needs no key and comes out empty. Throws std::runtime_error.
    void extractFile(const _FileNode *node, const QString &targetPath) const;

    _BackupInfo info;
    QString displayName;
    QDir folder;
    _FileNode root;
    BackupKeybag keybag;
};
