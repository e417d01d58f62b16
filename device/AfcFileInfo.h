#pragma once

#include <QDateTime>
#include <QString>

// What the device says of one path.
class AfcFileInfo
{
public:
    AfcFileInfo() = default;
    explicit AfcFileInfo(const QString &path);

    // The device gave a file type: the path is there.
    bool exists() const;
    bool isFile() const;
    bool isDir() const;

    QString path;
    qint64 size = 0;
    QDateTime mtime; // invalid when the device gave none
    QString ifmt;    // "S_IFREG", "S_IFDIR", "S_IFLNK", ...
};
