#pragma once

class QApplication;

// The interface version of the SQLite wrapper the program is built for.
inline constexpr int kSqliteWrapperVersion = 5;

// Runs the program in an application object that has just been built: installs
// the English translation, refuses a SQLite wrapper of another interface
// version (error box, exit code 1, nothing else started: no folder, no log, no
// window), starts the log, loads the device framework, shows the main window
// (warning when the framework is missing), converts local databases of the
// old single-file format, and runs the event loop. Returns the exit code: the
// event loop's result after a normal run.
int runApplication(QApplication &app, int wrapperVersion);
