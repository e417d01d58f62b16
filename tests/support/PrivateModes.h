#pragma once

#include <QString>

#include <string>

// The entries of a folder (the folder itself included, as ".") that are not
// the user's alone: a folder whose mode is not 0700, a file whose mode is
// not 0600. One line each, "<octal mode> <relative path>", sorted; links are
// not followed and not listed. Empty when everything is private (a text, so
// that a failed comparison shows it).
std::string notPrivateEntries(const QString &root);
