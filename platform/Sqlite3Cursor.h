#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QSharedPointer>
#include <QString>

#include "Sqlite3Row.h"

class Sqlite3Stmt;

// The rows of one query, before the first row until moveNext is called.
// Copies share one statement; when the last copy goes, the statement is reset
// and can be handed out again by its connection's statement cache.
//
// Getters take a column name in any letter case; a column the result lacks
// reads as 0, an empty text or an empty array (and as NULL for isNull).
class Sqlite3Cursor
{
public:
    Sqlite3Cursor() = default;
    explicit Sqlite3Cursor(const QSharedPointer<Sqlite3Stmt> &stmt);

    bool moveNext();

    int getInt(const QString &column) const;
    qint64 getInt64(const QString &column) const;
    qint64 getInt64(int index) const;
    double getDouble(const QString &column) const;
    QString getText(const QString &column) const;
    QByteArray getBlob(const QString &column) const;
    // The same by the column's place in the result (from 0), for loops over
    // many rows that find their places once; a place the result lacks (-1
    // among them) reads as an empty text or array, as a missing name does.
    QString getText(int index) const;
    QByteArray getBlob(int index) const;
    // The text of a place as SQLite holds it, in UTF-8, without a copy: valid
    // until the next moveNext. A null view for NULL or a missing place;
    // getText gives QString::fromUtf8 of it.
    QByteArrayView getUtf8(int index) const;
    bool isNull(const QString &column) const;
    bool hasColumn(const QString &column) const;

    // The place of a column of the current row by name in any letter case;
    // -1 when the result has none, or no row is current.
    int columnIndex(const QString &column) const { return indexOf(column); }

    // The current row, every column by its result name.
    Sqlite3Row getRow() const;
    // Number of columns of the result.
    int count() const;

private:
    struct Lease;
    int indexOf(const QString &column) const;
    bool current() const;

    QSharedPointer<Lease> m_lease;
};
