#include "Sqlite3Row.h"

int Sqlite3Row::indexOf(const QString &column) const
{
    for (int i = 0; i < m_values.size(); ++i) {
        if (m_values.at(i).first.compare(column, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void Sqlite3Row::set(const QString &column, const QVariant &value)
{
    const int i = indexOf(column);
    if (i >= 0)
        m_values[i].second = value;
    else
        m_values.append(qMakePair(column, value));
}

QVariant Sqlite3Row::value(const QString &column) const
{
    const int i = indexOf(column);
    return i >= 0 ? m_values.at(i).second : QVariant();
}

bool Sqlite3Row::contains(const QString &column) const
{
    return indexOf(column) >= 0;
}

void Sqlite3Row::remove(const QString &column)
{
    const int i = indexOf(column);
    if (i >= 0)
        m_values.removeAt(i);
}

QStringList Sqlite3Row::columns() const
{
    QStringList names;
    names.reserve(m_values.size());
    for (const auto &item : m_values)
        names.append(item.first);
    return names;
}

Sqlite3Sql Sqlite3Row::insertSql(const QString &table, const QSet<QString> &excludedColumns) const
{
    QSet<QString> excluded;
    for (const QString &c : excludedColumns)
        excluded.insert(c.toLower());

    QString names;
    QString marks;
    QList<QVariant> values;
    for (const auto &item : m_values) {
        if (excluded.contains(item.first.toLower()))
            continue;
        if (!names.isEmpty()) {
            names += QLatin1Char(',');
            marks += QLatin1Char(',');
        }
        // Quoted so that column names that are keywords stay names.
        names += QLatin1Char('"') + QString(item.first).replace(QLatin1Char('"'), QLatin1String("\"\""))
            + QLatin1Char('"');
        marks += QLatin1Char('?');
        values.append(item.second);
    }

    Sqlite3Sql sql;
    if (values.isEmpty()) {
        sql.appendSql(QStringLiteral("insert into %1 default values").arg(table));
        return sql;
    }
    sql.appendSql(QStringLiteral("insert into %1(%2) values(%3)").arg(table, names, marks));
    for (const QVariant &v : values)
        sql.addParam(v);
    return sql;
}
