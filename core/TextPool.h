#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Texts that repeat from row to row of a read (service names, accounts,
// country codes), made once: every record that holds the same text shares
// one copy of it (Qt's implicit sharing) rather than holding its own. A
// million messages then hold two service names, not a million.
//
// Bounded: short texts only, in a fixed number of places; a text whose
// place is taken by another is made afresh each time, so a column whose
// values never repeat costs no more than it would without the pool. One
// pool per read; not shared between threads.
class TextPool
{
public:
    // QString::fromUtf8 of utf8: a null text for a null view, an empty one
    // for an empty view.
    QString text(QByteArrayView utf8);

private:
    static constexpr qsizetype kMaxLength = 64;
    static constexpr int kPlaces = 256; // a power of two

    struct Entry
    {
        QByteArray utf8;
        QString text;
    };
    Entry m_entries[kPlaces];
};
