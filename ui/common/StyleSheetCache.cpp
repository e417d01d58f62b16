#include "StyleSheetCache.h"

#include <QFile>

StyleSheetCache::StyleSheetCache(const QString &path)
    : m_path(path)
{
}

QString StyleSheetCache::styleSheet()
{
    if (m_cache.isEmpty()) {
        QFile file(m_path);
        if (file.open(QIODevice::ReadOnly)) {
            QByteArray bytes = file.readAll();
            const qsizetype nul = bytes.indexOf('\0');
            if (nul >= 0)
                bytes.truncate(nul);
            m_cache = QString::fromLatin1(bytes);
            ++m_reads;
        }
    }
    return m_cache;
}
