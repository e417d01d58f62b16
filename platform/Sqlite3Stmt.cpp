#include "Sqlite3Stmt.h"

#include <sqlite3.h>

#include <stdexcept>
#include <utility>

#include "Sqlite3Holder.h"
#include "Sqlite3Sql.h"

Sqlite3Stmt::Sqlite3Stmt(sqlite3 *db, const QString &sql, std::shared_ptr<Sqlite3Holder> holder)
    : m_holder(std::move(holder))
    , m_db(db)
    , m_sql(sql)
{
    m_holder->check("Sqlite3Stmt::Sqlite3Stmt");
    if (!db)
        throw std::runtime_error("database is not open");
    const QByteArray utf8 = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = std::string(sqlite3_errmsg(db));
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throw std::runtime_error(msg);
    }
    if (!m_stmt)
        throw std::runtime_error("empty statement: " + sql.toStdString());
    const int n = sqlite3_column_count(m_stmt);
    m_lowerIndex.reserve(n);
    for (int i = 0; i < n; ++i) {
        const QString name = QString::fromUtf8(sqlite3_column_name(m_stmt, i)).toLower();
        if (!m_lowerIndex.contains(name))
            m_lowerIndex.insert(name, i);
    }
}

Sqlite3Stmt::~Sqlite3Stmt()
{
    m_holder->check("Sqlite3Stmt::~Sqlite3Stmt");
    sqlite3_finalize(m_stmt);
}

void Sqlite3Stmt::fail(const char *what) const
{
    Q_UNUSED(what);
    throw std::runtime_error(std::string(sqlite3_errmsg(m_db)));
}

void Sqlite3Stmt::bind(const Sqlite3Sql &sql)
{
    m_holder->check("Sqlite3Stmt::bind");
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    m_bound.clear();
    hasRow = false;
    m_rowColumns = 0;
    const QList<Sqlite3Param> &params = sql.params();
    const int placeholders = sqlite3_bind_parameter_count(m_stmt);
    if (params.size() > placeholders) {
        throw std::runtime_error(QStringLiteral("%1 parameters given for %2 placeholders: %3")
                                     .arg(params.size())
                                     .arg(placeholders)
                                     .arg(m_sql)
                                     .toStdString());
    }
    for (int i = 0; i < params.size(); ++i) {
        const Sqlite3Param &param = params.at(i);
        const int pos = i + 1;
        int rc = SQLITE_OK;
        switch (param.kind) {
        case Sqlite3Param::Null:
            rc = sqlite3_bind_null(m_stmt, pos);
            break;
        case Sqlite3Param::Integer:
            rc = sqlite3_bind_int64(m_stmt, pos, param.integer);
            break;
        case Sqlite3Param::Real:
            rc = sqlite3_bind_double(m_stmt, pos, param.real);
            break;
        case Sqlite3Param::EmptyText:
            rc = sqlite3_bind_text(m_stmt, pos, "", 0, SQLITE_STATIC);
            break;
        case Sqlite3Param::EmptyBlob:
            rc = sqlite3_bind_zeroblob(m_stmt, pos, 0);
            break;
        case Sqlite3Param::Blob: {
            // Shared with the parameter, not copied; bytes the array does
            // not own (raw data) may go before the row is read, and are.
            QByteArray blob = param.blob;
            if (!blob.data_ptr().d_ptr())
                blob = QByteArray(blob.constData(), blob.size());
            m_bound.append(blob);
            const QByteArray &b = m_bound.constLast();
            rc = sqlite3_bind_blob64(m_stmt, pos, b.constData(), sqlite3_uint64(b.size()), SQLITE_STATIC);
            break;
        }
        case Sqlite3Param::Text: {
            m_bound.append(param.text.toUtf8());
            const QByteArray &t = m_bound.constLast();
            rc = sqlite3_bind_text64(m_stmt, pos, t.constData(), sqlite3_uint64(t.size()), SQLITE_STATIC,
                                     SQLITE_UTF8);
            break;
        }
        }
        if (rc != SQLITE_OK)
            fail("bind");
    }
}

