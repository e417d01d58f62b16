#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <vector>

#include "IOS5MmsParts.h"
#include "Sqlite3File.h"
#include "_SqliteCol.h"

// The parts of deleted MMS messages of an iOS 5 sms.db, gathered from the
// rows of its msg_pieces table that a scan finds in freed pages, older page
// images and free space. A row counts as a part only when it has the values
// of the table's own CREATE statement, each of a type its column declares,
// a message it belongs to and a content type. Of the images found of one
// part (the same part number and type of one message) the best is kept: a
// whole cell over a carved row, then the newer, then one with its rowid.
class DeletedMmsParts
{
public:
    // createTable: the file's CREATE statement of msg_pieces (may be empty).
    explicit DeletedMmsParts(const QString &createTable);

    // Whether the statement declares the columns a part is read from.
    bool usable() const { return m_messageId > 0; }
    // The columns to carve the table with (empty when not usable).
    const QList<_SqliteCol> &columns() const { return m_columns; }

    // Reads a row as a part and the message it belongs to; false when the
    // row is none.
    bool partOf(const Sqlite3File::_Row &row, IOS5MmsParts::Part &part, qint64 &messageId) const;
    // Keeps the row when it is a part and the best image of it so far; age
    // as the carving pass tells it.
    void offer(const Sqlite3File::_Row &row, bool wholeCell, int age);

    // The parts found of a message, with live (those the live table still
    // holds) taking the place of found images of the same part; in the
    // order of their part numbers, then rowids, as the live reader reads
    // them.
    QList<IOS5MmsParts::Part> partsOf(qint64 messageId, const QList<IOS5MmsParts::Part> &live) const;

private:
    struct Found
    {
        IOS5MmsParts::Part part;
        int rank = 0;
        int age = 0;
    };

    QList<_SqliteCol> m_columns;
    int m_messageId = -1;
    int m_data = -1;
    int m_partId = -1;
    int m_contentType = -1;
    QHash<qint64, std::vector<Found>> m_found;
};
