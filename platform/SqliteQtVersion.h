#pragma once

// Interface version of the SQLite wrapper; the program runs only against 5.
int sqlite_qt_version();
