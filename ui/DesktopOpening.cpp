#include "DesktopOpening.h"

#include <QDir>
#include <QObject>

#include "HtmlEscape.h"
#include "MessageBoxes.h"
#include "ShellUtils.h"

namespace
{

void tellNotOpened(const QString &address)
{
    showError(QObject::tr("Could not open %1.").arg(htmlEscape(address)));
}

} // namespace

bool openPageOrTell(const QString &url)
{
    if (url.isEmpty())
        return false;
    if (shellOpen(url))
        return true;
    tellNotOpened(url);
    return false;
}

bool openFolderOrTell(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (openFolderInExplorer(path))
        return true;
    tellNotOpened(QDir::toNativeSeparators(path));
    return false;
}
