#pragma once

#include <QByteArray>
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
    bool isNull(const QString &column) const;
    bool hasColumn(const QString &column) const;

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
