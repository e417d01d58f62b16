#include "CFType.h"

#include "BoundedRead.h"

#include "MobileDeviceFramework.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <limits>
#include <vector>

namespace
{

template <typename Fn>
Fn cf(const char *name)
{
    return reinterpret_cast<Fn>(cf_resolve(name));
}

// The callback objects are looked up once and reused; a lookup that found
// nothing (library not loaded yet) is tried again next time.
const void *callBacks(std::atomic<const void *> &cache, const char *name)
{
    const void *found = cache.load(std::memory_order_acquire);
    if (!found) {
        found = cf_resolve(name);
        cache.store(found, std::memory_order_release);
    }
    return found;
}

std::atomic<const void *> g_arrayCallBacks{nullptr};
std::atomic<const void *> g_keyCallBacks{nullptr};
std::atomic<const void *> g_valueCallBacks{nullptr};

CFType number(CFIndex type, const void *value)
{
    const auto create = cf<CFNumberCreateFn>("CFNumberCreate");
    return create ? CFType(create(nullptr, type, value), true) : CFType();
}

} // namespace

CFType::CFType(CFTypeRef ref, bool owned)
    : m_holder(new CFTypeHolder(ref, owned), &CFType::release)
{
}

void CFType::release(CFTypeHolder *holder)
{
    if (holder->ref && holder->owned) {
        if (const auto releaseFn = cf<CFReleaseFn>("CFRelease"))
            releaseFn(holder->ref);
    }
    delete holder;
}

CFTypeRef CFType::ref() const
{
    return m_holder ? m_holder->ref : nullptr;
}

unsigned long CFType::typeId() const
{
    if (!ref()) {
        const auto nullType = cf<CFTypeIDGetterFn>("CFNullGetTypeID");
        return nullType ? nullType() : 0;
    }
    const auto getType = cf<CFGetTypeIDFn>("CFGetTypeID");
    return getType ? getType(ref()) : 0;
}

bool CFType::hasType(const char *typeIdFunction) const
{
    if (!ref())
        return false;
    const auto expected = cf<CFTypeIDGetterFn>(typeIdFunction);
    const auto getType = cf<CFGetTypeIDFn>("CFGetTypeID");
    return expected && getType && getType(ref()) == expected();
}

bool CFType::isNumber() const
{
    return hasType("CFNumberGetTypeID");
}

bool CFType::isBool() const
{
    return hasType("CFBooleanGetTypeID");
}

bool CFType::isString() const
{
    return hasType("CFStringGetTypeID");
}

bool CFType::isData() const
{
    return hasType("CFDataGetTypeID");
}

bool CFType::isDate() const
{
    return hasType("CFDateGetTypeID");
}

bool CFType::isDictionary() const
{
    return hasType("CFDictionaryGetTypeID");
}

bool CFType::isArray() const
{
    return hasType("CFArrayGetTypeID");
}

bool CFType::numberValue(CFIndex numberType, void *out) const
{
    const auto get = cf<CFNumberGetValueFn>("CFNumberGetValue");
    return get && get(ref(), numberType, out);
}

int CFType::toInt(int defaultValue) const
{
    int32_t v = 0;
    return isNumber() && numberValue(kCFNumberCodeSInt32, &v) ? v : defaultValue;
}

qint64 CFType::toLongLong(qint64 defaultValue) const
{
    int64_t v = 0;
    return isNumber() && numberValue(kCFNumberCodeSInt64, &v) ? v : defaultValue;
}

double CFType::toDouble(double defaultValue) const
{
    double v = 0;
    return isNumber() && numberValue(kCFNumberCodeFloat64, &v) ? v : defaultValue;
}

bool CFType::toBool(bool defaultValue) const
{
    if (!isBool())
        return defaultValue;
    // One byte, holding the default until the library writes it.
    int8_t v = defaultValue ? 1 : 0;
    numberValue(kCFNumberCodeSInt8, &v);
    return v != 0;
}

