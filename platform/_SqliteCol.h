#pragma once

#include <QString>

// Description of one table column: its name, its declared type and three
// flags (not null, unique, primary key). The type tests follow SQLite's
// column-affinity rules on the declared type.
class _SqliteCol
{
public:
    _SqliteCol() = default;
    _SqliteCol(const QString &name, const QString &type, bool notNull = false, bool unique = false,
               bool primaryKey = false);

    QString name;
    QString type;
    bool notNull = false;
    bool unique = false;
    bool primaryKey = false;

    // True when any of the three flags is set.
    bool anyFlag() const { return notNull || unique || primaryKey; }

    bool isInteger() const;
    bool isText() const;
    bool isBlob() const;
    bool isReal() const;
    bool isNumeric() const;
};
