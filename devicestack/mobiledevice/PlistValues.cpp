#include "PlistValues.h"

#include "CoreFoundationExports.h"

#include <cstdlib>
#include <limits>
#include <vector>

CFTypeRef valueFromPlist(plist_t node)
{
    if (!node)
        return nullptr;
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    if (!bytes)
        return nullptr;
    CFTypeRef data = CFDataCreate(nullptr, reinterpret_cast<const uint8_t *>(bytes), CFIndex(length));
    plist_to_bin_free(bytes);
    if (!data)
        return nullptr;
    CFTypeRef value = CFPropertyListCreateWithData(nullptr, data, 0, nullptr, nullptr);
    CFRelease(data);
    return value;
}

plist_t plistFromValue(CFTypeRef value)
{
    if (!value)
        return nullptr;
    CFTypeRef data = CFPropertyListCreateData(nullptr, value, kCFPropertyListFormatBinary, 0, nullptr);
    if (!data)
        return nullptr;
    const CFIndex length = CFDataGetLength(data);
    plist_t node = nullptr;
    if (length > 0 && uint64_t(length) <= std::numeric_limits<uint32_t>::max()) {
        std::vector<uint8_t> bytes(static_cast<size_t>(length));
        CFDataGetBytes(data, CFRange{0, length}, bytes.data());
        plist_from_bin(reinterpret_cast<const char *>(bytes.data()), uint32_t(length), &node);
    }
    CFRelease(data);
    return node;
}

bool textOfValue(CFTypeRef value, std::string &text)
{
    if (!value || CFGetTypeID(value) != CFStringGetTypeID())
        return false;
    const CFIndex length = CFStringGetLength(value);
    CFIndex needed = 0;
    CFStringGetBytes(value, CFRange{0, length}, kCFEncodingUtf8, '?', false, nullptr, 0, &needed);
    std::string bytes(size_t(needed), '\0');
    CFIndex used = 0;
    CFStringGetBytes(value, CFRange{0, length}, kCFEncodingUtf8, '?', false, reinterpret_cast<uint8_t *>(bytes.data()),
                     needed, &used);
    bytes.resize(size_t(used));
    text = bytes;
    return true;
}
