// A small reference-counted value library with the calling interface of
// CoreFoundation as the program uses it: null, boolean, number, string, data,
// date, array, dictionary and time-zone values, and property lists in XML and
// binary form (through libplist). The program loads it at run time as
// libCoreFoundation.so; the device layer over the platform's device stack
// (devicestack/mobiledevice) and the simulated framework (devicesim) make
// their values with it, so there is one value library, shipped.
//
// Values handed out by a "Create" function carry one reference, which
// CFRelease gives back; values read out of a container are the container's.
// Reference counts are atomic; a value itself is used by one thread at a time.

#include "CoreFoundationExports.h"

#include "PlistBounds.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringDecoder>
#include <QTimeZone>

#include <plist/plist.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

// The exported functions must have exactly the types the program calls them with.
#define CF_CHECK_TYPE(name) static_assert(std::is_same_v<decltype(&name), name##Fn>, #name)
CF_CHECK_TYPE(CFGetTypeID);
CF_CHECK_TYPE(CFRelease);
CF_CHECK_TYPE(CFNumberCreate);
CF_CHECK_TYPE(CFNumberGetValue);
CF_CHECK_TYPE(CFNumberGetType);
CF_CHECK_TYPE(CFStringCreateWithBytes);
CF_CHECK_TYPE(CFStringGetBytes);
CF_CHECK_TYPE(CFStringGetLength);
CF_CHECK_TYPE(CFDataCreate);
CF_CHECK_TYPE(CFDataGetLength);
CF_CHECK_TYPE(CFDataGetBytes);
CF_CHECK_TYPE(CFDateCreate);
CF_CHECK_TYPE(CFDateGetAbsoluteTime);
CF_CHECK_TYPE(CFAbsoluteTimeGetGregorianDate);
CF_CHECK_TYPE(CFGregorianDateGetAbsoluteTime);
CF_CHECK_TYPE(CFTimeZoneCreateWithTimeIntervalFromGMT);
CF_CHECK_TYPE(CFTimeZoneCreateWithName);
CF_CHECK_TYPE(CFDictionaryCreateMutable);
CF_CHECK_TYPE(CFDictionaryGetValue);
CF_CHECK_TYPE(CFDictionarySetValue);
CF_CHECK_TYPE(CFDictionaryGetCount);
CF_CHECK_TYPE(CFDictionaryGetKeysAndValues);
CF_CHECK_TYPE(CFArrayCreateMutable);
CF_CHECK_TYPE(CFArrayAppendValue);
CF_CHECK_TYPE(CFArrayGetValueAtIndex);
CF_CHECK_TYPE(CFArrayGetCount);
CF_CHECK_TYPE(CFPropertyListCreateData);
CF_CHECK_TYPE(CFPropertyListCreateWithData);
static_assert(std::is_same_v<decltype(&CFNullGetTypeID), CFTypeIDGetterFn>);

namespace
{

enum : CFTypeID {
    kNullType = 1,
    kBooleanType,
    kNumberType,
    kStringType,
    kDataType,
    kDateType,
    kArrayType,
    kDictionaryType,
    kTimeZoneType,
};

constexpr double kUnixEpochFromReference = 978307200.0;

struct Object
{
    explicit Object(CFTypeID t, bool permanent = false)
        : type(t)
        , immortal(permanent)
    {
    }
    virtual ~Object() = default;
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;

