#pragma once

#include <QString>
#include <QtMessageHandler>

// Sets the log folder, deletes the oldest plain files of that folder until
// at most 'keep' remain (the ones with the greatest names stay), and installs
// logMessageHandler for the process. A log file already open elsewhere is
// closed, so the next message goes into the new folder.
void initLog(const QString &folder, int keep);

// Appends one line per message to "log-yyyyMMdd.txt" in the log folder: the
// file of the day of the first message, opened then and kept open. Lines of
// several threads never mix. Debug messages are printed to standard output
// too; a fatal message is written and flushed, then the program aborts.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
