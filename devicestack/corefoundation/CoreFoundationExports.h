#pragma once

// The functions and objects that our CoreFoundation library exports,
// with C linkage. The types come from the program's own description of the
// calling interface, so that a mismatch between the two fails to compile.

#include "CoreFoundationCalls.h"

#define LARKSPAN_CF_EXPORT __attribute__((visibility("default")))

extern "C" {

// Opaque to callers: only the addresses of the three objects matter.
struct CallBackObject
{
    CFIndex version;
    const char *name;
};

LARKSPAN_CF_EXPORT extern const CFTypeRef kCFBooleanTrue;
LARKSPAN_CF_EXPORT extern const CFTypeRef kCFBooleanFalse;
LARKSPAN_CF_EXPORT extern const CallBackObject kCFTypeArrayCallBacks;
LARKSPAN_CF_EXPORT extern const CallBackObject kCFTypeDictionaryKeyCallBacks;
LARKSPAN_CF_EXPORT extern const CallBackObject kCFTypeDictionaryValueCallBacks;

LARKSPAN_CF_EXPORT CFTypeID CFGetTypeID(CFTypeRef value);
LARKSPAN_CF_EXPORT CFTypeID CFNullGetTypeID(void);
LARKSPAN_CF_EXPORT CFTypeID CFBooleanGetTypeID(void);
LARKSPAN_CF_EXPORT CFTypeID CFNumberGetTypeID(void);
LARKSPAN_CF_EXPORT CFTypeID CFStringGetTypeID(void);
LARKSPAN_CF_EXPORT CFTypeID CFDataGetTypeID(void);
LARKSPAN_CF_EXPORT CFTypeID CFDateGetTypeID(void);
LARKSPAN_CF_EXPORT CFTypeID CFArrayGetTypeID(void);
LARKSPAN_CF_EXPORT CFTypeID CFDictionaryGetTypeID(void);
LARKSPAN_CF_EXPORT void CFRelease(CFTypeRef value);

LARKSPAN_CF_EXPORT CFTypeRef CFNumberCreate(CFTypeRef allocator, CFIndex numberType, const void *value);
LARKSPAN_CF_EXPORT Boolean CFNumberGetValue(CFTypeRef number, CFIndex numberType, void *value);
LARKSPAN_CF_EXPORT CFIndex CFNumberGetType(CFTypeRef number);

LARKSPAN_CF_EXPORT CFTypeRef CFStringCreateWithBytes(CFTypeRef allocator, const uint8_t *bytes, CFIndex byteCount,
                                                CFStringEncoding encoding, Boolean isExternalRepresentation);
LARKSPAN_CF_EXPORT CFIndex CFStringGetBytes(CFTypeRef string, CFRange range, CFStringEncoding encoding, uint8_t lossByte,
                                       Boolean isExternalRepresentation, uint8_t *buffer, CFIndex maxBufferLength,
                                       CFIndex *usedBufferLength);
LARKSPAN_CF_EXPORT CFIndex CFStringGetLength(CFTypeRef string);

LARKSPAN_CF_EXPORT CFTypeRef CFDataCreate(CFTypeRef allocator, const uint8_t *bytes, CFIndex length);
LARKSPAN_CF_EXPORT CFIndex CFDataGetLength(CFTypeRef data);
LARKSPAN_CF_EXPORT void CFDataGetBytes(CFTypeRef data, CFRange range, uint8_t *buffer);

LARKSPAN_CF_EXPORT CFTypeRef CFDateCreate(CFTypeRef allocator, CFAbsoluteTime at);
LARKSPAN_CF_EXPORT CFAbsoluteTime CFDateGetAbsoluteTime(CFTypeRef date);
LARKSPAN_CF_EXPORT CFGregorianDate CFAbsoluteTimeGetGregorianDate(CFAbsoluteTime at, CFTimeZoneRef zone);
LARKSPAN_CF_EXPORT CFAbsoluteTime CFGregorianDateGetAbsoluteTime(CFGregorianDate date, CFTimeZoneRef zone);
LARKSPAN_CF_EXPORT CFTimeZoneRef CFTimeZoneCreateWithTimeIntervalFromGMT(CFTypeRef allocator, CFTimeInterval offset);
LARKSPAN_CF_EXPORT CFTimeZoneRef CFTimeZoneCreateWithName(CFTypeRef allocator, CFTypeRef name, Boolean tryAbbreviations);

LARKSPAN_CF_EXPORT void *CFDictionaryCreateMutable(CFTypeRef allocator, CFIndex capacity, const void *keyCallBacks,
                                              const void *valueCallBacks);
LARKSPAN_CF_EXPORT CFTypeRef CFDictionaryGetValue(CFTypeRef dictionary, CFTypeRef key);
LARKSPAN_CF_EXPORT void CFDictionarySetValue(void *dictionary, CFTypeRef key, CFTypeRef value);
LARKSPAN_CF_EXPORT CFIndex CFDictionaryGetCount(CFTypeRef dictionary);
LARKSPAN_CF_EXPORT void CFDictionaryGetKeysAndValues(CFTypeRef dictionary, CFTypeRef *keys, CFTypeRef *values);

LARKSPAN_CF_EXPORT void *CFArrayCreateMutable(CFTypeRef allocator, CFIndex capacity, const void *callBacks);
LARKSPAN_CF_EXPORT void CFArrayAppendValue(void *array, CFTypeRef value);
LARKSPAN_CF_EXPORT CFTypeRef CFArrayGetValueAtIndex(CFTypeRef array, CFIndex index);
LARKSPAN_CF_EXPORT CFIndex CFArrayGetCount(CFTypeRef array);

LARKSPAN_CF_EXPORT CFTypeRef CFPropertyListCreateData(CFTypeRef allocator, CFTypeRef propertyList, CFIndex format,
                                                 CFOptionFlags options, CFTypeRef *error);
LARKSPAN_CF_EXPORT CFTypeRef CFPropertyListCreateWithData(CFTypeRef allocator, CFTypeRef data, CFOptionFlags options,
                                                     CFIndex *format, CFTypeRef *error);

} // extern "C"
