#pragma once

#include <QString>

// The device library ("iTunesMobileDevice", the AMDevice functions) and the
// CoreFoundation library are never linked: both are shared libraries loaded at
// run time, once per process and never unloaded, and each of their functions
// is looked up by its exported name at the moment it is called. There is no
// table of entry points.
//
// Where they are looked for. Each of the two install folders is named by an
// environment variable; when that variable is unset or empty, the folder
// beside the executable is used instead (the other folder is unaffected):
//
//   LARKSPAN_MOBILE_DEVICE_DIR        else <executable dir>/Apple/Mobile Device Support
//   LARKSPAN_APPLICATION_SUPPORT_DIR  else <executable dir>/Apple/Apple Application Support
//
// A value that is set is used exactly as written. The library <Name> is loaded
// from the first of these that loads:
//
//   <device folder>/lib<Name>.so
//   <support folder>/lib<Name>.so
//   lib<Name>.so through the dynamic loader's own search (LD_LIBRARY_PATH as it
//   was when the process started, then the system's library folders)
//
// The dynamic loader reads LD_LIBRARY_PATH only at process start, so the two
// folders are searched by building the file paths here. Each call of the
// loader also puts both folders in front of PATH (device folder, support
// folder, then the old value, separated by ':'), so that programs the system
// starts find what the device software installs there; the current directory
// never slips in as an empty PATH entry.

// Environment variables that name the two install folders.
inline constexpr char kMobileDeviceDirVariable[] = "LARKSPAN_MOBILE_DEVICE_DIR";
inline constexpr char kApplicationSupportDirVariable[] = "LARKSPAN_APPLICATION_SUPPORT_DIR";

// The install folder named by the environment variable, as written there; a
// null string when the variable is unset.
QString readInstallDir(const char *variableName);

// Loads the device library, then CoreFoundation (not tried when the first one
// fails). True when both are loaded; otherwise false with the reason in error,
// which is left untouched on success. A library loaded by an earlier call is
// kept, so a second call after a partial failure only loads what is missing.
// Never throws.
bool mobiledevice_load_frameworks(QString &error);

// True when both libraries are loaded (the device library is tested first).
bool mobiledevice_frameworks_loaded();

// The address of the named export of the device library (for a data symbol,
// the address of the object); null when the name is absent, or null, or the
// library is not loaded. Safe on any thread.
void *amd_resolve(const char *name);

// The same in the CoreFoundation library.
void *cf_resolve(const char *name);
