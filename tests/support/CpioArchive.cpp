#include "CpioArchive.h"

#include <archive.h>
#include <archive_entry.h>

#include <stdexcept>
#include <string>

namespace CpioArchive
{

Entry file(const QByteArray &name, const QByteArray &content, qint64 mtime)
{
    Entry e;
    e.name = name;
    e.content = content;
    e.mtime = mtime;
    return e;
}

Entry folder(const QByteArray &name)
{
    Entry e;
    e.name = name;
    e.kind = Entry::Folder;
    return e;
}

Entry special(const QByteArray &name, Entry::Kind kind, const QByteArray &linkTarget)
{
    Entry e;
    e.name = name;
    e.kind = kind;
    e.linkTarget = linkTarget;
    return e;
}

namespace
{

la_ssize_t appendTo(struct archive *, void *client, const void *buffer, size_t length)
{
    static_cast<QByteArray *>(client)->append(static_cast<const char *>(buffer), qsizetype(length));
    return la_ssize_t(length);
}

int opened(struct archive *, void *)
{
    return ARCHIVE_OK;
}

int closed(struct archive *, void *)
{
    return ARCHIVE_OK;
}

mode_t typeOf(Entry::Kind kind)
{
    switch (kind) {
    case Entry::File:
        return AE_IFREG;
    case Entry::Folder:
        return AE_IFDIR;
    case Entry::Symlink:
        return AE_IFLNK;
    case Entry::Fifo:
        return AE_IFIFO;
    case Entry::CharDevice:
        return AE_IFCHR;
    case Entry::Socket:
        return AE_IFSOCK;
    }
    return AE_IFREG;
}

void check(struct archive *a, int result)
{
    if (result < ARCHIVE_WARN)
        throw std::runtime_error(std::string("cpio: ") + (archive_error_string(a) ? archive_error_string(a) : "?"));
}

} // namespace

QByteArray write(const QList<Entry> &entries, bool gzip)
{
    QByteArray out;
    struct archive *a = archive_write_new();
    archive_write_set_format_cpio_newc(a);
    if (gzip)
        archive_write_add_filter_gzip(a);
    else
        archive_write_add_filter_none(a);
    archive_write_set_bytes_in_last_block(a, 1);
    try {
        check(a, archive_write_open(a, &out, opened, appendTo, closed));
        ino_t inode = 1;
        for (const Entry &e : entries) {
            struct archive_entry *entry = archive_entry_new();
            archive_entry_set_pathname(entry, e.name.constData());
            archive_entry_set_filetype(entry, typeOf(e.kind));
            archive_entry_set_perm(entry, e.kind == Entry::Folder ? 0755 : 0644);
            archive_entry_set_mtime(entry, time_t(e.mtime), 0);
            archive_entry_set_ino(entry, inode++);
            archive_entry_set_nlink(entry, 1);
            if (e.kind == Entry::Symlink)
                archive_entry_set_symlink(entry, e.linkTarget.constData());
            if (e.kind == Entry::CharDevice)
                archive_entry_set_rdev(entry, 0x0103);
            archive_entry_set_size(entry, e.kind == Entry::File ? la_int64_t(e.content.size()) : 0);
            const int header = archive_write_header(a, entry);
            archive_entry_free(entry);
            check(a, header);
            if (e.kind == Entry::File && !e.content.isEmpty()
                && archive_write_data(a, e.content.constData(), size_t(e.content.size())) != e.content.size())
                check(a, ARCHIVE_FATAL);
        }
        check(a, archive_write_close(a));
    } catch (...) {
        archive_write_free(a);
        throw;
    }
    archive_write_free(a);
    return out;
}

qsizetype dataOffset(const QByteArray &archive, const QByteArray &name)
{
    // newc: a 110-byte header, the name with its NUL, padded to 4 bytes.
    const qsizetype at = archive.indexOf(name + '\0');
    if (at < 110)
        return -1;
    qsizetype end = at + name.size() + 1;
    return (end + 3) & ~qsizetype(3);
}

} // namespace CpioArchive
