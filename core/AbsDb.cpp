#include "AbsDb.h"

void AbsDb::beginTransaction()
{
    ensureOpen();
    beginTran();
    m_inTransaction = true;
}

void AbsDb::endTransaction(bool commit)
{
    if (!m_inTransaction)
        return;
    ensureOpen();
    if (commit)
        commitTran();
    else
        rollbackTran();
    m_inTransaction = false;
}

qint64 AbsDb::insertRow(const Sqlite3Row &row, const QString &table, const QSet<QString> &excludedColumns)
{
    ensureOpen();
    executeThrow(row.insertSql(table, excludedColumns));
    return lastInsertId();
}

QList<Sqlite3Row> AbsDb::selectAll(const QString &table)
{
    ensureOpen();
    QList<Sqlite3Row> rows;
    Sqlite3Cursor c = queryThrow(Sqlite3Sql(QStringLiteral("select * from %1").arg(table)));
    while (c.moveNext())
        rows.append(c.getRow());
    return rows;
}
