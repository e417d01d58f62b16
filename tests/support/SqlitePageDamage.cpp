#include "SqlitePageDamage.h"

#include <QFile>

#include <algorithm>

bool damagePageHolding(const QString &path, const QByteArray &needle, QByteArray *page)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray bytes = file.readAll();
    const qsizetype at = bytes.indexOf(needle);
    if (at < 0 || bytes.size() < 100)
        return false;
    // The page size, big-endian at offset 16 of the header (1 for 65536).
    qint64 pageSize = (quint8(bytes.at(16)) << 8) | quint8(bytes.at(17));
    if (pageSize == 1)
        pageSize = 65536;
    const qint64 start = at / pageSize * pageSize;
    *page = bytes.mid(start, pageSize);
    return file.seek(start) && file.write(QByteArray(8, '\x77')) == 8;
}

int smallestNumbered(const QByteArray &bytes, const QByteArray &prefix, int fallback)
{
    int smallest = fallback;
    for (qsizetype from = bytes.indexOf(prefix); from >= 0; from = bytes.indexOf(prefix, from + 1))
        smallest = std::min(smallest, bytes.mid(from + prefix.size(), 5).toInt());
    return smallest;
}