CFIndex CFType::stringLength() const
{
    const auto length = cf<CFStringGetLengthFn>("CFStringGetLength");
    return isString() && length ? length(ref()) : 0;
}

QString CFType::stringValue() const
{
    const QString empty = QStringLiteral("");
    const CFIndex length = stringLength();
    const auto getBytes = cf<CFStringGetBytesFn>("CFStringGetBytes");
    if (length <= 0 || !getBytes)
        return empty;
    const CFRange whole{0, length};
    CFIndex needed = 0;
    if (getBytes(ref(), whole, kCFEncodingUtf8, '?', false, nullptr, 0, &needed) <= 0 || needed <= 0 ||
        needed > CFIndex(std::numeric_limits<int>::max()))
        return empty;
    QByteArray bytes(qsizetype(needed), Qt::Uninitialized);
    CFIndex used = 0;
    getBytes(ref(), whole, kCFEncodingUtf8, '?', false, reinterpret_cast<uint8_t *>(bytes.data()), needed, &used);
    if (used < 0 || used > needed)
        return empty;
    return QString::fromUtf8(bytes.constData(), qsizetype(used));
}

CFIndex CFType::dataLength() const
{
    const auto length = cf<CFDataGetLengthFn>("CFDataGetLength");
    return isData() && length ? length(ref()) : 0;
}

QByteArray CFType::dataValue() const
{
    const CFIndex length = dataLength();
    const auto getBytes = cf<CFDataGetBytesFn>("CFDataGetBytes");
    if (length <= 0 || length > CFIndex(std::numeric_limits<int>::max()) || !getBytes)
        return QByteArray();
    QByteArray bytes(qsizetype(length), '\0');
    getBytes(ref(), CFRange{0, length}, reinterpret_cast<uint8_t *>(bytes.data()));
    return bytes;
}

QDateTime CFType::dateValue(CFTimeZoneRef zone) const
{
    const auto absolute = cf<CFDateGetAbsoluteTimeFn>("CFDateGetAbsoluteTime");
    const auto gregorian = cf<CFAbsoluteTimeGetGregorianDateFn>("CFAbsoluteTimeGetGregorianDate");
    if (!isDate() || !absolute || !gregorian)
        return QDateTime();
    const CFGregorianDate g = gregorian(absolute(ref()), zone);
    const int seconds = g.second >= 0 && g.second < 60 ? int(g.second) : 0;
    return QDateTime(QDate(g.year, g.month, g.day), QTime(g.hour, g.minute, seconds), Qt::LocalTime);
}

QDateTime CFType::dateValueAtOffset(int secondsFromGmt) const
{
    const auto create = cf<CFTimeZoneCreateWithTimeIntervalFromGMTFn>("CFTimeZoneCreateWithTimeIntervalFromGMT");
    const CFType zone(create ? create(nullptr, CFTimeInterval(secondsFromGmt)) : nullptr, true);
    return dateValue(zone.ref());
}

QDateTime CFType::dateValueInZone(const QString &zoneName) const
{
    if (zoneName.isEmpty())
        return dateValue(nullptr);
    const auto create = cf<CFTimeZoneCreateWithNameFn>("CFTimeZoneCreateWithName");
    const CFType name = fromString(zoneName);
    const CFType zone(create ? create(nullptr, name.ref(), true) : nullptr, true);
    return dateValue(zone.ref());
}

int CFType::dictionaryCount() const
{
    const auto count = cf<CFDictionaryGetCountFn>("CFDictionaryGetCount");
    return isDictionary() && count ? int(std::clamp<CFIndex>(count(ref()), 0, std::numeric_limits<int>::max())) : 0;
}

int CFType::arrayCount() const
{
    const auto count = cf<CFArrayGetCountFn>("CFArrayGetCount");
    return isArray() && count ? int(std::clamp<CFIndex>(count(ref()), 0, std::numeric_limits<int>::max())) : 0;
}

