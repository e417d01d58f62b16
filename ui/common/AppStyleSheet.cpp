#include "AppStyleSheet.h"

#include "StyleSheetCache.h"

QString appStyleSheet()
{
    static StyleSheetCache cache(QStringLiteral(":style.css"));
    return cache.styleSheet();
}
