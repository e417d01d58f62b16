#include "AfcFileInfo.h"

AfcFileInfo::AfcFileInfo(const QString &path)
    : path(path)
{
}

bool AfcFileInfo::exists() const
{
    return !ifmt.isEmpty();
}

bool AfcFileInfo::isFile() const
{
    return ifmt.compare(QLatin1String("S_IFREG"), Qt::CaseInsensitive) == 0;
}

bool AfcFileInfo::isDir() const
{
    return ifmt.compare(QLatin1String("S_IFDIR"), Qt::CaseInsensitive) == 0;
}
