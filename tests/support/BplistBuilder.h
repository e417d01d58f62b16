#pragma once

#include <QByteArray>
#include <QList>

// Writes binary property lists object by object, so that tests can make
// files a writer would never produce: shared and self-referring objects,
// deep nesting, counts and offsets that point outside the file.
class BplistBuilder
{
public:
    explicit BplistBuilder(int refSize = 4, int offsetSize = 4);

    int nextId() const { return int(m_objects.size()); }

    // Raw object bytes, marker included; returns the object's id.
    int addRaw(const QByteArray &object);
    int addBool(bool value);
    int addInt(quint64 value);
    int addReal(double value);
    int addDate(double secsSince2001);
    int addAscii(const QByteArray &text);
    int addData(const QByteArray &bytes);
    int addArray(const QList<int> &refs);
    int addDict(const QList<int> &keys, const QList<int> &values);

    // The whole file with the given top object. The trailer's fields can be
    // overridden to make broken files.
    QByteArray build(int top) const;
    QByteArray build(int top, quint64 objectCount, quint64 tableOffset) const;

private:
    QByteArray marker(quint8 type, quint64 count) const;
    QByteArray ref(int id) const;

    int m_refSize;
    int m_offsetSize;
    QList<QByteArray> m_objects;
};
