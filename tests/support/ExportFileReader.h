#pragma once

#include <QByteArray>
#include <QString>

// The whole content of a file written by an exporter; empty when it cannot
// be read.
QByteArray readExportedFile(const QString &path);

// A path inside a folder that does not exist, so opening it for writing
// fails whatever the user's rights.
QString unwritableExportPath(const QString &fileName);
