#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <memory>

struct sqlite3;
class Sqlite3Holder;
struct sqlite3_stmt;
class Sqlite3Sql;

// One prepared statement. Owns the SQLite statement and finalizes it when
// destroyed. Column names are indexed once per preparation so that getters
// by name cost a hash look-up. Every call is its connection's use, checked
// against the thread that holds it (Sqlite3Holder).
class Sqlite3Stmt
{
public:
    // Prepares the statement; throws std::runtime_error with SQLite's message.
    Sqlite3Stmt(sqlite3 *db, const QString &sql, std::shared_ptr<Sqlite3Holder> holder);
    ~Sqlite3Stmt();
    Sqlite3Stmt(const Sqlite3Stmt &) = delete;
    Sqlite3Stmt &operator=(const Sqlite3Stmt &) = delete;

    // Resets the statement and binds the parameters of sql in order; throws.
    void bind(const Sqlite3Sql &sql);
    // One step: true when a row is current, false when done; throws on error.
    bool step();
    void reset();

    int columnCount() const;
    // Whether index is a column of the current row: counted once per step,
    // not asked of SQLite on every read of a column.
    bool isRowColumn(int index) const { return hasRow && index >= 0 && index < m_rowColumns; }
    // Index of a column by name in any letter case; -1 when the result has none.
    int columnIndex(const QString &name) const;
    QString columnName(int index) const;

    bool isNull(int index) const;
    qint64 int64At(int index) const;
    double doubleAt(int index) const;
    QString textAt(int index) const;
    // The column's text as SQLite holds it in UTF-8, valid until the next
    // step or reset; a null view for NULL.
    QByteArrayView utf8At(int index) const;
    QByteArray blobAt(int index) const;
    QVariant valueAt(int index) const;

    const QString &sql() const { return m_sql; }
    sqlite3_stmt *handle() const { return m_stmt; }
    // Which thread holds the connection.
    Sqlite3Holder &holder() const { return *m_holder; }

    // Set while a cursor uses the statement, so that the connection's
    // statement cache does not hand it out twice.
    bool busy = false;
    // Whether the current row is valid (a step returned a row).
    bool hasRow = false;

private:
    [[noreturn]] void fail(const char *what) const;

    std::shared_ptr<Sqlite3Holder> m_holder;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    QString m_sql;
    int m_rowColumns = 0;
    // The bytes of the texts and blobs bound now, kept until the bindings
    // are cleared so that SQLite reads them where they are rather than
    // copying each one.
    QList<QByteArray> m_bound;
    QHash<QString, int> m_lowerIndex;
    mutable QHash<QString, int> m_exactIndex;
    // Readers ask for the same few names row after row, mostly as literals
    // whose text never moves: a name found where one was asked for before
    // is compared with a copy of that one, which costs less than hashing it.
    struct RecentName
    {
        const QChar *where = nullptr;
        QString name; // a copy of its own
        int index = -1;
    };
    static constexpr int kRecentNames = 64;
    mutable RecentName m_recent[kRecentNames];
};
