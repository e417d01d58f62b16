#include "ITunesCacheSMSThread.h"

#include <QFile>
#include <QFileInfo>

#include <utility>
#include <vector>

#include "AppFolders.h"
#include "Errors.h"
#include "FileUtils.h"
#include "PrivateFiles.h"
#include "ProgressForm.h"
#include "SafePath.h"

namespace
{

using Node = BackupManifest::_FileNode;

const QString kCacheRoot = QStringLiteral("file-relay/var/mobile/Library");
const QString kDatabaseName = QStringLiteral("manifest.db");
// Readers open the copies under these exact names; on a file system that
// tells letter cases apart, a backup's own spelling would hide them.
const QString kSmsFolder = QStringLiteral("SMS");
const QString kAddressBookFolder = QStringLiteral("AddressBook");
const QString kMessageDatabase = QStringLiteral("sms.db");

// A folder is what the record's mode says, whatever its size. The nodes the
// tree makes up for itself (its root, "Applications") carry no record at all.
bool isFolder(const Node *node)
{
    const MbdbRecord &r = node->record;
    return (r.mode & 0xF000) == 0x4000 || (r.mode == 0 && r.domain.isNone() && r.path.isNone());
}

// The first child of the name in any letter case; with folderOnly, the first
// such child that is a folder.
const Node *childNamed(const Node *parent, const QString &name, bool folderOnly)
{
    if (!parent)
        return nullptr;
    for (const Node *child : parent->children) {
        if (child->name.compare(name, Qt::CaseInsensitive) == 0 && (!folderOnly || isFolder(child)))
            return child;
    }
    return nullptr;
}

// The file readers open, under its exact name, as a file.
bool hasMessageDatabase(const Node *sms)
{
    if (!sms)
        return false;
    for (const Node *child : sms->children) {
        if (child->name == kMessageDatabase && !isFolder(child))
            return true;
    }
    return false;
}

// The name a node is stored under in the cache: every name, folders' as well
// as files', loses the characters no file name may hold, and what is left
// must name one entry inside the target folder.
QString cacheName(const Node *node)
{
    const QString name = sanitizeFileName(node->name);
    if (!isSafePathComponent(name))
        throwError(ITunesCacheSMSThread::tr("Refusing to copy \"%1\" of the backup: it is not a plain file name.")
                       .arg(node->name));
    return name;
}

QString joined(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name;
}

// Every backup has its own cache folder, named by its id. Without a backup
// there is none: the run then stops before it touches any folder.
QDir backupCacheDir(const BackupManifest *backup)
{
    const QString id = backup ? backup->id() : QStringLiteral("none");
    return QDir(appDataDir().absoluteFilePath(QStringLiteral("itunes_cache/") + id));
}

} // namespace

ITunesCacheSMSThread::ITunesCacheSMSThread(BackupManifest *backup, QObject *form, QObject *parent)
    : ITunesCacheSMSThread(backup, backupCacheDir(backup), form, parent)
{
}

ITunesCacheSMSThread::ITunesCacheSMSThread(BackupManifest *backup, const QDir &cacheDir, QObject *form,
                                           QObject *parent)
    : QThread(parent)
    , m_backup(backup)
    , m_form(form)
    , m_cacheDir(cacheDir)
    , m_db(cacheDir.absoluteFilePath(kDatabaseName))
{
}

ITunesCacheSMSThread::~ITunesCacheSMSThread() = default;

void ITunesCacheSMSThread::run()
{
    ProgressForm::postUpdateProgress(m_form, tr("IDS_LOADING_ITUNES_BACKUP"), 99, QString());

    const Node *library = m_backup ? childNamed(&m_backup->root, QStringLiteral("Library"), false) : nullptr;
    const Node *sms = childNamed(library, kSmsFolder, true);
    const Node *addressBook = childNamed(library, kAddressBookFolder, true);
    // Without the database itself there is nothing to read the messages
    // from: copying the rest of the folder would only be thrown away.
    if (!hasMessageDatabase(sms)) {
        ProgressForm::postErrorOccurred(m_form, tr("IDS_NOT_CONTAIN_SMS_DB_IN_ITUNES_BACKUP"));
        return;
    }

    const QString cacheRoot = m_cacheDir.absoluteFilePath(kCacheRoot);
    try {
        // The copies are decrypted messages: nobody but the user may reach
        // them from the first one on. A failure shows where the first file
        // is written.
        makePrivateDir(m_cacheDir.absolutePath());
        QDir().mkpath(cacheRoot);
        cacheTree(sms, cacheRoot, kSmsFolder);
        if (addressBook)
            cacheTree(addressBook, cacheRoot, kAddressBookFolder);
        // The catalogue may name a database whose stored file is gone.
        if (!QFileInfo(joined(joined(cacheRoot, kSmsFolder), kMessageDatabase)).isFile()) {
            removeCache(cacheRoot);
            ProgressForm::postErrorOccurred(m_form, tr("IDS_NOT_CONTAIN_SMS_DB_IN_ITUNES_BACKUP"));
            return;
        }
        // Files and folders each the user's alone, also those an earlier
        // version left open and this run found current.
        if (!makeTreePrivate(m_cacheDir.absolutePath()))
            qWarning("Could not make all of the cache in %s private", qUtf8Printable(m_cacheDir.absolutePath()));
        ProgressForm::postSucceed(m_form, QString());
    } catch (int) {
        removeCache(cacheRoot);
    } catch (const std::exception &e) {
        removeCache(cacheRoot);
        ProgressForm::postErrorOccurred(m_form, QString::fromUtf8(e.what()));
    }
}

