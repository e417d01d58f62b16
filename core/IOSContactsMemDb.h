#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include "AbsDb.h"

// The contacts of one message source folder: "ct-phone.db", built from the
// device's address book files that the folder holds, with every phone number
// in normalised form so that a handle finds its person with one indexed
// look-up. The file is rebuilt whenever the address book (or its write-ahead
// log) is newer than it, and is only ever read once built.
class IOSContactsMemDb : public AbsDb
{
public:
    // One person as found by number; every field empty when none was found.
    struct _Person
    {
        QString first;
        QString middle;
        QString last;
        QByteArray photo;
    };

    // country: the mobile country code whose rules normalise the numbers
    // (empty: numbers are only cleaned). Opens nothing.
    IOSContactsMemDb(const QDir &srcDir, const QString &country);
    ~IOSContactsMemDb() override;

    // Leaves the connection closed when the folder holds no address book.
    // Otherwise rebuilds "ct-phone.db" when it is missing or older than the
    // address book, then opens it read-only. Throws std::runtime_error; a
    // failed rebuild leaves neither a partial file nor a change to the
    // address book behind, so the next call builds again.
    void ensureOpen() override;

    // The person with this normalised phone number; an empty person when
    // there is none, also when the folder has no address book. Where several
    // people share the number, the one with the lowest address-book row id.
    _Person findPerson(const QString &number);

    // first, middle and last joined by single blanks; blank parts are left
    // out and the whole is trimmed.
    static QString personName(const _Person &person);

private:
    void rebuild(const QString &target, const QString &addressBook, const QString &images, qint64 sourceTime);

    QDir m_srcDir;
    QString m_country;
};
