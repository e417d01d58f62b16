#pragma once

#include <QString>

// A style sheet read from one file the first time it is asked for and kept
// from then on. A file that cannot be opened leaves the cache empty, so the
// next call tries again.
class StyleSheetCache
{
public:
    explicit StyleSheetCache(const QString &path);

    QString styleSheet();
    // How many times the file has been read successfully.
    int reads() const { return m_reads; }

private:
    QString m_path;
    QString m_cache;
    int m_reads = 0;
};
