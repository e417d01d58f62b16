#include "AddressBookFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>

#include "Sqlite3DB.h"

namespace
{

void removeDatabase(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

// Fills a database at path. With the log kept, every change stays in the
// write-ahead log; the file and its log are copied out while the connection
// still has them open, so that the copies need the log to be complete.
void writeDatabase(const QString &path, AddressBookFixture::Journal journal,
                   const std::function<void(Sqlite3DB &)> &fill)
{
    removeDatabase(path);
    if (journal == AddressBookFixture::Plain) {
        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::ReadWriteCreate);
        fill(db);
        return;
    }
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString work = scratch.filePath(QFileInfo(path).fileName());
    Sqlite3DB db;
    db.openThrow(work, Sqlite3DB::ReadWriteCreate);
    db.executeThrow("PRAGMA journal_mode=WAL");
    db.executeThrow("PRAGMA wal_autocheckpoint=0");
    fill(db);
    ASSERT_TRUE(QFile::copy(work, path));
    ASSERT_TRUE(QFile::copy(work + QStringLiteral("-wal"), path + QStringLiteral("-wal")));
}

} // namespace

AddressBookFixture::AddressBookFixture(const QString &sourceFolder)
    : m_folder(sourceFolder)
{
}

void AddressBookFixture::addPerson(qint64 rowid, const QString &first, const QString &middle, const QString &last)
{
    m_people.append({rowid, first, middle, last});
}

void AddressBookFixture::addValue(qint64 personId, const QString &value, int property)
{
    m_values.append({personId, value, property});
}

void AddressBookFixture::addThumbnail(qint64 personId, const QByteArray &data)
{
    m_thumbnails.append({personId, data});
}

QString AddressBookFixture::addressBookPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("file-relay/var/mobile/Library/AddressBook/AddressBook.sqlitedb"));
}

QString AddressBookFixture::imagesPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("file-relay/var/mobile/Library/AddressBook/AddressBookImages.sqlitedb"));
}

QString AddressBookFixture::contactsPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("ct-phone.db"));
}

void AddressBookFixture::write(Journal journal)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(addressBookPath()).path()));
    writeDatabase(addressBookPath(), journal, [this](Sqlite3DB &db) {
        // Column names in the letter case of the device; readers must not care.
        db.executeThrow("CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT,"
                        " Middle TEXT, Organization TEXT)");
        db.executeThrow("CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER,"
                        " identifier INTEGER, label INTEGER, value TEXT)");
        db.beginTran();
        for (const Person &p : std::as_const(m_people)) {
            Sqlite3Sql sql("insert into ABPerson (ROWID, First, Middle, Last) values (?, ?, ?, ?)");
            sql.addInt64Param(p.rowid);
            // A null part stays NULL in the file, as the device leaves it.
            for (const QString *part : {&p.first, &p.middle, &p.last}) {
                if (part->isNull())
                    sql.addNullParam();
                else
                    sql.addTextParam(*part);
            }
            db.executeThrow(sql);
        }
        for (const Value &v : std::as_const(m_values)) {
            db.executeThrow(Sqlite3Sql("insert into ABMultiValue (record_id, property, value) values (?, ?, ?)")
                                .addInt64Param(v.personId)
                                .addIntParam(v.property)
                                .addTextParam(v.value));
        }
        db.commitTran();
    });
    if (m_thumbnails.isEmpty()) {
        removeDatabase(imagesPath());
        return;
    }
    writeDatabase(imagesPath(), journal, [this](Sqlite3DB &db) {
        db.executeThrow("CREATE TABLE ABThumbnailImage (record_id INTEGER, format INTEGER, data BLOB)");
        for (const Thumbnail &t : std::as_const(m_thumbnails)) {
            db.executeThrow(Sqlite3Sql("insert into ABThumbnailImage (record_id, format, data) values (?, 0, ?)")
                                .addInt64Param(t.personId)
                                .addBlobParam(t.data));
        }
    });
}

void AddressBookFixture::setModifiedTime(const QString &path, qint64 seconds)
{
    struct timespec times[2];
    times[0].tv_sec = time_t(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0) << qPrintable(path);
}
