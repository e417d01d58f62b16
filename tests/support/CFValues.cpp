#include "CFValues.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>

#include "MobileDeviceFramework.h"

CFType cfStr(const QString &text)
{
    return CFType::fromString(text);
}

CFType cfArray(std::initializer_list<CFType> items)
{
    CFType array = CFType::makeArray();
    for (const CFType &item : items)
        array.append(item);
    return array;
}

CFType cfNames(const QStringList &names)
{
    CFType array = CFType::makeArray();
    for (const QString &name : names)
        array.append(CFType::fromString(name));
    return array;
}

CFType cfDict(std::initializer_list<std::pair<QString, CFType>> entries)
{
    CFType dict = CFType::makeDictionary();
    for (const auto &entry : entries)
        dict.set(CFType::fromString(entry.first), entry.second);
    return dict;
}

namespace
{

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

bool isReal(const CFType &number)
{
    using NumberType = CFIndex (*)(CFTypeRef);
    const auto getType = reinterpret_cast<NumberType>(cf_resolve("CFNumberGetType"));
    const CFIndex type = getType ? getType(number.ref()) : 0;
    return type == 5 || type == 6 || type == 12 || type == 13;
}

} // namespace

QString cfText(const CFType &value)
{
    if (!value.ref())
        return QStringLiteral("null");
    if (value.isString())
        return quoted(value.stringValue());
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isNumber()) {
        if (!isReal(value))
            return QString::number(value.toLongLong());
        QString text = QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
            text += QLatin1String(".0");
        return text;
    }
    if (value.isData())
        return QLatin1Char('<') + QString::fromLatin1(value.dataValue().toHex()) + QLatin1Char('>');
    if (value.isDate())
        return QLatin1Char('@') + value.dateValue(nullptr).toString(Qt::ISODate);
    if (value.isArray()) {
        QStringList items;
        for (int i = 0; i < value.arrayCount(); ++i)
            items << cfText(value.item(i));
        return QLatin1Char('[') + items.join(QLatin1String(", ")) + QLatin1Char(']');
    }
    if (value.isDictionary()) {
        QStringList entries;
        for (const CFType &key : value.keys())
            entries << cfText(key) + QLatin1String(": ") + cfText(value.value(key));
        std::sort(entries.begin(), entries.end());
        return QLatin1Char('{') + entries.join(QLatin1String(", ")) + QLatin1Char('}');
    }
    return QStringLiteral("(unknown)");
}