    const CFTypeID type;
    const bool immortal;
    mutable std::atomic<long> references{1};
};

struct BooleanValue : Object
{
    explicit BooleanValue(bool v)
        : Object(kBooleanType, true)
        , value(v)
    {
    }
    const bool value;
};

struct Number : Object
{
    Number()
        : Object(kNumberType)
    {
    }
    CFIndex kind = kCFNumberCodeSInt64; // the type it was made with
    bool isFloat = false;
    int64_t integer = 0;
    double real = 0;
};

struct String : Object
{
    explicit String(QString t)
        : Object(kStringType)
        , text(std::move(t))
    {
    }
    const QString text; // UTF-16 code units, as lengths and ranges count them
};

struct Data : Object
{
    explicit Data(QByteArray b)
        : Object(kDataType)
        , bytes(std::move(b))
    {
    }
    const QByteArray bytes;
};

struct Date : Object
{
    explicit Date(double at)
        : Object(kDateType)
        , absolute(at)
    {
    }
    const double absolute;
};

struct TimeZone : Object
{
    explicit TimeZone(QTimeZone z)
        : Object(kTimeZoneType)
        , zone(std::move(z))
    {
    }
    const QTimeZone zone;
};

const Object *object(CFTypeRef ref)
{
    return static_cast<const Object *>(ref);
}

bool isType(CFTypeRef ref, CFTypeID type)
{
    return ref && object(ref)->type == type;
}

void retain(CFTypeRef ref)
{
    if (ref && !object(ref)->immortal)
        object(ref)->references.fetch_add(1, std::memory_order_relaxed);
}

void release(CFTypeRef ref)
{
    if (!ref || object(ref)->immortal)
        return;
    if (object(ref)->references.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete object(ref);
}

struct Array : Object
{
    explicit Array(bool retainsItems, bool canChange)
        : Object(kArrayType)
        , retains(retainsItems)
        , mutableArray(canChange)
    {
    }
    ~Array() override
    {
        if (retains) {
            for (CFTypeRef item : items)
                release(item);
        }
    }
    const bool retains;
    const bool mutableArray;
    std::vector<CFTypeRef> items;
};

// Keys are equal by content for strings, numbers, data and dates, and by
// identity otherwise, so that a key made afresh finds its entry.
bool sameValue(CFTypeRef a, CFTypeRef b);
size_t hashOf(CFTypeRef ref);

struct Dictionary : Object
{
    Dictionary(bool keys, bool values, bool canChange)
        : Object(kDictionaryType)
        , retainsKeys(keys)
        , retainsValues(values)
        , mutableDictionary(canChange)
    {
    }
    ~Dictionary() override
    {
        for (const auto &entry : entries) {
            if (retainsKeys)
                release(entry.first);
            if (retainsValues)
                release(entry.second);
        }
    }

    // Entries keep the order they were added in; the index finds them by hash.
    long find(CFTypeRef key) const
    {
        const auto range = index.equal_range(hashOf(key));
        for (auto it = range.first; it != range.second; ++it) {
            if (sameValue(entries[it->second].first, key))
                return long(it->second);
        }
        return -1;
    }

    void set(CFTypeRef key, CFTypeRef value)
    {
        const long at = find(key);
        if (retainsValues)
            retain(value);
        if (at >= 0) {
            if (retainsValues)
                release(entries[size_t(at)].second);
            entries[size_t(at)].second = value;
            return;
        }
        if (retainsKeys)
            retain(key);
        index.emplace(hashOf(key), entries.size());
        entries.emplace_back(key, value);
    }

    const bool retainsKeys;
    const bool retainsValues;
    const bool mutableDictionary;
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
    std::unordered_multimap<size_t, size_t> index;
};

double numberAsDouble(const Number *n)
{
    return n->isFloat ? n->real : double(n->integer);
}

bool sameValue(CFTypeRef a, CFTypeRef b)
{
    if (a == b)
        return true;
    if (!a || !b || object(a)->type != object(b)->type)
        return false;
    switch (object(a)->type) {
    case kStringType:
        return static_cast<const String *>(a)->text == static_cast<const String *>(b)->text;
    case kDataType:
        return static_cast<const Data *>(a)->bytes == static_cast<const Data *>(b)->bytes;
    case kDateType:
        return static_cast<const Date *>(a)->absolute == static_cast<const Date *>(b)->absolute;
    case kNumberType: {
        const auto *x = static_cast<const Number *>(a);
        const auto *y = static_cast<const Number *>(b);
        if (!x->isFloat && !y->isFloat)
            return x->integer == y->integer;
        return numberAsDouble(x) == numberAsDouble(y);
    }
    default:
        return false;
    }
}

size_t hashOf(CFTypeRef ref)
{
    if (!ref)
        return 0;
    switch (object(ref)->type) {
    case kStringType:
        return qHash(static_cast<const String *>(ref)->text);
    case kDataType:
        return qHash(static_cast<const Data *>(ref)->bytes);
    case kDateType:
        return std::hash<double>()(static_cast<const Date *>(ref)->absolute);
    case kNumberType:
        // Equal numbers of either kind must hash alike.
        return std::hash<double>()(numberAsDouble(static_cast<const Number *>(ref)));
    default:
        return std::hash<CFTypeRef>()(ref);
    }
}

const BooleanValue g_true(true);
const BooleanValue g_false(false);

// --- numbers -------------------------------------------------------------

int integerWidth(CFIndex type)
{
    switch (type) {
    case 1: // SInt8
    case 7: // char
        return 1;
    case 2: // SInt16
    case 8: // short
        return 2;
    case 3: // SInt32
    case 9: // int
        return 4;
    case 4:  // SInt64
    case 10: // long
    case 11: // long long
    case 14: // index
    case 15: // NSInteger
        return 8;
    default:
        return 0;
    }
}

int floatWidth(CFIndex type)
{
    switch (type) {
    case 5:  // Float32
    case 12: // float
        return 4;
    case 6:  // Float64
    case 13: // double
    case 16: // CGFloat
        return 8;
    default:
        return 0;
    }
}

// Stores the value in the integer of the given width; false when it does not
// fit exactly (the stored value is then the nearest one that does).
bool storeInteger(const Number *n, int width, void *out)
{
    const int64_t lowest = width == 8 ? std::numeric_limits<int64_t>::min() : -(int64_t(1) << (width * 8 - 1));
    const int64_t highest = width == 8 ? std::numeric_limits<int64_t>::max() : (int64_t(1) << (width * 8 - 1)) - 1;
    int64_t v = 0;
    bool exact = true;
    if (n->isFloat) {
        const double d = n->real;
        if (std::isnan(d)) {
            v = 0;
            exact = false;
        } else if (d <= double(lowest)) {
            v = lowest;
            exact = d == double(lowest);
        } else if (d >= double(highest)) {
            // double(INT64_MAX) rounds up to 2^63, which does not fit.
            v = highest;
            exact = width < 8 && d == double(highest);
        } else {
            v = int64_t(d);
            exact = double(v) == d;
        }
    } else {
        v = n->integer;
        if (v < lowest) {
            v = lowest;
            exact = false;
        } else if (v > highest) {
            v = highest;
            exact = false;
        }
    }
    switch (width) {
    case 1: {
        const int8_t x = int8_t(v);
        std::memcpy(out, &x, 1);
        break;
    }
    case 2: {
        const int16_t x = int16_t(v);
        std::memcpy(out, &x, 2);
        break;
    }
    case 4: {
        const int32_t x = int32_t(v);
        std::memcpy(out, &x, 4);
        break;
    }
    default:
        std::memcpy(out, &v, 8);
        break;
    }
    return exact;
}

bool storeFloat(const Number *n, int width, void *out)
{
    const double d = numberAsDouble(n);
    if (width == 4) {
        const double limit = double(std::numeric_limits<float>::max());
        const float f = std::isfinite(d) && std::fabs(d) > limit ? (d < 0 ? -std::numeric_limits<float>::infinity()
                                                                          : std::numeric_limits<float>::infinity())
                                                                 : float(d);
        std::memcpy(out, &f, 4);
        return std::isnan(d) || double(f) == d;
    }
    std::memcpy(out, &d, 8);
    if (n->isFloat)
        return true;
    // An integer is exact in a double when it comes back unchanged.
    if (d >= 9223372036854775808.0)
        return false;
    return int64_t(d) == n->integer;
}

// --- strings -------------------------------------------------------------

// The UTF-8 form of the code units [from, from + count) of a text, stopping at
// a unit that cannot be converted (an unpaired surrogate) when lossByte is 0,
// and where the buffer is full. Returns the units converted.
CFIndex utf8Of(const QString &text, CFIndex from, CFIndex count, uint8_t lossByte, uint8_t *buffer, CFIndex capacity,
               CFIndex *used)
{
    CFIndex units = 0;
    CFIndex bytes = 0;
    const CFIndex end = from + count;
    uint8_t encoded[4];
    while (from + units < end) {
        const char16_t c = text.at(from + units).unicode();
        char32_t codePoint = c;
        CFIndex width = 1;
        bool lost = false;
        if (QChar::isHighSurrogate(c) && from + units + 1 < end && QChar::isLowSurrogate(text.at(from + units + 1).unicode())) {
            codePoint = QChar::surrogateToUcs4(c, text.at(from + units + 1).unicode());
            width = 2;
        } else if (QChar::isSurrogate(c)) {
            lost = true;
        }
        int length = 0;
        if (lost) {
            if (lossByte == 0)
                break;
            encoded[length++] = lossByte;
        } else if (codePoint < 0x80) {
            encoded[length++] = uint8_t(codePoint);
        } else if (codePoint < 0x800) {
            encoded[length++] = uint8_t(0xC0 | (codePoint >> 6));
            encoded[length++] = uint8_t(0x80 | (codePoint & 0x3F));
        } else if (codePoint < 0x10000) {
            encoded[length++] = uint8_t(0xE0 | (codePoint >> 12));
            encoded[length++] = uint8_t(0x80 | ((codePoint >> 6) & 0x3F));
            encoded[length++] = uint8_t(0x80 | (codePoint & 0x3F));
        } else {
            encoded[length++] = uint8_t(0xF0 | (codePoint >> 18));
            encoded[length++] = uint8_t(0x80 | ((codePoint >> 12) & 0x3F));
            encoded[length++] = uint8_t(0x80 | ((codePoint >> 6) & 0x3F));
            encoded[length++] = uint8_t(0x80 | (codePoint & 0x3F));
        }
        if (buffer) {
            if (bytes + length > capacity)
                break;
            std::memcpy(buffer + bytes, encoded, size_t(length));
        }
        bytes += length;
        units += width;
    }
    if (used)
        *used = bytes;
    return units;
}

// Strictly valid UTF-8 only; anything else makes no string.
bool decodeUtf8(const char *bytes, qsizetype length, QString &text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = decoder.decode(QByteArrayView(bytes, length));
    return !decoder.hasError();
}

CFTypeRef makeString(const QString &text)
{
    return new String(text);
}

// --- property lists ------------------------------------------------------

// A value nested deeper than this (or an array holding itself) is not written.
constexpr int kMaxNesting = kPlistMaxNesting;

// A property list holds no text with U+0000 (see PlistBounds.h): a value
// with such a string or key has no property-list form, as the bound checks
// refuse a received list that holds one.
bool holdsNul(CFTypeRef string)
{
    return static_cast<const String *>(string)->text.contains(QChar(u'\0'));
}

plist_t toPlist(CFTypeRef ref, int depth)
{
    if (!ref || depth > kMaxNesting)
        return nullptr;
    switch (object(ref)->type) {
    case kBooleanType:
        return plist_new_bool(static_cast<const BooleanValue *>(ref)->value ? 1 : 0);
    case kNumberType: {
        const auto *n = static_cast<const Number *>(ref);
        return n->isFloat ? plist_new_real(n->real) : plist_new_uint(uint64_t(n->integer));
    }
    case kStringType:
        if (holdsNul(ref))
            return nullptr;
        return plist_new_string(static_cast<const String *>(ref)->text.toUtf8().constData());
    case kDataType: {
        const QByteArray &b = static_cast<const Data *>(ref)->bytes;
        return plist_new_data(b.constData(), uint64_t(b.size()));
    }
    case kDateType: {
        const double at = static_cast<const Date *>(ref)->absolute;
        if (!std::isfinite(at) || at < double(std::numeric_limits<int32_t>::min()) ||
            at >= double(std::numeric_limits<int32_t>::max()))
            return nullptr;
        // The library keeps whole seconds and microseconds apart and reads
        // them back truncated toward zero.
        const double whole = std::trunc(at);
        const int32_t micro = int32_t(std::llround(std::fabs(at - whole) * 1e6));
        return plist_new_date(int32_t(whole), std::min(micro, 999999));
    }
    case kArrayType: {
        plist_t array = plist_new_array();
        for (CFTypeRef item : static_cast<const Array *>(ref)->items) {
            plist_t node = toPlist(item, depth + 1);
            if (!node) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, node);
        }
        return array;
    }
    case kDictionaryType: {
        plist_t dict = plist_new_dict();
        for (const auto &entry : static_cast<const Dictionary *>(ref)->entries) {
            plist_t node = isType(entry.first, kStringType) && !holdsNul(entry.first)
                ? toPlist(entry.second, depth + 1)
                : nullptr;
            if (!node) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, static_cast<const String *>(entry.first)->text.toUtf8().constData(), node);
        }
        return dict;
    }
    default:
        return nullptr; // null and time zones have no property-list form
    }
}

