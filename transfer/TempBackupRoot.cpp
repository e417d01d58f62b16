#include "TempBackupRoot.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStorageInfo>

#include "AppFolders.h"
#include "FileUtils.h"

namespace
{

// A path file is a folder path; anything longer is not one of ours.
constexpr qint64 kMaxPathFileSize = 64 * 1024;

// File systems that are not local disks: network shares, memory and the
// kernel's own views. A backup of many gigabytes belongs on none of them.
bool isLocalFileSystem(const QByteArray &type)
{
    static const QSet<QByteArray> notLocal = {
        "nfs",      "nfs4",     "cifs",       "smbfs",     "smb3",       "ncpfs",       "afs",
        "coda",     "ceph",     "glusterfs",  "lustre",    "9p",         "sshfs",       "fuse.sshfs",
        "davfs",    "fuse.davfs2", "fuse.rclone", "fuse.s3fs", "fuse.glusterfs", "fuse.cephfs",
        "tmpfs",    "ramfs",    "devtmpfs",   "proc",      "sysfs",      "devpts",      "cgroup",
        "cgroup2",  "securityfs", "debugfs",  "tracefs",   "pstore",     "bpf",         "autofs",
        "mqueue",   "hugetlbfs", "fusectl",   "configfs",  "efivarfs",   "binfmt_misc", "squashfs",
        "iso9660",  "udf",
    };
    return !type.isEmpty() && !notLocal.contains(type);
}

QString pathFilePath()
{
    return appDataDir().absoluteFilePath(QLatin1String(kTempBackupPathFileName));
}

// The remembered root when the path file names an existing folder by its
// absolute path; empty otherwise.
QString rememberedRoot()
{
    QFile file(pathFilePath());
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxPathFileSize)
        return QString();
    QString text = QString::fromUtf8(file.readAll());
    // A line end an editor may have added is not part of the path.
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    if (text.isEmpty() || !QDir::isAbsolutePath(text) || !QFileInfo(text).isDir())
        return QString();
    return QDir::cleanPath(text);
}

void rememberRoot(const QString &root)
{
    // Not remembering only means choosing again next time.
    QSaveFile file(pathFilePath());
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(root.toUtf8());
    file.commit();
}

// Whether a folder can be made (and removed) at the root.
bool canWriteAt(const QString &root)
{
    if (!QFileInfo(root).isDir())
        return false;
    const QDir dir(root);
    const QString name = QStringLiteral("__test%1").arg(QDateTime::currentMSecsSinceEpoch());
    if (!dir.mkdir(name))
        return false;
    // Only the test folder goes: the root itself may be empty.
    dir.rmdir(name);
    return true;
}

} // namespace

QList<TempBackupVolume> localWritableVolumes()
{
    QList<TempBackupVolume> volumes;
    const QList<QStorageInfo> mounted = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &storage : mounted) {
        if (!storage.isValid() || !storage.isReady() || storage.isReadOnly()
            || !isLocalFileSystem(storage.fileSystemType()))
            continue;
        TempBackupVolume volume;
        volume.rootPath = storage.rootPath();
        volume.freeBytes = quint64(qMax<qint64>(storage.bytesAvailable(), 0));
        volumes.append(volume);
    }
    return volumes;
}

QString chooseTempBackupVolume(const QList<TempBackupVolume> &volumes, const QString &fallback)
{
    quint64 best = 0;
    QString root;
    for (const TempBackupVolume &volume : volumes) {
        // On equal free space the earlier volume stays.
        if (volume.freeBytes <= best || !canWriteAt(volume.rootPath))
            continue;
        best = volume.freeBytes;
        root = QDir(volume.rootPath).absolutePath();
    }
    return root.isEmpty() ? QDir(fallback).absolutePath() : root;
}

QDir tempBackupRoot()
{
    return tempBackupRoot(localWritableVolumes(), QDir::homePath());
}

QDir tempBackupRoot(const QList<TempBackupVolume> &volumes, const QString &fallback)
{
    QString root = rememberedRoot();
    if (root.isEmpty()) {
        root = chooseTempBackupVolume(volumes, fallback);
        rememberRoot(root);
    }
    return QDir(QDir(root).absoluteFilePath(QLatin1String(kTempBackupFolderName)));
}

QString existingTempBackupRoot()
{
    const QString root = rememberedRoot();
    if (root.isEmpty())
        return QString();
    const QString folder = QDir(root).absoluteFilePath(QLatin1String(kTempBackupFolderName));
    return QFileInfo(folder).isDir() ? folder : QString();
}

bool clearTempBackupRoot(QString *failedPath)
{
    const QString root = tempBackupRoot().absolutePath();
    if (!removeDirRecursively(root)) {
        if (failedPath)
            *failedPath = root;
        return false;
    }
    const QString pathFile = pathFilePath();
    if (!QFile::remove(pathFile) && QFileInfo::exists(pathFile)) {
        if (failedPath)
            *failedPath = pathFile;
        return false;
    }
    return true;
}
