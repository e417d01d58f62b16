#pragma once

#include <QList>

#include <vector>

#include "Sqlite3File.h"
#include "_SqliteCol.h"

// What a column accepts of the serial types, worked out once per column
// list: the affinity tests compare the declared type's text.
struct ColumnRule
{
    bool null = false;
    bool integer = false;
    bool real = false;
    bool blob = false;
    bool text = false;

    explicit ColumnRule(const _SqliteCol &col)
        : null(!col.anyFlag())
        , integer(col.isInteger() || col.isNumeric())
        , real(col.isReal() || col.isNumeric())
        , blob(col.isBlob())
        , text(col.isText())
    {
    }

    bool accepts(quint64 type) const
    {
        if (type == 0)
            return null;
        if (type == 7)
            return real;
        if (type <= 9)
            return integer;
        if (type <= 11)
            return true;
        return type % 2 == 0 ? blob : text;
    }
};

struct Sqlite3File::ColumnRules
{
    // Held so that the list's shared data stays alive and unchanged while it
    // identifies these rules.
    QList<_SqliteCol> columns;
    std::vector<ColumnRule> rules;
};
