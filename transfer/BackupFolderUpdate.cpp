#include "BackupFolderUpdate.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileTimes.h"
#include "MbdbFile.h"
#include "SafePath.h"
#include "WholeFileCopy.h"

namespace
{

const char kStagedSuffix[] = ".larkspan-part";
// Kept names tried after the stamp before giving up: more runs than this
// within one stretch of seconds do not happen.
constexpr int kKeptNameTries = 1000;

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// Whether anything, a dangling link included, stands at the path.
bool entryExists(const QString &path)
{
    struct stat st {};
    return ::lstat(nativePath(path).constData(), &st) == 0;
}

bool syncFile(const QString &path)
{
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Keeps the file at target under target-<seconds>, the first free number
// from stamp on. A hard link keeps the very same file without copying a
// database of hundreds of megabytes; where the file system has no links the
// file is copied, with its modification time. Empty when neither works.
QString keepOld(const QString &target, qint64 stamp)
{
    for (int k = 0; k < kKeptNameTries; ++k) {
        const QString kept = target + QLatin1Char('-') + QString::number(stamp + k);
        if (entryExists(kept))
            continue;
        if (::link(nativePath(target).constData(), nativePath(kept).constData()) == 0)
            return kept;
        if (errno == EEXIST)
            continue;
        if (!copyWholeFile(target, kept))
            return QString();
        setFileTimes(kept, fileModifiedTime(target));
        return kept;
    }
    return QString();
}

// A new content is no more open than the file it replaces, or, for a file
// new to the folder, than the folder itself: a backup kept for the user
// alone stays so. A file system that keeps no modes is left as it is.
void matchMode(const QString &staged, const QString &target, const QString &folder)
{
    struct stat st {};
    const QByteArray path = nativePath(staged);
    if (::stat(nativePath(target).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        (void)::chmod(path.constData(), st.st_mode & 0777);
        return;
    }
    struct stat dir {};
    struct stat own {};
    if (::stat(nativePath(folder).constData(), &dir) == 0 && ::stat(path.constData(), &own) == 0)
        (void)::chmod(path.constData(), own.st_mode & dir.st_mode & 0666);
}

} // namespace

BackupFolderUpdate::BackupFolderUpdate(const QDir &folder)
    : m_folder(folder)
{
}

BackupFolderUpdate::~BackupFolderUpdate()
{
    for (const Entry &e : std::as_const(m_entries)) {
        if (!e.placed)
            QFile::remove(e.staged);
    }
}

QString BackupFolderUpdate::targetPath(const QString &name) const
{
    return m_folder.absoluteFilePath(name);
}

bool BackupFolderUpdate::isStaged(const QString &name) const
{
    for (const Entry &e : m_entries) {
        if (e.name == name)
            return true;
    }
    return false;
}

void BackupFolderUpdate::fail(const QString &target) const
{
    throw std::runtime_error(tr("can not overwrite %1.").arg(QDir::toNativeSeparators(target)).toStdString());
}

BackupFolderUpdate::Entry &BackupFolderUpdate::entryFor(const QString &name)
{
    Q_ASSERT(!m_committed);
    const QString target = targetPath(name);
    // Only names the caller made (file ids, the catalogue's) come here; a
    // name that could lead out of the folder is refused all the same.
    if (!isSafePathComponent(name, Backslash::Character))
        fail(target);
    for (Entry &e : m_entries) {
        if (e.name == name)
            return e;
    }
    m_entries.append(Entry{name, target, target + QLatin1String(kStagedSuffix), QString(), false});
    return m_entries.last();
}

QString BackupFolderUpdate::stageCopy(const QString &localFile, const QString &name)
{
    const Entry &e = entryFor(name);
    // A temporary file of a run that stopped half way, or staged before by
    // this one; nothing else has the name.
    if (entryExists(e.staged) && !QFile::remove(e.staged))
        fail(e.target);
    if (!copyWholeFile(localFile, e.staged))
        fail(e.target);
    matchMode(e.staged, e.target, m_folder.absolutePath());
    return e.staged;
}

QString BackupFolderUpdate::stageCatalogue(QList<MbdbRecord> &records, const QString &name)
{
    const Entry &e = entryFor(name);
    writeMbdb(records, e.staged);
    matchMode(e.staged, e.target, m_folder.absolutePath());
    if (!syncFile(e.staged))
        fail(e.target);
    return e.staged;
}

void BackupFolderUpdate::rollBack()
{
    for (qsizetype i = m_entries.size() - 1; i >= 0; --i) {
        Entry &e = m_entries[i];
        if (e.placed) {
            e.placed = false;
            // The kept link is the old file itself: renaming it back gives the
            // target its former bytes and times.
            const bool restored = e.kept.isEmpty()
                ? ::unlink(nativePath(e.target).constData()) == 0
                : ::rename(nativePath(e.kept).constData(), nativePath(e.target).constData()) == 0;
            if (!restored) {
                // Whatever is left, the kept copy of the old file stays.
                qWarning("BackupFolderUpdate can not put back %s", qUtf8Printable(e.target));
                continue;
            }
            e.kept.clear();
        } else if (!e.kept.isEmpty()) {
            QFile::remove(e.kept);
            e.kept.clear();
        }
    }
    // A staged file that was placed is gone already; the others go with this
    // object.
}

void BackupFolderUpdate::commit(qint64 stamp)
{
    Q_ASSERT(!m_committed);
    for (Entry &e : m_entries) {
        if (!entryExists(e.target))
            continue;
        e.kept = keepOld(e.target, stamp);
        if (e.kept.isEmpty()) {
            rollBack();
            fail(e.target);
        }
    }
    for (Entry &e : m_entries) {
        if (::rename(nativePath(e.staged).constData(), nativePath(e.target).constData()) != 0) {
            const QString target = e.target;
            rollBack();
            fail(target);
        }
        e.placed = true;
    }
    m_committed = true;
    syncFolder(m_folder.absolutePath(), FolderSync::Entries);
    m_kept.clear();
    for (const Entry &e : std::as_const(m_entries)) {
        if (!e.kept.isEmpty())
            m_kept.append(e.kept);
    }
}
