#include "IOSContactsMemDb.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtDebug>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "CountryLibDb.h"
#include "Errors.h"
#include "FileTimes.h"
#include "PartialFile.h"
#include "PhoneNumber.h"

namespace
{

const char kContactsFile[] = "ct-phone.db";
const char kAddressBookFile[] = "file-relay/var/mobile/Library/AddressBook/AddressBook.sqlitedb";
const char kImagesFile[] = "file-relay/var/mobile/Library/AddressBook/AddressBookImages.sqlitedb";

const char kSchema[] = "CREATE TABLE person(  rowid INTEGER PRIMARY KEY,  first TEXT,  last TEXT,  middle TEXT,  photo BLOB);"
                       "CREATE TABLE tel(  person_id INTEGER,  number TEXT,  UNIQUE(person_id, number));"
                       "CREATE INDEX index_tel_number on tel(number);";

QString walOf(const QString &path)
{
    return path + QStringLiteral("-wal");
}

// The time the address book last changed: the later of the file and its
// write-ahead log. A log older than its file (the file replaced or
// checkpointed afterwards) must not hide the newer file.
qint64 sourceTime(const QString &addressBook)
{
    qint64 t = fileModifiedTime(addressBook);
    const QString wal = walOf(addressBook);
    if (QFileInfo::exists(wal))
        t = std::max(t, fileModifiedTime(wal));
    return t;
}

void copyFile(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.copy(to))
        throw std::runtime_error(QStringLiteral("can not copy %1. %2").arg(from, source.errorString()).toStdString());
    // A write-protected original gives a write-protected copy, and SQLite
    // needs to write its index of the log beside a copy it replays.
    QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// Reading a database with a write-ahead log writes beside it (the log index,
// a checkpoint on close), and one with a leftover rollback journal is rolled
// back in place. The address book belongs to the user's backup or device
// copy, so it is read from a private copy of the file with its log or
// journal.
QString privateCopy(const QString &source, const QTemporaryDir &scratch)
{
    const QString target = scratch.filePath(QFileInfo(source).fileName());
    copyFile(source, target);
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        if (QFileInfo::exists(source + suffix))
            copyFile(source + suffix, target + suffix);
    }
    return target;
}

} // namespace

IOSContactsMemDb::IOSContactsMemDb(const QDir &srcDir, const QString &country)
    : m_srcDir(srcDir)
    , m_country(country)
{
}

IOSContactsMemDb::~IOSContactsMemDb() = default;

void IOSContactsMemDb::ensureOpen()
{
    if (isOpen())
        return;
    const QString ct = m_srcDir.absoluteFilePath(QString::fromLatin1(kContactsFile));
    const QString ab = m_srcDir.absoluteFilePath(QString::fromLatin1(kAddressBookFile));
    const QString img = m_srcDir.absoluteFilePath(QString::fromLatin1(kImagesFile));
    if (!QFileInfo::exists(ab))
        return;
    const qint64 s = sourceTime(ab);
    if (!QFileInfo::exists(ct) || fileModifiedTime(ct) < s)
        rebuild(ct, ab, img, s);
    openThrow(ct, ReadOnly);
}

void IOSContactsMemDb::rebuild(const QString &target, const QString &addressBook, const QString &images,
                               qint64 sourceTime)
{
    qDebug("rebuild IOSContactsMemDb.");

    QTemporaryDir scratch;
    if (!scratch.isValid())
        throwCannotCreate(target, scratch.errorString());

    // Built under a name of its own and renamed into place only when
    // complete: an interrupted build never passes for a current file.
    PartialFile partial(target);
    {
        Sqlite3DB out;
        out.openThrow(partial.path(), ReadWriteCreate);
        QString error;
        if (out.exec(QString::fromLatin1(kSchema), error) != 0)
            throw std::runtime_error(QStringLiteral("create IOSContactsMemDb error. %1").arg(error).toStdString());

        CountryLibDb countries(m_country);
        const Country &country = countries.currentCountry();

        Sqlite3DB book;
        book.openThrow(privateCopy(addressBook, scratch), ReadWrite);
        out.beginTran();
        Sqlite3Cursor people = book.queryThrow("select rowid, first, last, middle from ABPerson");
        while (people.moveNext()) {
            out.executeThrow(Sqlite3Sql("insert into person(rowid, first, last, middle) values(?,?,?,?)")
                                 .addInt64Param(people.getInt64(QStringLiteral("rowid")))
                                 .addTextParam(people.getText(QStringLiteral("first")))
                                 .addTextParam(people.getText(QStringLiteral("last")))
                                 .addTextParam(people.getText(QStringLiteral("middle"))));
        }
        // Property 3 of a multi-value is a phone number.
        Sqlite3Cursor numbers = book.queryThrow("select record_id, value from ABMultiValue where property=3");
        while (numbers.moveNext()) {
            const QString number = normalizePhoneNumber(country, numbers.getText(QStringLiteral("value")));
            // A value that cleans to nothing would match every handle
            // without an address.
            if (number.isEmpty())
                continue;
            out.executeThrow(Sqlite3Sql("replace into tel(person_id, number) values(?,?)")
                                 .addInt64Param(numbers.getInt64(QStringLiteral("record_id")))
                                 .addTextParam(number));
        }
        people = Sqlite3Cursor();
        numbers = Sqlite3Cursor();
        book.close();

        if (QFileInfo::exists(images)) {
            Sqlite3DB pictures;
            pictures.openThrow(privateCopy(images, scratch), ReadWrite);
            Sqlite3Cursor thumbs = pictures.queryThrow("select record_id, data from ABThumbnailImage");
            while (thumbs.moveNext()) {
                out.executeThrow(Sqlite3Sql("update person set photo=? where rowid=?")
                                     .addBlobParam(thumbs.getBlob(QStringLiteral("data")))
                                     .addInt64Param(thumbs.getInt64(QStringLiteral("record_id"))));
            }
        }
        out.commitTran();
        out.close();
    }
    // Stamped with the source's time: the next opening compares the two.
    if (!setFileTimes(partial.path(), sourceTime))
        throwCannotCreate(target, QString::fromLocal8Bit(std::strerror(errno)));
    partial.commit();
}

IOSContactsMemDb::_Person IOSContactsMemDb::findPerson(const QString &number)
{
    ensureOpen();
    _Person person;
    if (!isOpen())
        return person;
    Sqlite3Cursor c = queryThrow(
        Sqlite3Sql("select p.* from person as p inner join tel as t on p.rowid=t.person_id and t.number=? order by p.rowid")
            .addTextParam(number));
    if (c.moveNext()) {
        person.first = c.getText(QStringLiteral("first"));
        person.middle = c.getText(QStringLiteral("middle"));
        person.last = c.getText(QStringLiteral("last"));
        person.photo = c.getBlob(QStringLiteral("photo"));
    }
    return person;
}

QString IOSContactsMemDb::personName(const _Person &person)
{
    QString name = person.first;
    const QString middle = person.middle.trimmed();
    if (!middle.isEmpty())
        name += QLatin1Char(' ') + middle;
    const QString last = person.last.trimmed();
    if (!last.isEmpty())
        name += QLatin1Char(' ') + last;
    return name.trimmed();
}
