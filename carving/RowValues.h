#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The values of carved and decoded rows as the record fields take them.
// Rows come from damaged and foreign bytes, so a value may have any type.

// A number as a 32-bit integer, saturated at the ends of the range (a huge
// stored value never passes for a small flag); NULL, text and blobs are 0.
int rowInt(const QVariant &value);
// The same in 64 bits.
qint64 rowInt64(const QVariant &value);
// The text form; NULL is an empty text.
QString rowText(const QVariant &value);
// The bytes of a blob, the UTF-8 of a text; empty otherwise.
QByteArray rowBytes(const QVariant &value);
// n saturated to the 32-bit range.
int saturatedInt(qint64 n);
