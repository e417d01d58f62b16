#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes a small address book into a message source folder, at the place and
// with the tables and columns that the contacts database reads: ABPerson
// (rowid, first, last, middle), ABMultiValue (record_id, property, value) and,
// in the images database, ABThumbnailImage (record_id, data).
class AddressBookFixture
{
public:
    explicit AddressBookFixture(const QString &sourceFolder);

    void addPerson(qint64 rowid, const QString &first, const QString &middle, const QString &last);
    // One multi-value row of a person; property 3 is a phone number, 4 an
    // e-mail address.
    void addValue(qint64 personId, const QString &value, int property = 3);
    void addThumbnail(qint64 personId, const QByteArray &data);

    enum Journal {
        // Everything in the database files themselves.
        Plain,
        // Everything still in the write-ahead logs beside the files, as in a
        // copy taken while the device had its databases open.
        InLog,
    };
    // Writes AddressBook.sqlitedb (and AddressBookImages.sqlitedb when a
    // thumbnail was added), replacing earlier files and logs. Fails the
    // current test on an error.
    void write(Journal journal = Plain);

    QString addressBookPath() const;
    QString imagesPath() const;
    // Where the contacts database is built: "ct-phone.db" in the folder.
    QString contactsPath() const;

    // Sets a file's access and modification times to seconds since 1970.
    static void setModifiedTime(const QString &path, qint64 seconds);

private:
    struct Person
    {
        qint64 rowid;
        QString first, middle, last;
    };
    struct Value
    {
        qint64 personId;
        QString value;
        int property;
    };
    struct Thumbnail
    {
        qint64 personId;
        QByteArray data;
    };

    QString m_folder;
    QList<Person> m_people;
    QList<Value> m_values;
    QList<Thumbnail> m_thumbnails;
};
