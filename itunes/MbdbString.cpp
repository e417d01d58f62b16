#include "MbdbString.h"

#include <QObject>

#include <stdexcept>

QString MbdbString::toString() const
{
    if (length == 0 || length == None)
        return QString();
    const qsizetype end = data.indexOf('\0');
    return QString::fromUtf8(data.constData(), end < 0 ? data.size() : end);
}

void MbdbString::setData(const QByteArray &bytes)
{
    if (bytes.size() > MaxLength)
        throw std::runtime_error(QObject::tr("A Manifest.mbdb string cannot hold more than %1 bytes.")
                                     .arg(MaxLength)
                                     .toStdString());
    length = quint16(bytes.size());
    data = bytes;
}
