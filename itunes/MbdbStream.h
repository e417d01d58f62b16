#pragma once

#include <QIODevice>

#include "MbdbString.h"

// Big-endian field access on a device, as Manifest.mbdb stores its fields.
// Every function throws std::runtime_error when fewer bytes than needed can
// be read or written.

quint8 readUInt8(QIODevice &device);
quint16 readBeUInt16(QIODevice &device);
quint32 readBeUInt32(QIODevice &device);
quint64 readBeUInt64(QIODevice &device);
// The length is checked against what is left of a random-access device
// before anything is read.
MbdbString readMbdbString(QIODevice &device);

void writeUInt8(QIODevice &device, quint8 value);
void writeBeUInt16(QIODevice &device, quint16 value);
void writeBeUInt32(QIODevice &device, quint32 value);
void writeBeUInt64(QIODevice &device, quint64 value);
// Writes the length as held and, for lengths 1..0xFFFE, exactly that many
// bytes; a string whose bytes disagree with its length is refused.
void writeMbdbString(QIODevice &device, const MbdbString &string);
