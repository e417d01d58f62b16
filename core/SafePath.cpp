#include "SafePath.h"

#include <QLatin1String>

bool isSafePathComponent(QStringView name, Backslash backslash)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c.isNull())
            return false;
        if (c == QLatin1Char('\\') && backslash == Backslash::Separator)
            return false;
    }
    return true;
}

bool isSafeRelativePath(QStringView path)
{
    qsizetype start = 0;
    while (true) {
        const qsizetype slash = path.indexOf(QLatin1Char('/'), start);
        const QStringView part = path.mid(start, slash < 0 ? path.size() - start : slash - start);
        if (!isSafePathComponent(part, Backslash::Character))
            return false;
        if (slash < 0)
            return true;
        start = slash + 1;
    }
}
