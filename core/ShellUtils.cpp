#include "ShellUtils.h"

#include <QFileInfo>
#include <QUrl>

#include "ShellOpener.h"

namespace
{

QUrl localUrl(const QString &path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
}

} // namespace

bool openFolderInExplorer(const QString &path)
{
    if (path.isEmpty())
        return false;
    return ShellOpener::open(localUrl(path));
}

bool shellOpen(const QString &urlOrPath)
{
    if (urlOrPath.isEmpty())
        return false;
    // Anything that names a scheme is an address; everything else is a path.
    const QUrl url(urlOrPath, QUrl::StrictMode);
    if (!urlOrPath.startsWith(QLatin1Char('/')) && url.isValid() && !url.scheme().isEmpty())
        return ShellOpener::open(url);
    return ShellOpener::open(localUrl(urlOrPath));
}
