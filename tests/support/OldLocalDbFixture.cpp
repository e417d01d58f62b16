#include "OldLocalDbFixture.h"

#include <QFile>

#include "Rc4.h"
#include "Sqlite3DB.h"

OldLocalDbFixture::OldLocalDbFixture(const QString &path, const QByteArray &key)
    : m_db(std::make_unique<Sqlite3DB>())
    , m_key(key)
{
    QFile::remove(path);
    m_db->openThrow(path, Sqlite3DB::ReadWriteCreate);
    m_db->executeThrow("create table sms(_id INTEGER PRIMARY KEY, address TEXT, body BLOB, person TEXT, "
                       "date INTEGER, is_send INTEGER)");
    m_db->executeThrow("create view view_sms as select * from sms");
}

OldLocalDbFixture::~OldLocalDbFixture() = default;

void OldLocalDbFixture::add(const QString &address, const QString &text, const QString &person, qint64 unixDate,
                            int isSend)
{
    Sqlite3Sql sql("insert into sms(address, body, person, date, is_send) values(?,?,?,?,?)");
    sql.addTextParam(address);
    if (text.isNull())
        sql.addNullParam();
    else
        sql.addBlobParam(rc4(m_key, text.toUtf8()));
    sql.addTextParam(person).addInt64Param(unixDate).addIntParam(isSend);
    m_db->executeThrow(sql);
}

void OldLocalDbFixture::close()
{
    m_db->close();
}
