#pragma once

#include <QString>

// Hand a web address, or a local folder or file, to the desktop, as
// shellOpen and openFolderInExplorer do. When nothing takes it (no browser,
// no file manager) the error box says so, with the address, rather than the
// click doing nothing. True when the desktop opened it; an empty address is
// nothing to open and nothing to tell.
bool openPageOrTell(const QString &url);
bool openFolderOrTell(const QString &path);