// The text of a string node, read with its length; false for a text with
// U+0000, which the bound checks keep out of every parsed list.
bool plistText(plist_t node, QString &out)
{
    uint64_t length = 0;
    const char *text = plist_get_string_ptr(node, &length);
    if (!text || length > uint64_t(std::numeric_limits<qsizetype>::max()) || strnlen(text, size_t(length)) != length)
        return false;
    out = decodePlistText(text, qsizetype(length));
    return true;
}

CFTypeRef fromPlist(plist_t node, int depth)
{
    if (!node || depth > kMaxNesting)
        return nullptr;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t v = 0;
        plist_get_bool_val(node, &v);
        return v ? &g_true : &g_false;
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        auto *n = new Number;
        n->kind = kCFNumberCodeSInt64;
        n->integer = int64_t(v);
        return n;
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        auto *n = new Number;
        n->kind = kCFNumberCodeFloat64;
        n->isFloat = true;
        n->real = v;
        return n;
    }
    case PLIST_STRING: {
        QString text;
        return plistText(node, text) ? makeString(text) : nullptr;
    }
    case PLIST_DATA: {
        char *bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        QByteArray copy(bytes, qsizetype(bytes ? length : 0));
        std::free(bytes);
        return new Data(copy);
    }
    case PLIST_DATE: {
        // The library's getter cuts dates to int32 seconds; the value it keeps
        // is read whole.
        double seconds = 0;
        if (!plistDateSeconds(node, seconds) || !std::isfinite(seconds))
            return nullptr;
        return new Date(seconds);
    }
    case PLIST_ARRAY: {
        auto *array = new Array(true, false);
        const uint32_t count = plist_array_get_size(node);
        for (uint32_t i = 0; i < count; ++i) {
            CFTypeRef item = fromPlist(plist_array_get_item(node, i), depth + 1);
            if (!item) {
                release(array);
                return nullptr;
            }
            array->items.push_back(item); // the new value's reference moves in
        }
        return array;
    }
    case PLIST_DICT: {
        auto *dict = new Dictionary(true, true, false);
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            // Keys are whole: the bound checks let no key with U+0000 through.
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key || !value) {
                std::free(key);
                break;
            }
            CFTypeRef keyRef = makeString(decodePlistText(key, qsizetype(std::strlen(key))));
            std::free(key);
            CFTypeRef valueRef = fromPlist(value, depth + 1);
            if (!valueRef) {
                release(keyRef);
                release(dict);
                std::free(it);
                return nullptr;
            }
            dict->set(keyRef, valueRef);
            release(keyRef);
            release(valueRef);
        }
        std::free(it);
        return dict;
    }
    default:
        return nullptr; // keyed-archive references and the like are not values here
    }
}

