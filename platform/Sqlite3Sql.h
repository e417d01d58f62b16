#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

// Statement text with positional parameters. Each add*Param call binds the
// next "?" placeholder, in the order of the calls. A value type: copies are
// independent.
class Sqlite3Sql
{
public:
    Sqlite3Sql() = default;
    Sqlite3Sql(const QString &sql); // NOLINT: built implicitly from text on purpose
    Sqlite3Sql(const char *sql);    // NOLINT

    Sqlite3Sql &appendSql(const QString &sql);
    // Room for count parameters up front, so that a statement of many
    // columns binds without growing its list.
    Sqlite3Sql &reserveParams(qsizetype count);
    Sqlite3Sql &addIntParam(int value);
    Sqlite3Sql &addInt64Param(qint64 value);
    // A null or empty text binds as '' (never as NULL), so comparisons with
    // stored empty texts match.
    Sqlite3Sql &addTextParam(const QString &value);
    Sqlite3Sql &addBlobParam(const QByteArray &value);
    Sqlite3Sql &addDoubleParam(double value);
    Sqlite3Sql &addNullParam();
    // Binds a variant by its type: integers, reals, texts, byte arrays, or
    // NULL for an invalid/null variant.
    Sqlite3Sql &addParam(const QVariant &value);

    const QString &sql() const { return m_sql; }
    const QList<QVariant> &params() const { return m_params; }

private:
    QString m_sql;
    QList<QVariant> m_params;
};
