#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSharedPointer>
#include <QString>

#include "CoreFoundationCalls.h"

class CFType;

// One CoreFoundation reference, shared by every copy of the CFType that wraps
// it. The last share releases the reference when it is owned.
struct CFTypeHolder
{
    CFTypeHolder(CFTypeRef r, bool o)
        : ref(r)
        , owned(o)
    {
    }
    CFTypeHolder(const CFTypeHolder &) = delete;
    CFTypeHolder &operator=(const CFTypeHolder &) = delete;

    CFTypeRef ref = nullptr;
    bool owned = false;

    // A value read out of a container keeps the container alive, so that it
    // stays valid for as long as it is held.
    QSharedPointer<CFTypeHolder> anchor;
    // The wrappers of what was put into this container with set and append,
    // held as long as the container is; values that a later set replaced stay
    // here too, so that a value read out before the replacement stays valid.
    QMap<const CFTypeHolder *, QPair<QSharedPointer<CFTypeHolder>, QSharedPointer<CFTypeHolder>>> entries;
    QList<QSharedPointer<CFTypeHolder>> items;
    QList<QSharedPointer<CFTypeHolder>> replaced;
};

// The value type for everything the device framework gives or takes. Every
// CoreFoundation function it uses is looked up by name at each call; when the
// library is not loaded (or lacks a function) values read as empty and the
// readers give their defaults. No operation throws.
class CFType
{
public:
    CFType() = default;
    // Wraps ref in a new holder; owned values are released with the last copy.
    CFType(CFTypeRef ref, bool owned);
    CFType(const CFType &) = default;
    CFType(CFType &&) = default;
    CFType &operator=(const CFType &) = default;
    CFType &operator=(CFType &&) = default;
    virtual ~CFType() = default;

    // Null when empty.
    CFTypeRef ref() const;

    // The framework's type identifier; the null type's when empty.
    unsigned long typeId() const;
    bool isNumber() const;
    bool isBool() const;
    bool isString() const;
    bool isData() const;
    bool isDate() const;
    bool isDictionary() const;
    bool isArray() const;

    // Readers give the default (or an empty result) for a value of another type.
    int toInt(int defaultValue = 0) const;
    qint64 toLongLong(qint64 defaultValue = 0) const;
    double toDouble(double defaultValue = 0) const;
    bool toBool(bool defaultValue = false) const;
    CFIndex stringLength() const;
    // Empty, never null, when not a string; characters that cannot be
    // converted read as "?".
    QString stringValue() const;
    CFIndex dataLength() const;
    // Null when not data or empty.
    QByteArray dataValue() const;
    // The date's fields in the zone (GMT for a null zone), labelled as local
    // time; invalid when not a date.
    QDateTime dateValue(CFTimeZoneRef zone) const;
    QDateTime dateValueAtOffset(int secondsFromGmt) const;
    // GMT when the name is empty.
    QDateTime dateValueInZone(const QString &zoneName) const;
    int dictionaryCount() const;
    int arrayCount() const;
    // Values read out of a container are not owned; they keep the container
    // alive while they live. Empty when absent or not a container of that kind.
    CFType value(const CFType &key) const;
    CFType value(const QString &key) const;
    // Empty for an index outside 0 .. arrayCount() - 1.
    CFType item(int index) const;
    QList<CFType> keys() const;
    QString toString() const;

    static CFType fromBool(bool value);
    static CFType fromInt8(qint8 value);
    static CFType fromInt16(qint16 value);
    static CFType fromInt32(qint32 value);
    static CFType fromInt64(qint64 value);
    static CFType fromFloat32(float value);
    static CFType fromFloat64(double value);
    static CFType fromIndex(CFIndex value);
    static CFType fromString(const QString &value);
    static CFType fromData(const QByteArray &value);
    // The date-time's own fields, read as GMT; empty for an invalid date-time.
    static CFType fromDateTime(const QDateTime &value);
    static CFType makeDictionary();
    static CFType makeArray();

    // Only on a dictionary, and only on an array; anything else does nothing.
    void set(const CFType &key, const CFType &value);
    void append(const CFType &value);

    // format: kCFPropertyListFormatXml (100) or kCFPropertyListFormatBinary (200).
    static CFType createPropertyListData(const CFType &value, int format);
    static QByteArray toPropertyListData(const CFType &value, int format);
    // Empty when the bytes do not parse.
    static CFType fromPropertyListData(const QByteArray &bytes);
    // Empty when the file cannot be read or is larger than a property list
    // this program accepts.
    static CFType fromPropertyListFile(const QString &path);
    static CFType deepCopy(const CFType &value);

    // The largest property-list file fromPropertyListFile reads.
    static constexpr qint64 kMaxPropertyListFileSize = qint64(256) * 1024 * 1024;

private:
    // Deleter of a holder's last share.
    static void release(CFTypeHolder *holder);
    bool hasType(const char *typeIdFunction) const;
    CFType borrowed(CFTypeRef ref) const;
    bool numberValue(CFIndex numberType, void *out) const;

    QSharedPointer<CFTypeHolder> m_holder;
};
