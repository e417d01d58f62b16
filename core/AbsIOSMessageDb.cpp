#include "AbsIOSMessageDb.h"

#include <QHash>

#include <stdexcept>

int AbsIOSMessageDb::dbVersion(const QString &path)
{
    // SQLite would open a private temporary database for an empty name and
    // report it as generation 5.
    if (path.isEmpty())
        throw std::runtime_error("Cannot open database: no file name given.");
    QHash<QString, QString> tables;
    {
        // The connection's destructor closes the file on every way out.
        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::ReadWrite);
        {
            Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select * from sqlite_master where type='table'"));
            while (c.moveNext())
                tables.insert(c.getText(QStringLiteral("name")), c.getText(QStringLiteral("sql")));
        }
        db.close();
    }
    static const char *const ios6Tables[] = {"chat", "handle", "chat_handle_join", "message", "chat_message_join"};
    for (const char *name : ios6Tables) {
        if (!tables.contains(QLatin1String(name)))
            return 5;
    }
    return 6;
}
