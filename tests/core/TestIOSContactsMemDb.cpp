#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>

#include <sqlite3.h>
#include <sys/resource.h>

#include "AddressBookFixture.h"
#include "CountryLibDb.h"
#include "FileTimes.h"
#include "IOSContactsMemDb.h"
#include "LogRecorder.h"

namespace
{

// Every file under a folder with its size, modification time and content hash.
QMap<QString, QString> snapshot(const QString &folder)
{
    QMap<QString, QString> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        const QByteArray hash =
            f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex() : "?";
        files.insert(QDir(folder).relativeFilePath(path),
                     QStringLiteral("%1 %2 %3").arg(QFileInfo(path).size()).arg(fileModifiedTime(path)).arg(QString::fromLatin1(hash)));
    }
    return files;
}

QStringList topEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

class ContactsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // The country library is installed once per test home; do it here so
        // that a test watching the folder or the file system sees only the
        // contacts database at work.
        CountryLibDb(QString()).ensureOpen();
    }

    // Runs ensureOpen and returns the error text, empty when there was none.
    static std::string openError(IOSContactsMemDb &db)
    {
        try {
            db.ensureOpen();
        } catch (const std::exception &e) {
            return e.what();
        }
        return std::string();
    }

    // The rows of a query on the built file, read through a connection of its own.
    QStringList contactRows(const char *sql) const
    {
        Sqlite3DB own;
        own.openThrow(book.contactsPath(), Sqlite3DB::ReadOnly);
        Sqlite3Cursor c = own.queryThrow(sql);
        QStringList rows;
        while (c.moveNext()) {
            QStringList cells;
            for (int i = 0; i < c.count(); ++i)
                cells.append(c.getRow().items().at(i).second.toString());
            rows.append(cells.join(QLatin1Char('|')));
        }
        return rows;
    }

    QTemporaryDir dir;
    AddressBookFixture book{dir.path()};
};

TEST_F(ContactsTest, WithoutAnAddressBookNothingIsBuiltOrOpened)
{
    IOSContactsMemDb db(QDir(dir.path()), QStringLiteral("404"));
    db.ensureOpen();
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(topEntries(dir.path()).isEmpty());
    const IOSContactsMemDb::_Person nobody = db.findPerson(QStringLiteral("+919876543210"));
    EXPECT_TRUE(nobody.first.isEmpty() && nobody.middle.isEmpty() && nobody.last.isEmpty() && nobody.photo.isEmpty());

    // A contacts file left from an address book that is gone is not opened either.
    book.addPerson(1, QStringLiteral("Ann"), QString(), QString());
    book.addValue(1, QStringLiteral("+15550001"));
    book.write();
    IOSContactsMemDb(QDir(dir.path()), QString()).ensureOpen();
    ASSERT_TRUE(QFile::exists(book.contactsPath()));
    ASSERT_TRUE(QFile::remove(book.addressBookPath()));
    IOSContactsMemDb later(QDir(dir.path()), QString());
    later.ensureOpen();
    EXPECT_FALSE(later.isOpen());
    EXPECT_TRUE(later.findPerson(QStringLiteral("+15550001")).first.isEmpty());
}

TEST_F(ContactsTest, AMissingFileIsBuiltStampedWithTheSourceTimeAndOpenedReadOnly)
{
    const struct
    {
        AddressBookFixture::Journal journal;
        qint64 fileTime;
        qint64 logTime;
        qint64 stamp;
    } cases[] = {
        {AddressBookFixture::Plain, 1500000000, 0, 1500000000},
        {AddressBookFixture::InLog, 1500000000, 1600000000, 1600000000},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.journal == AddressBookFixture::Plain ? "plain" : "in log");
        QFile::remove(book.contactsPath());
        AddressBookFixture ab(dir.path());
        ab.addPerson(1, QStringLiteral("Ann"), QString(), QStringLiteral("Lee"));
        ab.addValue(1, QStringLiteral("+15550001"));
        ab.write(t.journal);
        AddressBookFixture::setModifiedTime(ab.addressBookPath(), t.fileTime);
        if (t.logTime)
            AddressBookFixture::setModifiedTime(ab.addressBookPath() + QStringLiteral("-wal"), t.logTime);

        RebuildCounter rebuilds;
        IOSContactsMemDb db(QDir(dir.path()), QString());
        db.ensureOpen();
        ASSERT_TRUE(db.isOpen());
        EXPECT_EQ(rebuilds.count(), 1);
        EXPECT_EQ(fileModifiedTime(book.contactsPath()), t.stamp);
        EXPECT_EQ(db.findPerson(QStringLiteral("+15550001")).last, QStringLiteral("Lee"));
        EXPECT_EQ(sqlite3_db_readonly(db.handle(), "main"), 1);
        EXPECT_THROW(db.executeThrow("delete from person"), std::runtime_error);
        // Only the finished file is left in the folder.
        EXPECT_EQ(topEntries(dir.path()), (QStringList{QStringLiteral("ct-phone.db"), QStringLiteral("file-relay")}));
    }
}

