#pragma once

#include <QString>

// Shows a folder in the desktop's file manager (a file given here is opened
// with its application). Relative paths are taken from the working folder.
// Returns false when the desktop could not open it.
bool openFolderInExplorer(const QString &path);

// Opens a web address (anything with a scheme, such as http:, https: or
// mailto:) or a local file or folder with the desktop's handler.
// Returns false when the desktop could not open it.
bool shellOpen(const QString &urlOrPath);
