#include "RowValues.h"

#include <cmath>
#include <limits>

int saturatedInt(qint64 n)
{
    if (n > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (n < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(n);
}

qint64 rowInt64(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::Double: {
        const double d = value.toDouble();
        if (std::isnan(d))
            return 0;
        // 2^63 as a double; every double below it converts.
        if (d >= 9223372036854775808.0)
            return std::numeric_limits<qint64>::max();
        if (d <= -9223372036854775808.0)
            return std::numeric_limits<qint64>::min();
        return static_cast<qint64>(d);
    }
    default:
        return 0;
    }
}

int rowInt(const QVariant &value)
{
    return saturatedInt(rowInt64(value));
}

QString rowText(const QVariant &value)
{
    return value.isValid() ? value.toString() : QString();
}

QByteArray rowBytes(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::QByteArray:
        return value.toByteArray();
    case QMetaType::QString:
        return value.toString().toUtf8();
    default:
        return QByteArray();
    }
}