void ITunesCacheSMSThread::cacheNode(const Node *node, const QDir &target)
{
    if (!node)
        return;
    cacheTree(node, target.absolutePath(), QString());
}

// Walks the subtree with a list of its own rather than by recursion: a
// catalogue can nest folders far deeper than a thread's stack would allow.
void ITunesCacheSMSThread::cacheTree(const Node *top, const QString &targetDir, const QString &targetName)
{
    struct Pending
    {
        const Node *node;
        QString dir;
        QString name; // empty: the node's own name
    };
    std::vector<Pending> pending;
    pending.push_back({top, targetDir, targetName});
    while (!pending.empty()) {
        Pending item = std::move(pending.back());
        pending.pop_back();
        const Node *node = item.node;

        ProgressForm::postUpdateProgress(m_form, QString(), -1, tr("IDS_CACHING_BACKUP_FILE_%1").arg(node->name));
        if (ProgressForm::isCancelled(m_form))
            throw kWorkerCancelled;

        const QString path = joined(item.dir, item.name.isEmpty() ? cacheName(node) : item.name);
        if (isFolder(node)) {
            // An existing folder is fine; one that cannot be made shows when
            // its first file is written.
            QDir().mkdir(path);
            for (auto it = node->children.crbegin(); it != node->children.crend(); ++it)
                pending.push_back({*it, path, QString()});
        } else {
            cacheFile(node, path);
        }
    }
}

void ITunesCacheSMSThread::cacheFile(const Node *node, const QString &targetPath)
{
    const MbdbRecord &record = node->record;
    const QString fileId = record.fileId();
    // The record alone does not make a copy current: the copy must still be
    // there, as large as it was made, and the record must still give the
    // size it gave then. A time of 0 is what a missing row reads as, so it
    // never counts. Rows without sizes were written by a rule that cut files
    // to their record's size, so their copies are made again.
    const CacheDb::Entry cached = m_db.entry(fileId);
    const QFileInfo copy(targetPath);
    if (record.mtime != 0 && cached.lastDate == qint64(record.mtime) && cached.recordSize == qint64(record.size)
        && copy.isFile() && cached.copySize == copy.size())
        return;
    // Folders, links and files the backup did not store have nothing to copy.
    if (!QFileInfo::exists(m_backup->folder.absoluteFilePath(fileId)))
        return;
    m_backup->extractFile(node, targetPath);
    CacheDb::Entry made;
    made.lastDate = record.mtime;
    made.recordSize = qint64(record.size);
    made.copySize = QFileInfo(targetPath).size();
    m_db.setEntry(fileId, made);
}

void ITunesCacheSMSThread::removeCache(const QString &cacheRoot)
{
    // The rows go first, with the connection, so that none outlives the
    // copy it stands for; then the file itself, which no longer describes
    // what is left.
    m_db.discard();
    bool removed = true;
    const QString dbPath = m_cacheDir.absoluteFilePath(kDatabaseName);
    for (const QString &path : {dbPath, dbPath + QStringLiteral("-journal")}) {
        if (QFileInfo::exists(path) && !QFile::remove(path))
            removed = false;
    }
    for (const QString &name : {kSmsFolder, kAddressBookFolder}) {
        if (!removeDirRecursively(joined(cacheRoot, name)))
            removed = false;
    }
    if (!removed)
        qWarning("Could not remove all of the cache in %s", qUtf8Printable(m_cacheDir.absolutePath()));

    // Folders the run made and left empty go too; a folder that holds
    // anything else (a device folder keeps more than the cache) stays.
    QString dir = cacheRoot;
    const QString top = m_cacheDir.absolutePath();
    while (dir.size() > top.size() && dir.startsWith(top)) {
        QDir().rmdir(dir);
        dir = QFileInfo(dir).path();
    }
    QDir().rmdir(top);
}