TEST_F(ContactsTest, TheFileHasTheSchemaOfTheScript)
{
    book.addPerson(1, QStringLiteral("Ann"), QString(), QString());
    book.write();
    IOSContactsMemDb(QDir(dir.path()), QString()).ensureOpen();
    EXPECT_EQ(contactRows("select type, name, sql from sqlite_master order by rowid"),
              (QStringList{
                  QStringLiteral("table|person|CREATE TABLE person(  rowid INTEGER PRIMARY KEY,  first TEXT,  last TEXT,"
                                 "  middle TEXT,  photo BLOB)"),
                  QStringLiteral("table|tel|CREATE TABLE tel(  person_id INTEGER,  number TEXT,  UNIQUE(person_id, number))"),
                  QStringLiteral("index|sqlite_autoindex_tel_1|"),
                  QStringLiteral("index|index_tel_number|CREATE INDEX index_tel_number on tel(number)"),
              }));
}

TEST_F(ContactsTest, TheFileIsRebuiltOnlyWhenTheAddressBookIsNewer)
{
    // Built once from a first address book; then the book is replaced by a
    // second one with the times given, and a new object opens the folder.
    const struct
    {
        const char *name;
        AddressBookFixture::Journal journal;
        qint64 fileTime1, logTime1;
        qint64 fileTime2, logTime2;
        bool rebuilt;
        qint64 stamp;
    } cases[] = {
        {"unchanged file", AddressBookFixture::Plain, 1000000000, 0, 1000000000, 0, false, 1000000000},
        {"older file", AddressBookFixture::Plain, 1000000000, 0, 900000000, 0, false, 1000000000},
        {"newer file", AddressBookFixture::Plain, 1000000000, 0, 1000000001, 0, true, 1000000001},
        {"unchanged log", AddressBookFixture::InLog, 1000000000, 1100000000, 1000000000, 1100000000, false, 1100000000},
        {"newer log", AddressBookFixture::InLog, 1000000000, 1100000000, 1000000000, 1200000000, true, 1200000000},
        // The file replaced after its log was written: the log's old time
        // must not hide the new file.
        {"file newer than its log", AddressBookFixture::InLog, 1000000000, 1100000000, 1300000000, 1050000000, true,
         1300000000},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        QFile::remove(book.contactsPath());
        AddressBookFixture first(dir.path());
        first.addPerson(1, QStringLiteral("Ann"), QString(), QString());
        first.addValue(1, QStringLiteral("+15550001"));
        first.write(t.journal);
        AddressBookFixture::setModifiedTime(first.addressBookPath(), t.fileTime1);
        if (t.logTime1)
            AddressBookFixture::setModifiedTime(first.addressBookPath() + QStringLiteral("-wal"), t.logTime1);
        IOSContactsMemDb(QDir(dir.path()), QString()).ensureOpen();

        AddressBookFixture second(dir.path());
        second.addPerson(1, QStringLiteral("Bea"), QString(), QString());
        second.addValue(1, QStringLiteral("+15550001"));
        second.write(t.journal);
        AddressBookFixture::setModifiedTime(second.addressBookPath(), t.fileTime2);
        if (t.logTime2)
            AddressBookFixture::setModifiedTime(second.addressBookPath() + QStringLiteral("-wal"), t.logTime2);

        RebuildCounter rebuilds;
        IOSContactsMemDb db(QDir(dir.path()), QString());
        db.ensureOpen();
        ASSERT_TRUE(db.isOpen());
        EXPECT_EQ(rebuilds.count(), t.rebuilt ? 1 : 0);
        EXPECT_EQ(db.findPerson(QStringLiteral("+15550001")).first, QLatin1String(t.rebuilt ? "Bea" : "Ann"));
        EXPECT_EQ(fileModifiedTime(book.contactsPath()), t.stamp);
        // Open already: a second call neither rebuilds nor reopens.
        db.ensureOpen();
        EXPECT_EQ(rebuilds.count(), t.rebuilt ? 1 : 0);
    }
}

