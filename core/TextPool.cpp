#include "TextPool.h"

#include <cstring>

QString TextPool::text(QByteArrayView utf8)
{
    if (utf8.isEmpty() || utf8.size() > kMaxLength)
        return QString::fromUtf8(utf8);
    // FNV-1a over the bytes: the texts are short, and the bytes are compared
    // in full before a kept text is used.
    quint32 hash = 2166136261u;
    for (const char byte : utf8) {
        hash ^= quint8(byte);
        hash *= 16777619u;
    }
    Entry &entry = m_entries[(hash ^ (hash >> 16)) & (kPlaces - 1)];
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
