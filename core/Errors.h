#pragma once

#include <QString>

// The program's errors are std::runtime_error holding UTF-8 text: the text
// the error box and the log show, so it is written for the user.
[[noreturn]] void throwError(const QString &text);

// "can not create <target>. <reason>": a file or folder that could not be
// made, with what the system said.
[[noreturn]] void throwCannotCreate(const QString &target, const QString &reason);

// What a worker throws to stop when its dialog has been cancelled, and its
// run() catches: the worker protocol's one cancel value.
inline constexpr int kWorkerCancelled = -1;