CFType CFType::borrowed(CFTypeRef ref) const
{
    if (!ref)
        return CFType();
    CFType v(ref, false);
    v.m_holder->anchor = m_holder;
    return v;
}

CFType CFType::value(const CFType &key) const
{
    const auto get = cf<CFDictionaryGetValueFn>("CFDictionaryGetValue");
    if (!key.ref() || !isDictionary() || !get)
        return CFType();
    return borrowed(get(ref(), key.ref()));
}

CFType CFType::value(const QString &key) const
{
    return value(fromString(key));
}

CFType CFType::item(int index) const
{
    const auto get = cf<CFArrayGetValueAtIndexFn>("CFArrayGetValueAtIndex");
    if (index < 0 || index >= arrayCount() || !get)
        return CFType();
    return borrowed(get(ref(), index));
}

QList<CFType> CFType::keys() const
{
    QList<CFType> result;
    const int count = dictionaryCount();
    const auto get = cf<CFDictionaryGetKeysAndValuesFn>("CFDictionaryGetKeysAndValues");
    if (count <= 0 || !get)
        return result;
    std::vector<CFTypeRef> keys(size_t(count), nullptr);
    get(ref(), keys.data(), nullptr);
    result.reserve(count);
    for (CFTypeRef key : keys)
        result.append(borrowed(key));
    return result;
}

QString CFType::toString() const
{
    if (isString())
        return stringValue();
    if (isNumber()) {
        const auto getType = cf<CFNumberGetTypeFn>("CFNumberGetType");
        switch (getType ? getType(ref()) : 0) {
        case kCFNumberCodeFloat32:
        case kCFNumberCodeFloat64:
        case kCFNumberCodeFloat:
        case kCFNumberCodeDouble:
            return QString::number(toDouble(0), 'g', 6);
        default:
            // Every integer goes through 64 bits: an index or a long is 64
            // bits wide here, and a narrower number reads the same either way.
            return QString::number(toLongLong(0));
        }
    }
    if (isBool())
        return toBool(false) ? QStringLiteral("1") : QStringLiteral("0");
    if (isDate())
        return dateValue(nullptr).toString(Qt::TextDate);
    if (isData())
        return QString::fromUtf8(dataValue());
    return QString();
}

CFType CFType::fromBool(bool value)
{
    const auto constant = static_cast<const CFTypeRef *>(cf_resolve(value ? "kCFBooleanTrue" : "kCFBooleanFalse"));
    return constant ? CFType(*constant, false) : CFType();
}

CFType CFType::fromInt8(qint8 value)
{
    return number(kCFNumberCodeSInt8, &value);
}

CFType CFType::fromInt16(qint16 value)
{
    return number(kCFNumberCodeSInt16, &value);
}

CFType CFType::fromInt32(qint32 value)
{
    return number(kCFNumberCodeSInt32, &value);
}

CFType CFType::fromInt64(qint64 value)
{
    return number(kCFNumberCodeSInt64, &value);
}

CFType CFType::fromFloat32(float value)
{
    return number(kCFNumberCodeFloat32, &value);
}

CFType CFType::fromFloat64(double value)
{
    return number(kCFNumberCodeFloat64, &value);
}

CFType CFType::fromIndex(CFIndex value)
{
    return number(kCFNumberCodeIndex, &value);
}

CFType CFType::fromString(const QString &value)
{
    const auto create = cf<CFStringCreateWithBytesFn>("CFStringCreateWithBytes");
    if (!create)
        return CFType();
    const QByteArray utf8 = value.toUtf8();
    return CFType(create(nullptr, reinterpret_cast<const uint8_t *>(utf8.constData()), utf8.size(), kCFEncodingUtf8, false),
                  true);
}

