#include "WholeFileCopy.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool copyWholeFile(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    // The copy of a file kept for the user alone is no more open than it.
    // A file system that keeps no modes takes the copy all the same.
    struct stat source {};
    if (::fstat(in.handle(), &source) == 0)
        (void)::fchmod(out.handle(), source.st_mode & 0777);
    bool ok = copyBytes(in.handle(), out.handle());
    ok = ok && ::fsync(out.handle()) == 0;
    out.close();
    ok = ok && out.error() == QFileDevice::NoError;
    if (!ok)
        QFile::remove(to);
    return ok;
}

bool copyBytes(int in, int out)
{
    bool inKernel = true;
    QByteArray buffer;
    for (;;) {
        if (inKernel) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return true;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != ENOTSUP)
                return false;
            // Both offsets stand where the kernel stopped.
            inKernel = false;
            buffer.resize(1 << 16);
        }
        const ssize_t n = ::read(in, buffer.data(), size_t(buffer.size()));
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.constData() + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            done += w;
        }
    }
}

void syncFolder(const QString &path, FolderSync what)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (what == FolderSync::FileSystem)
        ::syncfs(fd);
    else
        ::fsync(fd);
    ::close(fd);
}
