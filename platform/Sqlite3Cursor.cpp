#include "Sqlite3Cursor.h"

#include "Sqlite3Holder.h"
#include "Sqlite3Stmt.h"

// Holds the statement for the cursor and its copies; releases it for reuse
// when the last copy is gone.
struct Sqlite3Cursor::Lease
{
    explicit Lease(const QSharedPointer<Sqlite3Stmt> &s)
        : stmt(s)
    {
        stmt->busy = true;
        stmt->holder().cursorOpened();
    }
    ~Lease()
    {
        stmt->reset();
        stmt->busy = false;
        stmt->holder().cursorClosed();
    }
    QSharedPointer<Sqlite3Stmt> stmt;
};

Sqlite3Cursor::Sqlite3Cursor(const QSharedPointer<Sqlite3Stmt> &stmt)
    : m_lease(QSharedPointer<Lease>::create(stmt))
{
}

bool Sqlite3Cursor::moveNext()
{
    if (!m_lease)
        return false;
    return m_lease->stmt->step();
}

bool Sqlite3Cursor::current() const
{
    return m_lease && m_lease->stmt->hasRow;
}

int Sqlite3Cursor::indexOf(const QString &column) const
{
    if (!current())
        return -1;
    return m_lease->stmt->columnIndex(column);
}

int Sqlite3Cursor::getInt(const QString &column) const
{
    return static_cast<int>(getInt64(column));
}

qint64 Sqlite3Cursor::getInt64(const QString &column) const
{
    const int i = indexOf(column);
    return i < 0 ? 0 : m_lease->stmt->int64At(i);
}

qint64 Sqlite3Cursor::getInt64(int index) const
{
    if (!m_lease || !m_lease->stmt->isRowColumn(index))
        return 0;
    return m_lease->stmt->int64At(index);
}

double Sqlite3Cursor::getDouble(const QString &column) const
{
    const int i = indexOf(column);
    return i < 0 ? 0.0 : m_lease->stmt->doubleAt(i);
}

QString Sqlite3Cursor::getText(const QString &column) const
{
    const int i = indexOf(column);
    return i < 0 ? QString() : m_lease->stmt->textAt(i);
}

QByteArray Sqlite3Cursor::getBlob(const QString &column) const
{
    const int i = indexOf(column);
    return i < 0 ? QByteArray() : m_lease->stmt->blobAt(i);
}

QString Sqlite3Cursor::getText(int index) const
{
    if (!m_lease || !m_lease->stmt->isRowColumn(index))
        return QString();
    return m_lease->stmt->textAt(index);
}

QByteArray Sqlite3Cursor::getBlob(int index) const
{
    if (!m_lease || !m_lease->stmt->isRowColumn(index))
        return QByteArray();
    return m_lease->stmt->blobAt(index);
}

QByteArrayView Sqlite3Cursor::getUtf8(int index) const
{
    if (!m_lease || !m_lease->stmt->isRowColumn(index))
        return QByteArrayView();
    return m_lease->stmt->utf8At(index);
}

bool Sqlite3Cursor::isNull(const QString &column) const
{
    const int i = indexOf(column);
    return i < 0 || m_lease->stmt->isNull(i);
}

bool Sqlite3Cursor::hasColumn(const QString &column) const
{
    return m_lease && m_lease->stmt->columnIndex(column) >= 0;
}

Sqlite3Row Sqlite3Cursor::getRow() const
{
    Sqlite3Row row;
    if (!current())
        return row;
    const Sqlite3Stmt &s = *m_lease->stmt;
    const int n = s.columnCount();
    for (int i = 0; i < n; ++i)
        row.set(s.columnName(i), s.valueAt(i));
    return row;
}

int Sqlite3Cursor::count() const
{
    return m_lease ? m_lease->stmt->columnCount() : 0;
}
