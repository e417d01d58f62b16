#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace
{

constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kOthersBits = 0077;

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// A link to a folder counts: a user may have put the folder elsewhere.
bool isFolder(const QByteArray &path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool makePrivateDir(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // The missing folders, outermost last.
    QStringList missing;
    for (QString at = absolute; !QFileInfo::exists(at) && !QFileInfo(at).isSymLink();) {
        missing.prepend(at);
        const QString parent = QFileInfo(at).path();
        if (parent == at)
            break;
        at = parent;
    }
    bool ok = true;
    for (const QString &folder : std::as_const(missing)) {
        const QByteArray native = nativePath(folder);
        if (::mkdir(native.constData(), kPrivateFolder) != 0 && errno != EEXIST)
            return false;
        if (::chmod(native.constData(), kPrivateFolder) != 0)
            ok = false;
    }
    const QByteArray native = nativePath(absolute);
    if (!isFolder(native))
        return false;
    if (missing.isEmpty() && ::chmod(native.constData(), kPrivateFolder) != 0)
        ok = false;
    return ok;
}

bool makeTreePrivate(const QString &root)
{
    const QByteArray top = nativePath(root);
    if (!isFolder(top))
        return false;
    bool ok = true;
    // A list of its own rather than recursion: a folder tree can nest
    // deeper than a thread's stack allows.
    std::vector<QByteArray> pending{top};
    while (!pending.empty()) {
        const QByteArray folder = pending.back();
        pending.pop_back();
        if (::chmod(folder.constData(), kPrivateFolder) != 0)
            ok = false;
        DIR *dir = ::opendir(folder.constData());
        if (!dir) {
            ok = false;
            continue;
        }
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            const QByteArray path = folder + '/' + name;
            struct stat st {};
            if (::lstat(path.constData(), &st) != 0) {
                ok = false;
                continue;
            }
            if (S_ISDIR(st.st_mode))
                pending.push_back(path);
            else if (S_ISREG(st.st_mode) && (st.st_mode & 0777) != kPrivateFile
                     && ::chmod(path.constData(), kPrivateFile) != 0)
                ok = false;
        }
        ::closedir(dir);
    }
    return ok;
}

bool tightenToPrivate(const QString &path)
{
    const QByteArray native = nativePath(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return true;
    if ((st.st_mode & kOthersBits) == 0)
        return true;
    const QString was = QString::number(st.st_mode & 0777, 8);
    if (::chmod(native.constData(), kPrivateFolder) != 0) {
        qWarning("The folder %s is open to other users (mode %s) and could not be made private.",
                 qUtf8Printable(QDir::toNativeSeparators(path)), qUtf8Printable(was));
        return false;
    }
    qInfo("The folder %s was open to other users (mode %s); it is now private (mode 700).",
          qUtf8Printable(QDir::toNativeSeparators(path)), qUtf8Printable(was));
    return true;
}

int permissionBits(const QString &path)
{
    struct stat st {};
    if (::lstat(nativePath(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 0777);
}
