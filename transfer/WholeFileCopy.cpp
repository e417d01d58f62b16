#include "WholeFileCopy.h"

#include <QByteArray>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

bool copyWholeFile(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    bool ok = true;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (out.write(buffer.constData(), n) != n) {
            ok = false;
            break;
        }
    }
    ok = ok && out.flush() && ::fsync(out.handle()) == 0;
    out.close();
    ok = ok && out.error() == QFileDevice::NoError;
    if (!ok)
        QFile::remove(to);
    return ok;
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
