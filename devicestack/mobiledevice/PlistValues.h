#pragma once

#include <string>

#include <plist/plist.h>

#include "CoreFoundationCalls.h"

// Values cross between libimobiledevice (libplist nodes) and the program
// (CoreFoundation values of our library) as binary property lists, which the
// value library reads behind its bound checks.

// A new value the caller owns; null when the node has no value form.
CFTypeRef valueFromPlist(plist_t node);

// A new node the caller owns; null for a null value or one with no
// property-list form.
plist_t plistFromValue(CFTypeRef value);

// The UTF-8 text of a string value; false for null or anything else.
bool textOfValue(CFTypeRef value, std::string &text);
