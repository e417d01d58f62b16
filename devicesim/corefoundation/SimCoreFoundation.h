#pragma once

// The functions and objects that the stand-in CoreFoundation library exports,
// with C linkage. The types come from the program's own description of the
// calling interface, so that a mismatch between the two fails to compile.

#include "CoreFoundationCalls.h"

#define SIM_CF_EXPORT __attribute__((visibility("default")))

extern "C" {

// Opaque to callers: only the addresses of the three objects matter.
struct SimCallBacks
{
    CFIndex version;
    const char *name;
};

SIM_CF_EXPORT extern const CFTypeRef kCFBooleanTrue;
SIM_CF_EXPORT extern const CFTypeRef kCFBooleanFalse;
SIM_CF_EXPORT extern const SimCallBacks kCFTypeArrayCallBacks;
SIM_CF_EXPORT extern const SimCallBacks kCFTypeDictionaryKeyCallBacks;
SIM_CF_EXPORT extern const SimCallBacks kCFTypeDictionaryValueCallBacks;

SIM_CF_EXPORT CFTypeID CFGetTypeID(CFTypeRef value);
SIM_CF_EXPORT CFTypeID CFNullGetTypeID(void);
SIM_CF_EXPORT CFTypeID CFBooleanGetTypeID(void);
SIM_CF_EXPORT CFTypeID CFNumberGetTypeID(void);
SIM_CF_EXPORT CFTypeID CFStringGetTypeID(void);
SIM_CF_EXPORT CFTypeID CFDataGetTypeID(void);
SIM_CF_EXPORT CFTypeID CFDateGetTypeID(void);
SIM_CF_EXPORT CFTypeID CFArrayGetTypeID(void);
SIM_CF_EXPORT CFTypeID CFDictionaryGetTypeID(void);
SIM_CF_EXPORT void CFRelease(CFTypeRef value);

SIM_CF_EXPORT CFTypeRef CFNumberCreate(CFTypeRef allocator, CFIndex numberType, const void *value);
SIM_CF_EXPORT Boolean CFNumberGetValue(CFTypeRef number, CFIndex numberType, void *value);
SIM_CF_EXPORT CFIndex CFNumberGetType(CFTypeRef number);

SIM_CF_EXPORT CFTypeRef CFStringCreateWithBytes(CFTypeRef allocator, const uint8_t *bytes, CFIndex byteCount,
                                                CFStringEncoding encoding, Boolean isExternalRepresentation);
SIM_CF_EXPORT CFIndex CFStringGetBytes(CFTypeRef string, CFRange range, CFStringEncoding encoding, uint8_t lossByte,
                                       Boolean isExternalRepresentation, uint8_t *buffer, CFIndex maxBufferLength,
                                       CFIndex *usedBufferLength);
SIM_CF_EXPORT CFIndex CFStringGetLength(CFTypeRef string);

SIM_CF_EXPORT CFTypeRef CFDataCreate(CFTypeRef allocator, const uint8_t *bytes, CFIndex length);
SIM_CF_EXPORT CFIndex CFDataGetLength(CFTypeRef data);
SIM_CF_EXPORT void CFDataGetBytes(CFTypeRef data, CFRange range, uint8_t *buffer);

SIM_CF_EXPORT CFTypeRef CFDateCreate(CFTypeRef allocator, CFAbsoluteTime at);
SIM_CF_EXPORT CFAbsoluteTime CFDateGetAbsoluteTime(CFTypeRef date);
SIM_CF_EXPORT CFGregorianDate CFAbsoluteTimeGetGregorianDate(CFAbsoluteTime at, CFTimeZoneRef zone);
SIM_CF_EXPORT CFAbsoluteTime CFGregorianDateGetAbsoluteTime(CFGregorianDate date, CFTimeZoneRef zone);
SIM_CF_EXPORT CFTimeZoneRef CFTimeZoneCreateWithTimeIntervalFromGMT(CFTypeRef allocator, CFTimeInterval offset);
SIM_CF_EXPORT CFTimeZoneRef CFTimeZoneCreateWithName(CFTypeRef allocator, CFTypeRef name, Boolean tryAbbreviations);

SIM_CF_EXPORT void *CFDictionaryCreateMutable(CFTypeRef allocator, CFIndex capacity, const void *keyCallBacks,
                                              const void *valueCallBacks);
SIM_CF_EXPORT CFTypeRef CFDictionaryGetValue(CFTypeRef dictionary, CFTypeRef key);
SIM_CF_EXPORT void CFDictionarySetValue(void *dictionary, CFTypeRef key, CFTypeRef value);
SIM_CF_EXPORT CFIndex CFDictionaryGetCount(CFTypeRef dictionary);
SIM_CF_EXPORT void CFDictionaryGetKeysAndValues(CFTypeRef dictionary, CFTypeRef *keys, CFTypeRef *values);

SIM_CF_EXPORT void *CFArrayCreateMutable(CFTypeRef allocator, CFIndex capacity, const void *callBacks);
SIM_CF_EXPORT void CFArrayAppendValue(void *array, CFTypeRef value);
SIM_CF_EXPORT CFTypeRef CFArrayGetValueAtIndex(CFTypeRef array, CFIndex index);
SIM_CF_EXPORT CFIndex CFArrayGetCount(CFTypeRef array);

SIM_CF_EXPORT CFTypeRef CFPropertyListCreateData(CFTypeRef allocator, CFTypeRef propertyList, CFIndex format,
                                                 CFOptionFlags options, CFTypeRef *error);
SIM_CF_EXPORT CFTypeRef CFPropertyListCreateWithData(CFTypeRef allocator, CFTypeRef data, CFOptionFlags options,
                                                     CFIndex *format, CFTypeRef *error);

} // extern "C"
