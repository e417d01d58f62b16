#pragma once

#include <QDir>
#include <QString>

// The product identifier names the application-data folder and its redirect
// file; the web service knows the program by it too.
inline constexpr char kProductId[] = "7A31C09E55D24fb8B1E6D0934C2AF7B1";

// The user's data home: $XDG_DATA_HOME when that names an absolute path and
// <home>/.local/share otherwise (a relative value is ignored, as the XDG rules
// ask). Nothing is created.
QString dataHomeDir();

// The maker folder: "Quenmarvile" in the user's data home. Nothing is created.
QString roamingBaseDir();

// Path of the redirect file inside the maker folder.
QString redirectFilePath();

// The folder named by the redirect file, exactly as written there (nothing is
// trimmed), when that file can be read and the path exists; otherwise empty.
QString readRedirectDir();

// Replaces the redirect file's content with the path in UTF-8. Does nothing
// when the file cannot be opened for writing; the maker folder is not created.
void writeRedirectDir(const QString &path);

// Where the application-data folder is by the rules above, computed afresh
// and not created: <redirect target or maker folder>/<product id>, absolute.
QString resolveAppDataDir();

// The application-data folder. Its path is resolved on the first call and
// kept for the life of the process; the folder and its missing parents are
// created on every call, for the user alone (0700), when missing (a failure
// shows later, where files are written).
QDir appDataDir();

// <application-data folder>/local_databases, created when missing.
QDir localDatabasesDir();

// Why the application-data folder cannot be used, for the user's eyes; empty
// when it is a folder. Asks appDataDir to create it first, so nothing more
// is created than that call would; in particular nothing is made in place of
// a plain file that the redirect file names.
QString appDataDirFault();
