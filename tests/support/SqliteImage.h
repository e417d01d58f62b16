#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

// SQLite database files written byte by byte, for tests that need exact
// bytes: records with chosen serial types, pages with chosen headers and
// damage no engine would write (cycles, counts past the page, absurd sizes).
// Written from the published file format, independently of the reader.

// One SQLite varint.
QByteArray sqliteVarint(quint64 value);

// One column of a record: its serial type and the bytes of its content.
struct SqliteField
{
    quint64 type = 0;
    QByteArray body;

    static SqliteField null() { return {0, {}}; }
    // The smallest integer type that holds the value (8 and 9 for 0 and 1).
    static SqliteField integer(qint64 value);
    // An integer stored with a given type (1 to 6) in two's complement.
    static SqliteField integerAs(quint64 type, qint64 value);
    static SqliteField real(double value);
    static SqliteField text(const QByteArray &utf8);
    static SqliteField blob(const QByteArray &bytes);
};

// The record: header length, serial types, then the contents.
QByteArray sqliteRecord(const QList<SqliteField> &fields);
// The serial types of a record without its header length (what follows
// column 0's type when column 0 is left out).
QByteArray sqliteSerialTypes(const QList<SqliteField> &fields);
QByteArray sqliteBody(const QList<SqliteField> &fields);
// A table leaf cell: payload size, rowid, payload (which must fit the page).
QByteArray sqliteLeafCell(qint64 rowid, const QByteArray &record);

// A file image of whole pages. Page 1 starts with the database header and
// an empty table leaf page for the schema.
class SqliteImage
{
public:
    explicit SqliteImage(int pageSize, int pages);

    int pageSize() const { return m_pageSize; }
    int pages() const { return m_data.size() / m_pageSize; }
    // Page n (from 1) as raw bytes; resized images keep their pages.
    char *page(int n);
    void addPages(int count);

    // Header fields.
    void setStoredPageSize(quint16 value);
    void setReservedBytes(quint8 value);
    void setFreelist(quint32 firstTrunk, quint32 count);

    // A table leaf (13) or index leaf (10) page holding the cells given, from
    // the end of the page down; a table interior (5) page with the children
    // given as (left child, key) cells and the right child.
    void setLeafPage(int n, const QList<QByteArray> &cells, quint8 type = 13);
    void setInteriorPage(int n, const QList<QPair<quint32, qint64>> &children, quint32 rightChild);
    // A freelist trunk page.
    void setTrunkPage(int n, quint32 nextTrunk, const QList<quint32> &leaves, qint64 storedCount = -1);
    // Writes bytes at an offset of a page.
    void put(int n, int offset, const QByteArray &bytes);
    void putBE16(int n, int offset, quint16 value);
    void putBE32(int n, int offset, quint32 value);
    // The b-tree header offset of page n (100 on page 1).
    static int headerOffset(int n) { return n == 1 ? 100 : 0; }

    const QByteArray &bytes() const { return m_data; }
    // Writes the image; throws std::runtime_error when it cannot.
    void write(const QString &path) const;

private:
    int m_pageSize;
    QByteArray m_data;
};

// Writes bytes over a file at an offset (the file grows when needed); throws
// std::runtime_error when it cannot.
void patchFile(const QString &path, qint64 offset, const QByteArray &bytes);
QByteArray readWholeFile(const QString &path);
void writeWholeFile(const QString &path, const QByteArray &bytes);

class Sqlite3DB;

// Makes a connection leave deleted bytes where they were (secure_delete
// off, no auto-vacuum) and gives its file the page size, rewriting the file
// when it already holds tables.
void keepDeletedBytes(Sqlite3DB &db, int pageSize = 0);
