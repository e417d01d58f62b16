#include "DbInspect.h"

#include <QCryptographicHash>
#include <QFile>

#include "Sqlite3DB.h"

QMap<QString, qint64> tableRowCounts(const QString &path)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadOnly);
    QStringList tables;
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select name from sqlite_master where type='table'"));
        while (c.moveNext())
            tables.append(c.getText(QStringLiteral("name")));
    }
    QMap<QString, qint64> counts;
    for (const QString &t : std::as_const(tables)) {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(QStringLiteral("select count(*) from \"%1\"").arg(t)));
        counts.insert(t, c.moveNext() ? c.getInt64(0) : -1);
    }
    return counts;
}

QStringList queryRows(const QString &path, const QString &sql)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadOnly);
    QStringList rows;
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
    while (c.moveNext()) {
        QStringList values;
        const Sqlite3Row row = c.getRow();
        for (const auto &item : row.items())
            values.append(item.second.isNull() ? QStringLiteral("NULL") : item.second.toString());
        rows.append(values.join(QLatin1Char('|')));
    }
    return rows;
}

QByteArray fileDigest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash sha(QCryptographicHash::Sha1);
    sha.addData(&f);
    return sha.result().toHex();
}
