#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class Sqlite3DB;

// Writes a local database of the old single-file format: messages in
// "view_sms" (address, body, person, date in seconds since 1970, is_send),
// bodies enciphered with the given key. As the old program did, the rows live
// in a table and view_sms is a view over it.
class OldLocalDbFixture
{
public:
    OldLocalDbFixture(const QString &path, const QByteArray &key);
    ~OldLocalDbFixture();

    // text null: the body is stored as NULL.
    void add(const QString &address, const QString &text, const QString &person, qint64 unixDate, int isSend);
    void close();

private:
    std::unique_ptr<Sqlite3DB> m_db;
    QByteArray m_key;
};