TEST_F(ContactsTest, NumbersAreStoredAndFoundInNormalisedForm)
{
    const struct
    {
        const char *country;
        const char *stored;
        int property;
        const char *lookup;
        bool found;
    } cases[] = {
        // India (MCC 404): national forms are found by their international form.
        {"404", "098765 43210", 3, "+919876543210", true},
        {"404", "98765-43210", 3, "+919876543210", true},
        {"404", "+91 98765 43210", 3, "+919876543210", true},
        {"404", "(0)98765-43210", 3, "+919876543210", true},
        {"404", "098765 43210", 3, "09876543210", false},
        {"404", "098765 43210", 3, "098765 43210", false},
        // Only phone numbers are taken from the multi-values.
        {"404", "ann@example.com", 4, "ann@example.com", false},
        // Without a known country numbers are only cleaned.
        {"", "098765 43210", 3, "09876543210", true},
        {"", "098765 43210", 3, "+919876543210", false},
        {"000", "(555) 0001", 3, "5550001", true},
        // A number that cleans to nothing is not stored, so a handle without
        // an address finds nobody.
        {"", "( - )", 3, "", false},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(std::string(t.country) + " " + t.stored + " -> " + t.lookup);
        QFile::remove(book.contactsPath());
        AddressBookFixture ab(dir.path());
        ab.addPerson(7, QStringLiteral("Ann"), QString(), QStringLiteral("Lee"));
        ab.addValue(7, QString::fromUtf8(t.stored), t.property);
        ab.write();
        IOSContactsMemDb db(QDir(dir.path()), QString::fromLatin1(t.country));
        const IOSContactsMemDb::_Person p = db.findPerson(QString::fromUtf8(t.lookup));
        EXPECT_EQ(p.first, QLatin1String(t.found ? "Ann" : ""));
        EXPECT_EQ(p.last, QLatin1String(t.found ? "Lee" : ""));
    }
}

TEST_F(ContactsTest, PersonNameLeavesOutBlankParts)
{
    const struct
    {
        const char *first, *middle, *last, *name;
    } cases[] = {
        {"", "", "Lee", "Lee"},
        {"Ann", " ", "Lee", "Ann Lee"},
        {"Ann", "Marie", "Lee", "Ann Marie Lee"},
        {"Ann", "", "", "Ann"},
        {"", " Marie ", "", "Marie"},
        {"  ", "", " Lee ", "Lee"},
        {"", "", "", ""},
        {" ", "\t", "\n", ""},
    };
    for (const auto &t : cases) {
        IOSContactsMemDb::_Person p;
        p.first = QString::fromLatin1(t.first);
        p.middle = QString::fromLatin1(t.middle);
        p.last = QString::fromLatin1(t.last);
        EXPECT_EQ(IOSContactsMemDb::personName(p), QLatin1String(t.name))
            << "'" << t.first << "' '" << t.middle << "' '" << t.last << "'";
    }

    // Parts the address book leaves NULL read as empty.
    book.addPerson(1, QString(), QString(), QStringLiteral("Lee"));
    book.addValue(1, QStringLiteral("+15550001"));
    book.addPerson(2, QStringLiteral("Ann"), QStringLiteral(" "), QStringLiteral("Lee"));
    book.addValue(2, QStringLiteral("+15550002"));
    book.write();
    IOSContactsMemDb db(QDir(dir.path()), QString());
    EXPECT_EQ(IOSContactsMemDb::personName(db.findPerson(QStringLiteral("+15550001"))), QStringLiteral("Lee"));
    EXPECT_EQ(IOSContactsMemDb::personName(db.findPerson(QStringLiteral("+15550002"))), QStringLiteral("Ann Lee"));
    EXPECT_EQ(IOSContactsMemDb::personName(db.findPerson(QStringLiteral("+15550003"))), QString());
}

