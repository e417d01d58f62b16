#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "Sqlite3Cursor.h"

// The rows of a cursor, stepped on a thread of its own a few batches ahead of
// the caller, who works on the rows before them meanwhile: SQLite's decoding
// of a row and the caller's use of the one before run side by side. Each row
// carries the values of the fields it was told of, each read from the cursor
// by the getter of its kind, so that a loop over next() sees what a loop over
// the cursor's moveNext() would, and the cursor's failure comes after every
// row before it.
//
// While this lives, the cursor's connection belongs to the stepping thread:
// the caller must not use the connection until next() has returned false or
// thrown, or this is gone. When no thread can be started the rows are stepped
// on the calling thread, a batch at a time, with the same results.
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

    // cursor: before its first row.
    CursorAhead(Sqlite3Cursor cursor, Fields fields, Stepping stepping = Stepping::OwnThread);
    // Stops the stepping and waits for it.
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

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    std::unique_ptr<Batch> m_batch;
    int m_row = -1;
};
