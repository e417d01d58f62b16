#pragma once

#include <QDir>
#include <QString>
#include <QThread>

#include "BackupManifest.h"
#include "CacheDb.h"

// Copies the message and address-book folders of a backup out of its hashed
// storage into a cache folder laid out like the device's own file system:
// <cache folder>/file-relay/var/mobile/Library/SMS and .../AddressBook,
// decrypting the files of an encrypted backup. "manifest.db" in the cache
// folder remembers the catalogue time of every copied file, so a later run
// copies only what changed or went missing.
//
// Runs under a progress dialog (any object with its slots, reached through
// ProgressForm's posting functions). It ends the dialog with success, with an
// error, or not at all when the user cancelled; after an error or a cancel
// nothing the run copied is left, and no row of it is kept.
//
// The backup must have its files loaded (and be unlocked when encrypted), and
// must outlive the thread; nobody else touches it while the thread runs.
class ITunesCacheSMSThread : public QThread
{
    Q_OBJECT

public:
    // The cache folder is <application data>/itunes_cache/<backup id>.
    ITunesCacheSMSThread(BackupManifest *backup, QObject *form, QObject *parent = nullptr);
    // The cache folder is the one given (a device's own folder).
    ITunesCacheSMSThread(BackupManifest *backup, const QDir &cacheDir, QObject *form, QObject *parent = nullptr);
    // Commits what the run recorded in the cache database.
    ~ITunesCacheSMSThread() override;

    QDir cacheDir() const { return m_cacheDir; }

    // Copies the node, and for a folder everything below it, into the
    // folder target under the node's name. Worker thread only. Throws the
    // integer -1 when the user cancelled, std::runtime_error when a file
    // cannot be copied or a name would not make a plain file name.
    void cacheNode(const BackupManifest::_FileNode *node, const QDir &target);

protected:
    void run() override;

private:
    void cacheTree(const BackupManifest::_FileNode *node, const QString &targetDir, const QString &targetName);
    void cacheFile(const BackupManifest::_FileNode *node, const QString &targetPath);
    // Takes away what a run that did not finish leaves in the cache folder.
    void removeCache(const QString &cacheRoot);

    BackupManifest *m_backup;
    QObject *m_form;
    QDir m_cacheDir;
    CacheDb m_db;
};
