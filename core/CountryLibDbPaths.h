#pragma once

#include <QString>

// The folder that the country library is installed into and opened from:
// the application-data folder.
QString countryLibDbFolder();