bool Sqlite3Stmt::step()
{
    m_holder->check("Sqlite3Stmt::step");
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        hasRow = true;
        m_rowColumns = sqlite3_data_count(m_stmt);
        return true;
    }
    hasRow = false;
    m_rowColumns = 0;
    if (rc == SQLITE_DONE)
        return false;
    // Keep the message before reset() replaces it.
    const std::string msg(sqlite3_errmsg(m_db));
    sqlite3_reset(m_stmt);
    throw std::runtime_error(msg);
}

void Sqlite3Stmt::reset()
{
    m_holder->check("Sqlite3Stmt::reset");
    hasRow = false;
    m_rowColumns = 0;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    m_bound.clear();
}

int Sqlite3Stmt::columnCount() const
{
    m_holder->check("Sqlite3Stmt::columnCount");
    return sqlite3_column_count(m_stmt);
}

int Sqlite3Stmt::columnIndex(const QString &name) const
{
    m_holder->check("Sqlite3Stmt::columnIndex");
    // The slot follows from where the characters lie; only the same
    // characters give the kept index.
    RecentName &recent = m_recent[(quintptr(name.constData()) >> 3) % kRecentNames];
    if (recent.where == name.constData() && QStringView(recent.name) == QStringView(name))
        return recent.index;
    int index;
    auto it = m_exactIndex.constFind(name);
    if (it != m_exactIndex.constEnd()) {
        index = it.value();
    } else {
        index = m_lowerIndex.value(name.toLower(), -1);
        // A copy of its own: the name may lie in the caller's buffer.
        m_exactIndex.insert(QString(name.constData(), name.size()), index);
    }
    recent.where = name.constData();
    recent.name = QString(name.constData(), name.size());
    recent.index = index;
    return index;
}

QString Sqlite3Stmt::columnName(int index) const
{
    m_holder->check("Sqlite3Stmt::columnName");
    return QString::fromUtf8(sqlite3_column_name(m_stmt, index));
}

bool Sqlite3Stmt::isNull(int index) const
{
    m_holder->check("Sqlite3Stmt::isNull");
    return sqlite3_column_type(m_stmt, index) == SQLITE_NULL;
}

qint64 Sqlite3Stmt::int64At(int index) const
{
    m_holder->check("Sqlite3Stmt::int64At");
    return sqlite3_column_int64(m_stmt, index);
}

double Sqlite3Stmt::doubleAt(int index) const
{
    m_holder->check("Sqlite3Stmt::doubleAt");
    return sqlite3_column_double(m_stmt, index);
}

QString Sqlite3Stmt::textAt(int index) const
{
    m_holder->check("Sqlite3Stmt::textAt");
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, index));
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, index));
}

QByteArrayView Sqlite3Stmt::utf8At(int index) const
{
    m_holder->check("Sqlite3Stmt::utf8At");
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, index));
    if (!text)
        return QByteArrayView();
    return QByteArrayView(text, sqlite3_column_bytes(m_stmt, index));
}

QByteArray Sqlite3Stmt::blobAt(int index) const
{
    m_holder->check("Sqlite3Stmt::blobAt");
    const void *data = sqlite3_column_blob(m_stmt, index);
    const int size = sqlite3_column_bytes(m_stmt, index);
    if (!data || size <= 0)
        return QByteArray();
    return QByteArray(static_cast<const char *>(data), size);
}

QVariant Sqlite3Stmt::valueAt(int index) const
{
    m_holder->check("Sqlite3Stmt::valueAt");
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qlonglong>(int64At(index)));
    case SQLITE_FLOAT:
        return QVariant(doubleAt(index));
    case SQLITE_TEXT:
        return QVariant(textAt(index));
    case SQLITE_BLOB: {
        QByteArray b = blobAt(index);
        if (b.isNull())
            b = QByteArray("");
        return QVariant(b);
    }
    default:
        return QVariant();
    }
}
