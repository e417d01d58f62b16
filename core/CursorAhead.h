#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "PageCacheLimit.h"
#include "Sqlite3Cursor.h"

class Sqlite3DB;
class Sqlite3Sql;

// The rows of a query, stepped on a thread of its own a few batches ahead of
// the caller, who works on the rows before them meanwhile: SQLite's decoding
// of a row and the caller's use of the one before run side by side. Each row
// carries the values of the fields it was told of, each read from the cursor
// by the getter of its kind, so that a loop over next() sees what a loop over
// the cursor's moveNext() would, and the cursor's failure comes after every
// row before it.
//
// The connection is lent to the stepping thread (Sqlite3Lease) from the
// start until the last row has been stepped: the caller must not use it until
// next() has returned false or thrown, or this is gone, and in checked builds
// a call that does ends the program. The stepping thread gives it back before
// the caller can learn that the rows have ended. When no thread can be started
// the rows are stepped on the calling thread, a batch at a time, with the
// same results.
//
// A pass that reads each page once in the file's order can ask for a small
// page cache: it is set before the query and put back when this goes, after
// the connection has come back.
class CursorAhead
{
public:
    enum class Kind : quint8 {
        Int64, // getInt64
        Utf8,  // getUtf8, copied; the view lasts until the next call of next()
        Text,  // getText, made on the stepping thread
        Blob,  // getBlob, made on the stepping thread
    };
    struct Field
    {
        int place; // in the result, from 0; a place the result lacks reads as the cursor reads it
        Kind kind;
    };
    // Asked once, on the stepping thread, when the first row is current: the
    // fields every row carries, by the names of the result. It must not keep
    // the cursor.
    using Fields = std::function<std::vector<Field>(const Sqlite3Cursor &first)>;

    enum class Stepping { OwnThread, CallingThread };

    // Runs sql on db (a failure throws, with nothing lent); pageCacheKiB:
    // the page cache while this lives (PageCacheLimit), 0 to leave it as is.
    CursorAhead(Sqlite3DB &db, const Sqlite3Sql &sql, Fields fields, int pageCacheKiB = 0,
                Stepping stepping = Stepping::OwnThread);
    // Stops the stepping and waits for it; then the connection is the
    // caller's again, and its page cache as it was.
    ~CursorAhead();
    CursorAhead(const CursorAhead &) = delete;
    CursorAhead &operator=(const CursorAhead &) = delete;

    // Moves to the next row: false after the last one. The cursor's failure is
    // thrown once every row before it has been handed over; after it, false.
    bool next();

    // The current row's value of a field (its index in the list Fields gave).
    // A field of another kind, or none, reads as 0, a null view or a null text
    // or array. Texts and arrays are handed over once: a second take is null.
    qint64 int64(int field) const;
    QByteArrayView utf8(int field) const;
    QString takeText(int field);
    QByteArray takeBlob(int field);

    // Rows in a batch handed over at once, and batches stepped ahead at most.
    static constexpr int kBatchRows = 512;
    static constexpr int kBatches = 4;

private:
    struct Batch;
    struct Shared;
    struct Slot
    {
        Kind kind;
        int index; // among the fields of its kind
    };

    // The place of the current row's value of field among the batch's values
    // of its kind; false for no row, no such field or another kind.
    bool place(int field, Kind kind, size_t *at) const;

    std::optional<PageCacheLimit> m_cacheLimit;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    std::unique_ptr<Batch> m_batch;
    int m_row = -1;
};
