#pragma once

#include <QByteArray>
#include <QList>

// Writes archives as a device's file_relay service sends them ("newc" cpio,
// optionally gzip-compressed), with entries of every kind and any name, so
// that an unpacker can be shown names and kinds a device should never send.
namespace CpioArchive
{

struct Entry
{
    enum Kind { File, Folder, Symlink, Fifo, CharDevice, Socket };

    QByteArray name;
    Kind kind = File;
    QByteArray content; // files only
    QByteArray linkTarget; // symlinks only
    qint64 mtime = 1357000000;
};

Entry file(const QByteArray &name, const QByteArray &content, qint64 mtime = 1357000000);
Entry folder(const QByteArray &name);
Entry special(const QByteArray &name, Entry::Kind kind, const QByteArray &linkTarget = QByteArray());

// Throws std::runtime_error when libarchive refuses an entry.
QByteArray write(const QList<Entry> &entries, bool gzip = false);

// Where the data of the named entry starts in an uncompressed archive; -1
// when the name is not in it.
qsizetype dataOffset(const QByteArray &archive, const QByteArray &name);

} // namespace CpioArchive
