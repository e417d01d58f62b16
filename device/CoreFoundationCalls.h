#pragma once

// The calling interface of the CoreFoundation library as this program uses
// it. The library is never linked: each function is looked up by name when it
// is called (cf_resolve), so only the types of the values it takes and gives
// and the type of each function are written down here. Every reference is an
// opaque pointer; the library alone knows what it points at.

#include <cstdint>

extern "C" {

typedef const void *CFTypeRef;
typedef const void *CFTimeZoneRef;
typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef uint32_t CFStringEncoding;
typedef unsigned char Boolean;
typedef double CFAbsoluteTime; // seconds since 2001-01-01 00:00:00 GMT
typedef double CFTimeInterval;

struct CFRange
{
    CFIndex location;
    CFIndex length;
};

struct CFGregorianDate
{
    int32_t year;
    int8_t month;
    int8_t day;
    int8_t hour;
    int8_t minute;
    double second;
};

// Function types, named after the exported function with "Fn" appended.
typedef CFTypeID (*CFGetTypeIDFn)(CFTypeRef value);
typedef CFTypeID (*CFTypeIDGetterFn)(void); // CFNullGetTypeID, CFNumberGetTypeID, ...
typedef void (*CFReleaseFn)(CFTypeRef value);

typedef CFTypeRef (*CFNumberCreateFn)(CFTypeRef allocator, CFIndex numberType, const void *value);
typedef Boolean (*CFNumberGetValueFn)(CFTypeRef number, CFIndex numberType, void *value);
typedef CFIndex (*CFNumberGetTypeFn)(CFTypeRef number);

typedef CFTypeRef (*CFStringCreateWithBytesFn)(CFTypeRef allocator, const uint8_t *bytes, CFIndex byteCount,
                                               CFStringEncoding encoding, Boolean isExternalRepresentation);
typedef CFIndex (*CFStringGetBytesFn)(CFTypeRef string, CFRange range, CFStringEncoding encoding, uint8_t lossByte,
                                      Boolean isExternalRepresentation, uint8_t *buffer, CFIndex maxBufferLength,
                                      CFIndex *usedBufferLength);
typedef CFIndex (*CFStringGetLengthFn)(CFTypeRef string);

typedef CFTypeRef (*CFDataCreateFn)(CFTypeRef allocator, const uint8_t *bytes, CFIndex length);
typedef CFIndex (*CFDataGetLengthFn)(CFTypeRef data);
typedef void (*CFDataGetBytesFn)(CFTypeRef data, CFRange range, uint8_t *buffer);

typedef CFTypeRef (*CFDateCreateFn)(CFTypeRef allocator, CFAbsoluteTime at);
typedef CFAbsoluteTime (*CFDateGetAbsoluteTimeFn)(CFTypeRef date);
typedef CFGregorianDate (*CFAbsoluteTimeGetGregorianDateFn)(CFAbsoluteTime at, CFTimeZoneRef zone);
typedef CFAbsoluteTime (*CFGregorianDateGetAbsoluteTimeFn)(CFGregorianDate date, CFTimeZoneRef zone);
typedef CFTimeZoneRef (*CFTimeZoneCreateWithTimeIntervalFromGMTFn)(CFTypeRef allocator, CFTimeInterval offset);
typedef CFTimeZoneRef (*CFTimeZoneCreateWithNameFn)(CFTypeRef allocator, CFTypeRef name, Boolean tryAbbreviations);

// The callback objects are passed by address only (kCFTypeArrayCallBacks and
// its two dictionary siblings); their contents are the library's.
typedef void *(*CFDictionaryCreateMutableFn)(CFTypeRef allocator, CFIndex capacity, const void *keyCallBacks,
                                             const void *valueCallBacks);
typedef CFTypeRef (*CFDictionaryGetValueFn)(CFTypeRef dictionary, CFTypeRef key);
typedef void (*CFDictionarySetValueFn)(void *dictionary, CFTypeRef key, CFTypeRef value);
typedef CFIndex (*CFDictionaryGetCountFn)(CFTypeRef dictionary);
typedef void (*CFDictionaryGetKeysAndValuesFn)(CFTypeRef dictionary, CFTypeRef *keys, CFTypeRef *values);

typedef void *(*CFArrayCreateMutableFn)(CFTypeRef allocator, CFIndex capacity, const void *callBacks);
typedef void (*CFArrayAppendValueFn)(void *array, CFTypeRef value);
typedef CFTypeRef (*CFArrayGetValueAtIndexFn)(CFTypeRef array, CFIndex index);
typedef CFIndex (*CFArrayGetCountFn)(CFTypeRef array);

typedef CFTypeRef (*CFPropertyListCreateDataFn)(CFTypeRef allocator, CFTypeRef propertyList, CFIndex format,
                                                CFOptionFlags options, CFTypeRef *error);
typedef CFTypeRef (*CFPropertyListCreateWithDataFn)(CFTypeRef allocator, CFTypeRef data, CFOptionFlags options,
                                                    CFIndex *format, CFTypeRef *error);

} // extern "C"

// The codes this program passes.
inline constexpr CFIndex kCFNumberCodeSInt8 = 1;
inline constexpr CFIndex kCFNumberCodeSInt16 = 2;
inline constexpr CFIndex kCFNumberCodeSInt32 = 3;
inline constexpr CFIndex kCFNumberCodeSInt64 = 4;
inline constexpr CFIndex kCFNumberCodeFloat32 = 5;
inline constexpr CFIndex kCFNumberCodeFloat64 = 6;
inline constexpr CFIndex kCFNumberCodeLongLong = 11;
inline constexpr CFIndex kCFNumberCodeFloat = 12;
inline constexpr CFIndex kCFNumberCodeDouble = 13;
inline constexpr CFIndex kCFNumberCodeIndex = 14;

inline constexpr CFStringEncoding kCFEncodingUtf8 = 0x08000100;

inline constexpr CFIndex kCFPropertyListFormatXml = 100;
inline constexpr CFIndex kCFPropertyListFormatBinary = 200;
