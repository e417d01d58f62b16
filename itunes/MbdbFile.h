#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include "MbdbRecord.h"

// Reading, writing and updating a backup's catalogue, Manifest.mbdb: a
// 6-byte header ("mbdb" 0x05 0x00) and records back to back to the end of
// the file. Records are keyed by their file id.

// Name of a record's stored file in the backup folder: the lower-case hex
// SHA-1 of the UTF-8 text domain + "-" + path (the "-" even for an empty path).
QString mbdbFileId(const QString &domain, const QString &path);

// SHA-1 of a local file's contents (20 bytes); empty when it cannot be read.
QByteArray fileSha1(const QString &filePath);

// The catalogue's order: ascending by domain, then by path, comparing UTF-16
// code units (case-sensitive, no locale), so that a folder comes before what
// it holds. mbdbKeyLess takes keys already decoded, for sorts that decode
// each key once; mbdbRecordLess decodes them itself.
bool mbdbKeyLess(const QString &domainA, const QString &pathA, const QString &domainB, const QString &pathB);
bool mbdbRecordLess(const MbdbRecord &a, const MbdbRecord &b);

// Every record of the catalogue by file id; a later record with the same
// file id replaces an earlier one. The header is skipped, not checked.
// Throws std::runtime_error when the file cannot be read, is shorter than
// its header or ends inside a record.
QHash<QString, MbdbRecord> readMbdb(const QString &path);

// Sorts the records in place (mbdbRecordLess) and writes them as the
// catalogue at path. The new file replaces the old one only once it is
// complete, so a failure leaves the old catalogue as it was. Throws
// std::runtime_error.
void writeMbdb(QList<MbdbRecord> &records, const QString &path);

// Adds or refreshes in the table the record of the local file that will be
// stored under (domain, path), adding records for missing parent folders
// with the next free inode numbers. The file's digest, times and size are
// taken from the local file. An unreadable file gets an empty digest; only a
// domain or path too long for a catalogue string throws.
void putMbdbRecord(QHash<QString, MbdbRecord> &records, const QString &localFile, const QString &domain,
                   const QString &path);
// The same with the file's digest worked out by the caller (fileSha1 of the
// local file), for a large file whose digest was taken while other work ran.
void putMbdbRecord(QHash<QString, MbdbRecord> &records, const QString &localFile, const QString &domain,
                   const QString &path, const QByteArray &sha1);