QTimeZone zoneOf(CFTimeZoneRef zone)
{
    if (isType(zone, kTimeZoneType))
        return static_cast<const TimeZone *>(zone)->zone;
    return QTimeZone::utc();
}

} // namespace

extern "C" {

const CFTypeRef kCFBooleanTrue = &g_true;
const CFTypeRef kCFBooleanFalse = &g_false;
const CallBackObject kCFTypeArrayCallBacks = {0, "array values"};
const CallBackObject kCFTypeDictionaryKeyCallBacks = {0, "dictionary keys"};
const CallBackObject kCFTypeDictionaryValueCallBacks = {0, "dictionary values"};

CFTypeID CFGetTypeID(CFTypeRef value)
{
    return value ? object(value)->type : 0;
}

CFTypeID CFNullGetTypeID(void)
{
    return kNullType;
}

CFTypeID CFBooleanGetTypeID(void)
{
    return kBooleanType;
}

CFTypeID CFNumberGetTypeID(void)
{
    return kNumberType;
}

CFTypeID CFStringGetTypeID(void)
{
    return kStringType;
}

CFTypeID CFDataGetTypeID(void)
{
    return kDataType;
}

CFTypeID CFDateGetTypeID(void)
{
    return kDateType;
}

CFTypeID CFArrayGetTypeID(void)
{
    return kArrayType;
}

CFTypeID CFDictionaryGetTypeID(void)
{
    return kDictionaryType;
}

void CFRelease(CFTypeRef value)
{
    release(value);
}

CFTypeRef CFNumberCreate(CFTypeRef, CFIndex numberType, const void *value)
{
    if (!value)
        return nullptr;
    auto *n = new Number;
    n->kind = numberType;
    switch (integerWidth(numberType)) {
    case 1: {
        int8_t v;
        std::memcpy(&v, value, 1);
        n->integer = v;
        return n;
    }
    case 2: {
        int16_t v;
        std::memcpy(&v, value, 2);
        n->integer = v;
        return n;
    }
    case 4: {
        int32_t v;
        std::memcpy(&v, value, 4);
        n->integer = v;
        return n;
    }
    case 8: {
        int64_t v;
        std::memcpy(&v, value, 8);
        n->integer = v;
        return n;
    }
    default:
        break;
    }
    n->isFloat = true;
    switch (floatWidth(numberType)) {
    case 4: {
        float v;
        std::memcpy(&v, value, 4);
        n->real = v;
        return n;
    }
    case 8: {
        double v;
        std::memcpy(&v, value, 8);
        n->real = v;
        return n;
    }
    default:
        delete n;
        return nullptr;
    }
}

// A boolean reads as the number 0 or 1.
Boolean CFNumberGetValue(CFTypeRef number, CFIndex numberType, void *value)
{
    if (!value)
        return false;
    Number asNumber;
    const Number *n = nullptr;
    if (isType(number, kNumberType)) {
        n = static_cast<const Number *>(number);
    } else if (isType(number, kBooleanType)) {
        asNumber.integer = static_cast<const BooleanValue *>(number)->value ? 1 : 0;
        n = &asNumber;
    } else {
        return false;
    }
    if (const int width = integerWidth(numberType))
        return storeInteger(n, width, value);
    if (const int width = floatWidth(numberType))
        return storeFloat(n, width, value);
    return false;
}

CFIndex CFNumberGetType(CFTypeRef number)
{
    return isType(number, kNumberType) ? static_cast<const Number *>(number)->kind : 0;
}

CFTypeRef CFStringCreateWithBytes(CFTypeRef, const uint8_t *bytes, CFIndex byteCount, CFStringEncoding encoding,
                                  Boolean)
{
    if (encoding != kCFEncodingUtf8 || byteCount < 0 || (byteCount > 0 && !bytes) ||
        byteCount > CFIndex(std::numeric_limits<int>::max()))
        return nullptr;
    QString text;
    if (!decodeUtf8(reinterpret_cast<const char *>(bytes), qsizetype(byteCount), text))
        return nullptr;
    return makeString(text);
}

CFIndex CFStringGetBytes(CFTypeRef string, CFRange range, CFStringEncoding encoding, uint8_t lossByte, Boolean,
                         uint8_t *buffer, CFIndex maxBufferLength, CFIndex *usedBufferLength)
{
    if (usedBufferLength)
        *usedBufferLength = 0;
    if (!isType(string, kStringType) || encoding != kCFEncodingUtf8)
        return 0;
    const QString &text = static_cast<const String *>(string)->text;
    if (range.location < 0 || range.length < 0 || range.location > text.size() ||
        range.length > text.size() - range.location)
        return 0;
    return utf8Of(text, range.location, range.length, lossByte, buffer, buffer ? std::max<CFIndex>(maxBufferLength, 0) : 0,
                  usedBufferLength);
}

CFIndex CFStringGetLength(CFTypeRef string)
{
    return isType(string, kStringType) ? static_cast<const String *>(string)->text.size() : 0;
}

CFTypeRef CFDataCreate(CFTypeRef, const uint8_t *bytes, CFIndex length)
{
    if (length < 0 || (length > 0 && !bytes) || length > CFIndex(std::numeric_limits<int>::max()))
        return nullptr;
    return new Data(QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(length)));
}

