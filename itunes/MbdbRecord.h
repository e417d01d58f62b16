#pragma once

#include <QList>
#include <QString>

#include "MbdbProperty.h"
#include "MbdbString.h"

// One record of Manifest.mbdb (a file, folder or link of the backup), with
// its fields in file order.
class MbdbRecord
{
public:
    MbdbRecord() = default;

    // The name of the record's stored file in the backup folder.
    QString fileId() const;
    // No contents to copy: size 0 and no link target (folders included).
    bool isEmptyFile() const;

    MbdbString domain;
    MbdbString path;
    MbdbString linkTarget;
    MbdbString dataHash;
    MbdbString encryptionKey;
    quint16 mode = 0;
    quint32 inode[2] = {0, 0}; // high word, low word: the order of the file
    quint32 userId = 0;
    quint32 groupId = 0;
    quint32 mtime = 0;
    quint32 atime = 0;
    quint32 ctime = 0;
    quint64 size = 0;
    quint8 protectionClass = 0;
    QList<MbdbProperty> properties;
};
