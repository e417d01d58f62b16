#pragma once

#include <QString>

class IOS6MessageDb;

// What the triggers on the tables a merge empties do when it empties them.
// Every row removed fires them one by one; when all they do is remove or
// change rows of those same tables (which all end empty) or call the
// functions the database class registers as no-ops, the emptied file is the
// same without them, and they can be switched off meanwhile.
class EmptyingTriggers
{
public:
    // Whether the merge empties this table before it writes it again.
    static bool isEmptiedTable(const QString &table);
    // Whether a trigger, whenever it fires, does nothing but remove or change
    // rows of the emptied tables and call the no-op functions (with the
    // number of arguments they take). Anything else (an insert, another
    // table, RAISE, a function that is not known, a text the reading does not
    // follow) counts as doing more.
    static bool onlyEmpties(const QString &triggerSql);
    // Whether every trigger of the connection (its temporary ones as well)
    // on an emptied table only empties.
    static bool doOnlyEmpty(IOS6MessageDb &db);
};