CFIndex CFDataGetLength(CFTypeRef data)
{
    return isType(data, kDataType) ? static_cast<const Data *>(data)->bytes.size() : 0;
}

void CFDataGetBytes(CFTypeRef data, CFRange range, uint8_t *buffer)
{
    if (!isType(data, kDataType) || !buffer)
        return;
    const QByteArray &bytes = static_cast<const Data *>(data)->bytes;
    if (range.location < 0 || range.length < 0 || range.location > bytes.size() ||
        range.length > bytes.size() - range.location)
        return;
    std::memcpy(buffer, bytes.constData() + range.location, size_t(range.length));
}

CFTypeRef CFDateCreate(CFTypeRef, CFAbsoluteTime at)
{
    return new Date(at);
}

CFAbsoluteTime CFDateGetAbsoluteTime(CFTypeRef date)
{
    return isType(date, kDateType) ? static_cast<const Date *>(date)->absolute : 0;
}

CFGregorianDate CFAbsoluteTimeGetGregorianDate(CFAbsoluteTime at, CFTimeZoneRef zone)
{
    // Outside about ±30 million years the calendar arithmetic would overflow.
    if (!std::isfinite(at) || std::fabs(at) > 1e15)
        at = 0;
    const double whole = std::floor(at);
    const QDateTime moment = QDateTime::fromSecsSinceEpoch(qint64(whole) + qint64(kUnixEpochFromReference), zoneOf(zone));
    CFGregorianDate fields;
    fields.year = moment.date().year();
    fields.month = int8_t(moment.date().month());
    fields.day = int8_t(moment.date().day());
    fields.hour = int8_t(moment.time().hour());
    fields.minute = int8_t(moment.time().minute());
    fields.second = moment.time().second() + (at - whole);
    return fields;
}

