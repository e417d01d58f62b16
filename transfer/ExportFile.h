#pragma once

#include <QFile>
#include <QTextStream>

// The file side of the text exporters: one buffered UTF-8 stream (no byte
// order mark, "\n" line ends) on a file written from scratch. Every function
// throws std::runtime_error with the file's error text (UTF-8) on failure.

// Opens file write-only and truncated, and attaches stream to it.
void openExportFile(QFile &file, QTextStream &stream);
// Throws once the stream or the file has failed to write; the stream hands
// its buffer to the file in large blocks, so this is cheap to call per record.
void checkExportWrite(const QFile &file, const QTextStream &stream);
// Flushes the stream and the file and closes the file; throws when anything
// written so far did not reach the file. The file is closed either way.
void closeExportFile(QFile &file, QTextStream &stream);
