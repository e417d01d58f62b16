#include "_SqliteCol.h"

_SqliteCol::_SqliteCol(const QString &name, const QString &type, bool notNull, bool unique,
                       bool primaryKey)
    : name(name)
    , type(type)
    , notNull(notNull)
    , unique(unique)
    , primaryKey(primaryKey)
{
}

// The affinity rules of SQLite, applied in its order: INT, then CHAR/CLOB/TEXT,
// then BLOB or no type, then REAL/FLOA/DOUB, else NUMERIC.
bool _SqliteCol::isInteger() const
{
    return type.contains(QLatin1String("INT"), Qt::CaseInsensitive);
}

bool _SqliteCol::isText() const
{
    if (isInteger())
        return false;
    return type.contains(QLatin1String("CHAR"), Qt::CaseInsensitive)
        || type.contains(QLatin1String("CLOB"), Qt::CaseInsensitive)
        || type.contains(QLatin1String("TEXT"), Qt::CaseInsensitive);
}

bool _SqliteCol::isBlob() const
{
    if (isInteger() || isText())
        return false;
    return type.trimmed().isEmpty() || type.contains(QLatin1String("BLOB"), Qt::CaseInsensitive);
}

bool _SqliteCol::isReal() const
{
    if (isInteger() || isText() || isBlob())
        return false;
    return type.contains(QLatin1String("REAL"), Qt::CaseInsensitive)
        || type.contains(QLatin1String("FLOA"), Qt::CaseInsensitive)
        || type.contains(QLatin1String("DOUB"), Qt::CaseInsensitive);
}

bool _SqliteCol::isNumeric() const
{
    return !isInteger() && !isText() && !isBlob() && !isReal();
}