TEST_F(ContactsTest, SharedNumbersDuplicateNumbersAndPhotos)
{
    book.addPerson(5, QStringLiteral("Eve"), QString(), QString());
    book.addPerson(3, QStringLiteral("Cal"), QString(), QString());
    book.addPerson(4, QStringLiteral("Dee"), QString(), QString());
    // Shared by Eve and Cal: the person with the lower row id is the answer.
    book.addValue(5, QStringLiteral("+15550001"));
    book.addValue(3, QStringLiteral("+1 555 0001"));
    // The same number twice for one person leaves one row.
    book.addValue(4, QStringLiteral("+15550004"));
    book.addValue(4, QStringLiteral("+1 (555) 0004"));
    // Several thumbnails for one person: the last one read is kept.
    book.addThumbnail(3, QByteArray("old"));
    book.addThumbnail(3, QByteArray("new"));
    book.addThumbnail(99, QByteArray("nobody's"));
    book.write();

    IOSContactsMemDb db(QDir(dir.path()), QString());
    const IOSContactsMemDb::_Person shared = db.findPerson(QStringLiteral("+15550001"));
    EXPECT_EQ(shared.first, QStringLiteral("Cal"));
    EXPECT_EQ(shared.photo, QByteArray("new"));
    const IOSContactsMemDb::_Person dee = db.findPerson(QStringLiteral("+15550004"));
    EXPECT_EQ(dee.first, QStringLiteral("Dee"));
    EXPECT_TRUE(dee.photo.isEmpty());
    EXPECT_EQ(contactRows("select person_id, number from tel order by person_id, number"),
              (QStringList{QStringLiteral("3|+15550001"), QStringLiteral("4|+15550004"), QStringLiteral("5|+15550001")}));
    EXPECT_EQ(contactRows("select rowid from person order by rowid"),
              (QStringList{QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5")}));
}

TEST_F(ContactsTest, WithoutTheImagesDatabaseThereAreNoPhotos)
{
    book.addPerson(1, QStringLiteral("Ann"), QString(), QString());
    book.addValue(1, QStringLiteral("+15550001"));
    book.write();
    ASSERT_FALSE(QFile::exists(book.imagesPath()));
    IOSContactsMemDb db(QDir(dir.path()), QString());
    const IOSContactsMemDb::_Person p = db.findPerson(QStringLiteral("+15550001"));
    EXPECT_EQ(p.first, QStringLiteral("Ann"));
    EXPECT_TRUE(p.photo.isEmpty());
}

TEST_F(ContactsTest, TheAddressBookIsReadWithItsLogAndNeverWritten)
{
    book.addPerson(1, QStringLiteral("Ann"), QString(), QStringLiteral("Lee"));
    book.addValue(1, QStringLiteral("+15550001"));
    book.addThumbnail(1, QByteArray("face"));
    book.write(AddressBookFixture::InLog);
    const QString addressBookFolder = QFileInfo(book.addressBookPath()).path();
    const QMap<QString, QString> before = snapshot(addressBookFolder);
    ASSERT_TRUE(before.contains(QStringLiteral("AddressBook.sqlitedb-wal")));
    ASSERT_TRUE(before.contains(QStringLiteral("AddressBookImages.sqlitedb-wal")));

    IOSContactsMemDb db(QDir(dir.path()), QString());
    // Everything is in the logs only, so finding it shows that they were read.
    const IOSContactsMemDb::_Person p = db.findPerson(QStringLiteral("+15550001"));
    EXPECT_EQ(IOSContactsMemDb::personName(p), QStringLiteral("Ann Lee"));
    EXPECT_EQ(p.photo, QByteArray("face"));
    // No log index was created beside the files, no log was folded in or removed.
    EXPECT_EQ(snapshot(addressBookFolder), before);
}

TEST_F(ContactsTest, AFailedRebuildLeavesNothingBehindAndTheNextOpenBuildsAgain)
{
    const struct
    {
        const char *name;
        const char *expectedError; // a prefix of the error text
        void (*breakSource)(const AddressBookFixture &);
    } cases[] = {
        {"not a database", "",
         [](const AddressBookFixture &b) {
             QFile f(b.addressBookPath());
             ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
             f.write(QByteArray(8192, 'x'));
         }},
        {"no people table", "no such table",
         [](const AddressBookFixture &b) {
             Sqlite3DB db;
             db.openThrow(b.addressBookPath(), Sqlite3DB::ReadWrite);
             db.executeThrow("drop table ABPerson");
         }},
        {"no thumbnail table", "no such table",
         [](const AddressBookFixture &b) {
             Sqlite3DB db;
             db.openThrow(b.imagesPath(), Sqlite3DB::ReadWrite);
             db.executeThrow("drop table ABThumbnailImage");
         }},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        QFile::remove(book.contactsPath());
        AddressBookFixture ab(dir.path());
        ab.addPerson(1, QStringLiteral("Ann"), QString(), QString());
        ab.addValue(1, QStringLiteral("+15550001"));
        ab.addThumbnail(1, QByteArray("face"));
        ab.write();
        t.breakSource(ab);
        const QMap<QString, QString> source = snapshot(dir.path());

        IOSContactsMemDb db(QDir(dir.path()), QString());
        const std::string error = openError(db);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.rfind(t.expectedError, 0), 0u) << error;
        EXPECT_FALSE(db.isOpen());
        EXPECT_EQ(snapshot(dir.path()), source) << "a partial file was left or the source was changed";

        // Once the source is sound again, the same object builds the file.
        ab.write();
        RebuildCounter rebuilds;
        db.ensureOpen();
        ASSERT_TRUE(db.isOpen());
        EXPECT_EQ(rebuilds.count(), 1);
        EXPECT_EQ(db.findPerson(QStringLiteral("+15550001")).photo, QByteArray("face"));
    }
}

TEST_F(ContactsTest, ASchemaThatCannotBeWrittenFailsWithItsTextAndLeavesNoPartialFile)
{
    // Earlier contents, now stale: they must not survive as if current.
    book.addPerson(1, QStringLiteral("Ann"), QString(), QString());
    book.addValue(1, QStringLiteral("+15550001"));
    book.write();
    AddressBookFixture::setModifiedTime(book.addressBookPath(), 1000000000);
    IOSContactsMemDb(QDir(dir.path()), QString()).ensureOpen();
    AddressBookFixture newer(dir.path());
    for (int i = 1; i <= 200; ++i) {
        newer.addPerson(i, QStringLiteral("Bea %1").arg(i), QString(), QString());
        newer.addValue(i, QStringLiteral("+1555%1").arg(i, 4, 10, QLatin1Char('0')));
    }
    newer.write();
    AddressBookFixture::setModifiedTime(newer.addressBookPath(), 1100000000);
    const QMap<QString, QString> before = snapshot(dir.path());

    // The file system refuses every byte past the first two pages, as a full
    // disk would: the schema itself cannot be written.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 8192;
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    IOSContactsMemDb db(QDir(dir.path()), QString());
    const std::string error = openError(db);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error.rfind("create IOSContactsMemDb error. ", 0), 0u) << error;
    EXPECT_FALSE(db.isOpen());
    // The stale file stays as it was, still stale, and nothing else is added.
    EXPECT_EQ(snapshot(dir.path()), before);
    RebuildCounter rebuilds;
    db.ensureOpen();
    EXPECT_EQ(rebuilds.count(), 1);
    EXPECT_EQ(db.findPerson(QStringLiteral("+15550001")).first, QStringLiteral("Bea 1"));
    EXPECT_EQ(db.findPerson(QStringLiteral("+15550200")).first, QStringLiteral("Bea 200"));
}

} // namespace
