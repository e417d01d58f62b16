#pragma once

#include <QDir>

// The application-data folder as the device records use it, created with its
// missing parents when absent (a failure shows later, where files are written).
QDir deviceAppDataDir();
