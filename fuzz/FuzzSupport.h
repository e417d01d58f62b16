#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every harness shares. fuzzInit, called from LLVMFuzzerInitialize,
// gives the process a home folder of its own (removed at exit) with the
// environment the tests use, and the Qt application object. The harnesses
// never touch anything outside that folder.
void fuzzInit(int *argc, char ***argv);

// The private folder of the process, and a scratch folder inside it that
// fuzzScratch() empties and recreates for each input.
QString fuzzHome();
QString fuzzScratch();

QByteArray fuzzBytes(const uint8_t *data, size_t size);
void fuzzWriteFile(const QString &path, const QByteArray &bytes);

// A property the harness checks does not hold: reports it and aborts, which
// libFuzzer records as a crash with the input that caused it.
[[noreturn]] void fuzzFail(const char *what, const QString &detail = QString());
#define FUZZ_CHECK(condition, ...)                                                                          \
    do {                                                                                                    \
        if (!(condition))                                                                                   \
            fuzzFail(#condition, ##__VA_ARGS__);                                                            \
    } while (0)