CFAbsoluteTime CFGregorianDateGetAbsoluteTime(CFGregorianDate date, CFTimeZoneRef zone)
{
    // Fields out of their ranges carry over into the next larger one.
    const QDate day = QDate(date.year, 1, 1).addMonths(date.month - 1).addDays(date.day - 1);
    if (!day.isValid() || !std::isfinite(date.second))
        return 0;
    const QDateTime midnight(day, QTime(0, 0), zoneOf(zone));
    const double offset = double(date.hour) * 3600 + double(date.minute) * 60 + date.second;
    return double(midnight.toSecsSinceEpoch()) - kUnixEpochFromReference + offset;
}

CFTimeZoneRef CFTimeZoneCreateWithTimeIntervalFromGMT(CFTypeRef, CFTimeInterval offset)
{
    if (!std::isfinite(offset) || std::fabs(offset) > 14 * 3600)
        return nullptr;
    const QTimeZone zone{int(offset)};
    return zone.isValid() ? new TimeZone(zone) : nullptr;
}

CFTimeZoneRef CFTimeZoneCreateWithName(CFTypeRef, CFTypeRef name, Boolean)
{
    if (!isType(name, kStringType))
        return nullptr;
    const QTimeZone zone(static_cast<const String *>(name)->text.toUtf8());
    return zone.isValid() ? new TimeZone(zone) : nullptr;
}

