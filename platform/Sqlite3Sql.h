#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

// One parameter value, kept as the kind it is bound as.
struct Sqlite3Param
{
    enum Kind : quint8 {
        Null,
        Integer,
        Real,
        Text,
        Blob,
        EmptyText, // a null text given as a variant: binds as ''
        EmptyBlob, // a null byte array given as a variant: a zero-length blob
    };
    Kind kind = Null;
    qint64 integer = 0;
    double real = 0;
    QString text;
    QByteArray blob;
};

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
    const QList<Sqlite3Param> &params() const { return m_params; }

private:
    Sqlite3Param &nextParam(Sqlite3Param::Kind kind);

    QString m_sql;
    QList<Sqlite3Param> m_params;
};
