#pragma once

#include <QByteArray>

// The RC4 stream cipher: the key schedules a 256-byte state afresh for each
// call, and the keystream from its start is XORed with data. Enciphering and
// deciphering are the same operation. An empty key gives the data unchanged
// (RC4 has no keystream without a key).
QByteArray rc4(const QByteArray &key, const QByteArray &data);
