#include "Sqlite3Sql.h"

#include <cstring>

Sqlite3Sql::Sqlite3Sql(const QString &sql)
    : m_sql(sql)
{
}

namespace
{

// Statements are mostly written as literals and run over and over: the text
// of one seen lately is shared rather than converted again, which also lets
// the connection find its prepared statement by the text's place. Each
// thread keeps its own; the bytes are compared in full before a kept text is
// used.
QString sqlText(const char *sql)
{
    if (!sql)
        return QString::fromUtf8(sql);
    struct Kept
    {
        const char *where = nullptr;
        QByteArray utf8;
        QString text;
    };
    constexpr int kKept = 64;
    thread_local Kept kept[kKept];
    Kept &k = kept[(quintptr(sql) >> 3) % kKept];
    const qsizetype size = qsizetype(qstrlen(sql));
    if (k.where == sql && k.utf8.size() == size && std::memcmp(k.utf8.constData(), sql, size_t(size)) == 0)
        return k.text;
    k.where = sql;
    k.utf8 = QByteArray(sql, size);
    k.text = QString::fromUtf8(k.utf8);
    return k.text;
}

} // namespace

Sqlite3Sql::Sqlite3Sql(const char *sql)
    : m_sql(sqlText(sql))
{
}

Sqlite3Sql &Sqlite3Sql::appendSql(const QString &sql)
{
    m_sql += sql;
    return *this;
}

Sqlite3Sql &Sqlite3Sql::reserveParams(qsizetype count)
{
    m_params.reserve(m_params.size() + qMax<qsizetype>(0, count));
    return *this;
}

Sqlite3Param &Sqlite3Sql::nextParam(Sqlite3Param::Kind kind)
{
    Sqlite3Param &param = m_params.emplace_back();
    param.kind = kind;
    return param;
}

Sqlite3Sql &Sqlite3Sql::addIntParam(int value)
{
    nextParam(Sqlite3Param::Integer).integer = value;
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addInt64Param(qint64 value)
{
    nextParam(Sqlite3Param::Integer).integer = value;
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addTextParam(const QString &value)
{
    nextParam(Sqlite3Param::Text).text = value.isNull() ? QString(QLatin1String("")) : value;
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addBlobParam(const QByteArray &value)
{
    nextParam(Sqlite3Param::Blob).blob = value.isNull() ? QByteArray("") : value;
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addDoubleParam(double value)
{
    nextParam(Sqlite3Param::Real).real = value;
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addNullParam()
{
    nextParam(Sqlite3Param::Null);
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addParam(const QVariant &value)
{
    const int type = value.typeId();
    if (!value.isValid() || value.isNull()) {
        // A null text or byte array still binds as an empty one of its kind;
        // anything else null binds as NULL.
        if (type == QMetaType::QString)
            nextParam(Sqlite3Param::EmptyText);
        else if (type == QMetaType::QByteArray)
            nextParam(Sqlite3Param::EmptyBlob);
        else
            nextParam(Sqlite3Param::Null);
        return *this;
    }
    switch (type) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Bool:
        nextParam(Sqlite3Param::Integer).integer = value.toLongLong();
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        nextParam(Sqlite3Param::Real).real = value.toDouble();
        break;
    case QMetaType::QByteArray:
        nextParam(Sqlite3Param::Blob).blob = value.toByteArray();
        break;
    default:
        nextParam(Sqlite3Param::Text).text = value.toString();
        break;
    }
    return *this;
}
