#include "ViewIcon.h"

#include <QHash>

QImage viewIcon(const QString &path)
{
    static QHash<QString, QImage> cache;
    auto it = cache.constFind(path);
    if (it == cache.constEnd()) {
        QImage image(path);
        if (!image.isNull())
            image = image.scaledToWidth(kViewIconWidth, Qt::FastTransformation);
        it = cache.insert(path, image);
    }
    return it.value();
}
