#include "AttachmentThumbnail.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSaveFile>

QString attachmentThumbnail(const _MsgAttachment *attachment)
{
    if (!attachment)
        return QString();
    const QString &source = attachment->_local_path;
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(source.toUtf8(), QCryptographicHash::Md5).toHex())
        + QStringLiteral(".thumb");
    const QString path = QDir(QDir::tempPath()).filePath(name);
    if (QFile::exists(path))
        return path;

    QImage image;
    const char *format = nullptr;
    if (image.load(source, "JPEG"))
        format = "JPEG";
    else if (image.load(source, "PNG"))
        format = "PNG";
    if (!format || image.isNull())
        return path;

    const QImage thumb = image.width() >= image.height() ? image.scaledToWidth(120, Qt::FastTransformation)
                                                         : image.scaledToHeight(120, Qt::FastTransformation);
    // Written beside and renamed into place, so that a thumbnail cut short
    // is never taken for a finished one on the next call.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && thumb.save(&file, format))
        file.commit();
    return path;
}
