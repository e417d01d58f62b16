#pragma once

#include <QByteArray>
#include <QString>

// Damages the page of the SQLite file at path that holds needle: its first
// bytes are overwritten with a value no B-tree page starts with, so that
// SQLite reports the file as malformed once a read reaches that page. The
// page as it was goes into *page. False when the file cannot be opened or
// holds no needle.
bool damagePageHolding(const QString &path, const QByteArray &needle, QByteArray *page);

// The smallest n of the texts "<prefix>n" in bytes (n of five digits), or
// fallback when there is none.
int smallestNumbered(const QByteArray &bytes, const QByteArray &prefix, int fallback);