CFType CFType::fromData(const QByteArray &value)
{
    const auto create = cf<CFDataCreateFn>("CFDataCreate");
    if (!create)
        return CFType();
    return CFType(create(nullptr, reinterpret_cast<const uint8_t *>(value.constData()), value.size()), true);
}

CFType CFType::fromDateTime(const QDateTime &value)
{
    const auto absolute = cf<CFGregorianDateGetAbsoluteTimeFn>("CFGregorianDateGetAbsoluteTime");
    const auto create = cf<CFDateCreateFn>("CFDateCreate");
    if (!value.isValid() || !absolute || !create)
        return CFType();
    const QDate d = value.date();
    const QTime t = value.time();
    CFGregorianDate fields;
    fields.year = d.year();
    fields.month = int8_t(d.month());
    fields.day = int8_t(d.day());
    fields.hour = int8_t(t.hour());
    fields.minute = int8_t(t.minute());
    fields.second = t.second();
    return CFType(create(nullptr, absolute(fields, nullptr)), true);
}

CFType CFType::makeDictionary()
{
    const auto create = cf<CFDictionaryCreateMutableFn>("CFDictionaryCreateMutable");
    const void *keys = callBacks(g_keyCallBacks, "kCFTypeDictionaryKeyCallBacks");
    const void *values = callBacks(g_valueCallBacks, "kCFTypeDictionaryValueCallBacks");
    // Without the type callbacks the dictionary would not retain what it holds.
    if (!create || !keys || !values)
        return CFType();
    return CFType(create(nullptr, 0, keys, values), true);
}

CFType CFType::makeArray()
{
    const auto create = cf<CFArrayCreateMutableFn>("CFArrayCreateMutable");
    const void *items = callBacks(g_arrayCallBacks, "kCFTypeArrayCallBacks");
    if (!create || !items)
        return CFType();
    return CFType(create(nullptr, 0, items), true);
}

void CFType::set(const CFType &key, const CFType &value)
{
    const auto setValue = cf<CFDictionarySetValueFn>("CFDictionarySetValue");
    if (!isDictionary() || !key.ref() || !value.ref() || !setValue)
        return;
    auto &entry = m_holder->entries[key.m_holder.data()];
    if (entry.second)
        m_holder->replaced.append(entry.second);
    entry = qMakePair(key.m_holder, value.m_holder);
    setValue(const_cast<void *>(ref()), key.ref(), value.ref());
}

void CFType::append(const CFType &value)
{
    const auto appendValue = cf<CFArrayAppendValueFn>("CFArrayAppendValue");
    if (!isArray() || !value.ref() || !appendValue)
        return;
    m_holder->items.append(value.m_holder);
    appendValue(const_cast<void *>(ref()), value.ref());
}

CFType CFType::createPropertyListData(const CFType &value, int format)
{
    const auto create = cf<CFPropertyListCreateDataFn>("CFPropertyListCreateData");
    if (!value.ref() || !create)
        return CFType();
    return CFType(create(nullptr, value.ref(), format, 0, nullptr), true);
}

QByteArray CFType::toPropertyListData(const CFType &value, int format)
{
    return createPropertyListData(value, format).dataValue();
}

CFType CFType::fromPropertyListData(const QByteArray &bytes)
{
    const auto parse = cf<CFPropertyListCreateWithDataFn>("CFPropertyListCreateWithData");
    const CFType data = fromData(bytes);
    if (!data.ref() || !parse)
        return CFType();
    return CFType(parse(nullptr, data.ref(), 0, nullptr, nullptr), true);
}

CFType CFType::fromPropertyListFile(const QString &path)
{
    QFile file(path);
    QByteArray bytes;
    if (!file.open(QIODevice::ReadOnly) || readWithin(file, kMaxPropertyListFileSize, bytes) != BoundedRead::Whole)
        return CFType();
    return fromPropertyListData(bytes);
}

CFType CFType::deepCopy(const CFType &value)
{
    return fromPropertyListData(toPropertyListData(value, kCFPropertyListFormatXml));
}