void *CFDictionaryCreateMutable(CFTypeRef, CFIndex, const void *keyCallBacks, const void *valueCallBacks)
{
    return new Dictionary(keyCallBacks == &kCFTypeDictionaryKeyCallBacks, valueCallBacks == &kCFTypeDictionaryValueCallBacks,
                          true);
}

CFTypeRef CFDictionaryGetValue(CFTypeRef dictionary, CFTypeRef key)
{
    if (!isType(dictionary, kDictionaryType) || !key)
        return nullptr;
    const auto *d = static_cast<const Dictionary *>(dictionary);
    const long at = d->find(key);
    return at >= 0 ? d->entries[size_t(at)].second : nullptr;
}

void CFDictionarySetValue(void *dictionary, CFTypeRef key, CFTypeRef value)
{
    if (!isType(dictionary, kDictionaryType) || !key || !value)
        return;
    auto *d = static_cast<Dictionary *>(dictionary);
    if (d->mutableDictionary)
        d->set(key, value);
}

CFIndex CFDictionaryGetCount(CFTypeRef dictionary)
{
    return isType(dictionary, kDictionaryType) ? CFIndex(static_cast<const Dictionary *>(dictionary)->entries.size()) : 0;
}

void CFDictionaryGetKeysAndValues(CFTypeRef dictionary, CFTypeRef *keys, CFTypeRef *values)
{
    if (!isType(dictionary, kDictionaryType))
        return;
    size_t i = 0;
    for (const auto &entry : static_cast<const Dictionary *>(dictionary)->entries) {
        if (keys)
            keys[i] = entry.first;
        if (values)
            values[i] = entry.second;
        ++i;
    }
}

