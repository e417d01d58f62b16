#include "TextPool.h"

#include <QHashFunctions>

#include <cstring>

QString TextPool::text(QByteArrayView utf8)
{
    if (utf8.isEmpty() || utf8.size() > kMaxLength)
        return QString::fromUtf8(utf8);
    // Qt's own hash of the bytes: the bytes are compared in full before a
    // kept text is used.
    const size_t hash = qHash(utf8);
    Entry &entry = m_entries[hash & (kPlaces - 1)];
    if (entry.utf8.size() == utf8.size() && std::memcmp(entry.utf8.constData(), utf8.data(), size_t(utf8.size())) == 0)
        return entry.text;
    QString text = QString::fromUtf8(utf8);
    if (entry.utf8.isEmpty()) {
        // The first text of a place keeps it.
        entry.utf8 = QByteArray(utf8.data(), utf8.size());
        entry.text = text;
    }
    return text;
}
