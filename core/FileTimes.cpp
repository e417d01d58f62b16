#include "FileTimes.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

qint64 fileModifiedTime(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return qint64(st.st_mtim.tv_sec);
}

bool setFileTimes(const QString &path, qint64 seconds)
{
    struct timespec times[2];
    times[0].tv_sec = time_t(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return !path.isEmpty() && ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}