void *CFArrayCreateMutable(CFTypeRef, CFIndex, const void *callBacks)
{
    return new Array(callBacks == &kCFTypeArrayCallBacks, true);
}

void CFArrayAppendValue(void *array, CFTypeRef value)
{
    if (!isType(array, kArrayType) || !value)
        return;
    auto *a = static_cast<Array *>(array);
    if (!a->mutableArray)
        return;
    if (a->retains)
        retain(value);
    a->items.push_back(value);
}

CFTypeRef CFArrayGetValueAtIndex(CFTypeRef array, CFIndex index)
{
    if (!isType(array, kArrayType))
        return nullptr;
    const auto &items = static_cast<const Array *>(array)->items;
    return index >= 0 && size_t(index) < items.size() ? items[size_t(index)] : nullptr;
}

CFIndex CFArrayGetCount(CFTypeRef array)
{
    return isType(array, kArrayType) ? CFIndex(static_cast<const Array *>(array)->items.size()) : 0;
}

CFTypeRef CFPropertyListCreateData(CFTypeRef, CFTypeRef propertyList, CFIndex format, CFOptionFlags, CFTypeRef *error)
{
    if (error)
        *error = nullptr;
    if (format != kCFPropertyListFormatXml && format != kCFPropertyListFormatBinary)
        return nullptr;
    plist_t root = toPlist(propertyList, 0);
    if (!root)
        return nullptr;
    char *bytes = nullptr;
    uint32_t length = 0;
    if (format == kCFPropertyListFormatXml) {
        plist_to_xml(root, &bytes, &length);
    } else {
        plist_to_bin(root, &bytes, &length);
    }
    plist_free(root);
    if (!bytes)
        return nullptr;
    CFTypeRef data = new Data(QByteArray(bytes, qsizetype(length)));
    if (format == kCFPropertyListFormatXml)
        plist_to_xml_free(bytes);
    else
        plist_to_bin_free(bytes);
    return data;
}

CFTypeRef CFPropertyListCreateWithData(CFTypeRef, CFTypeRef data, CFOptionFlags, CFIndex *format, CFTypeRef *error)
{
    if (error)
        *error = nullptr;
    if (!isType(data, kDataType))
        return nullptr;
    const QByteArray &bytes = static_cast<const Data *>(data)->bytes;
    if (quint64(bytes.size()) > std::numeric_limits<uint32_t>::max())
        return nullptr;
    plist_t root = nullptr;
    CFIndex found = 0;
    // The parser is handed only what the bound checks let through: nesting,
    // node counts and every offset of a binary list are checked first.
    if (bytes.startsWith("bplist00")) {
        if (binaryPlistWithinBounds(bytes))
            plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
        found = kCFPropertyListFormatBinary;
    } else if (!bytes.isEmpty() && xmlPlistWithinBounds(bytes)) {
        plist_from_xml(bytes.constData(), uint32_t(bytes.size()), &root);
        found = kCFPropertyListFormatXml;
    }
    if (!root)
        return nullptr;
    if (!plistTextsWellFormed(root)) {
        plist_free(root);
        return nullptr;
    }
    CFTypeRef value = fromPlist(root, 0);
    plist_free(root);
    if (value && format)
        *format = found;
    return value;
}

} // extern "C"
