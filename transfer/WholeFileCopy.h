#pragma once

#include <QString>

// Copies the file at from to a new file at to, in full and synced to the
// disk, or leaves nothing at to. Fails (false) when to exists already.
bool copyWholeFile(const QString &from, const QString &to);
