#pragma once

#include <QList>
#include <QString>

#include "_SqliteCol.h"

// The columns a CREATE TABLE statement declares, in their order, read the
// way the engine reads them: quoted and bracketed names, type names of
// several words with sizes, column constraints in any order, comments, and
// table constraints (which declare no column) after the columns.
struct DeclaredColumn
{
    _SqliteCol column; // name, declared type, NOT NULL, UNIQUE, PRIMARY KEY
    bool hasDefault = false;
};

// Empty when the text is no CREATE TABLE statement that can be read.
QList<DeclaredColumn> declaredColumns(const QString &createTable);

// The columns to carve a table's deleted rows against: column 0 must be the
// table's integer primary key, which a record stores as NULL; empty
// otherwise. With defaultsNeverNull, a column declared with a default is
// taken never to hold NULL (its writer always gives it a value), which is
// what the carver's flags say.
QList<_SqliteCol> carvingColumns(const QList<DeclaredColumn> &declared, bool defaultsNeverNull);

// Index of the column of that name (case-insensitive, as the engine
// compares names); -1 when there is none.
int columnIndex(const QList<_SqliteCol> &columns, const QString &name);
