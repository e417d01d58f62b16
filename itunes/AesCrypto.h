#pragma once

#include <QByteArray>

#include <mbedtls/aes.h>

// The AES operations of encrypted backups. Contexts are set up by the caller
// (mbedtls_aes_init) and released by it (mbedtls_aes_free), one per file.

// RFC 3394 key unwrap with a 256-bit key-encryption key. Empty when the
// integrity check fails, when kek is not 32 bytes, or when wrapped is not a
// whole number of 64-bit words holding at least two words of key.
QByteArray aesKeyUnwrap(const QByteArray &kek, const QByteArray &wrapped);

// Prepares ctx for decryption with a 256-bit key. Throws std::runtime_error
// when key is not 32 bytes.
void aesSetDecryptKey(mbedtls_aes_context &ctx, const QByteArray &key);

// AES-CBC decryption of length bytes. iv is the chaining value: it is
// updated in place to the last ciphertext block, so that consecutive calls
// decrypt one stream. Empty (and iv unchanged) when length is not a positive
// multiple of 16. No padding is removed.
QByteArray aesCbcDecrypt(mbedtls_aes_context &ctx, const char *data, int length, unsigned char iv[16]);
// The same into a caller's buffer of at least length bytes, for loops that
// must not allocate per block; out may be data itself. False, with nothing
// written and iv unchanged, when length is not a positive multiple of 16.
// Decrypts several blocks at once with the processor's AES instructions
// where it has them.
bool aesCbcDecrypt(mbedtls_aes_context &ctx, const char *data, int length, unsigned char iv[16], char *out);
