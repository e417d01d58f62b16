#pragma once

#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVariant>

#include "Sqlite3Sql.h"

// One row as column name -> value, in column order. Copies share their data
// until one of them is changed (Qt's implicit sharing).
class Sqlite3Row
{
public:
    Sqlite3Row() = default;

    // Sets a column's value, replacing an earlier value of the same name
    // (names compare case-insensitively, as SQLite's do).
    void set(const QString &column, const QVariant &value);
    // The value of a column (any letter case); an invalid variant when absent.
    QVariant value(const QString &column) const;
    bool contains(const QString &column) const;
    void remove(const QString &column);

    QStringList columns() const;
    int size() const { return m_values.size(); }
    bool isEmpty() const { return m_values.isEmpty(); }
    const QList<QPair<QString, QVariant>> &items() const { return m_values; }

    // "insert into <table>(<columns>) values(?,...)" binding every column
    // except those named in excludedColumns (any letter case).
    Sqlite3Sql insertSql(const QString &table, const QSet<QString> &excludedColumns = {}) const;

private:
    int indexOf(const QString &column) const;

    QList<QPair<QString, QVariant>> m_values;
};
