#!/bin/sh
# Sets up the machine, builds the whole tree with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test. Any sanitizer report fails
# the test that produced it. Then the threaded units (the readers, the
# backup, the merge, the export writers, the device notification threads and
# the connection checks) run once more in a tree built with ThreadSanitizer,
# where a race report fails the test. Then every fuzzing harness runs for a
# short while on its seed corpus (fuzz/run.sh, FUZZ_SECONDS each, 20 by
# default); a crash, a sanitizer report, a time-out or running out of memory
# fails it.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

BUILD_DIR="${BUILD_DIR:-build/test}"
TSAN_BUILD_DIR="${TSAN_BUILD_DIR:-build/tsan}"
JOBS="${JOBS:-$(nproc)}"

cmake -S . -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DLARKSPAN_SANITIZE=ON \
  -DLARKSPAN_BUILD_TESTS=ON
cmake --build "$BUILD_DIR" --parallel "$JOBS"
ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$JOBS" ${CTEST_ARGS:-} "$@"

# The test suites whose units run threads of their own or share a
# connection between threads.
THREADED='^(CursorAheadTest|ParallelSlices|Sqlite3HolderTest|Sqlite3DBTest|Sqlite3ReuseTest'
THREADED="$THREADED|IOS6MessageDbReadTest|DeviceReadTest|AttachmentReadTest|IOS5MessageDb[A-Za-z]*|MessagesTest"
THREADED="$THREADED|BackupSMSThreadTest|ExportMessagesDbTest|FingerprintsAhead"
THREADED="$THREADED|IOS6RestoreMessagesThreadTest|BackupFolderUpdateTest"
THREADED="$THREADED|ExportSMSThreadTest|NotificationThreadTest|DeviceNotificationTest)\\."
cmake -S . -B "$TSAN_BUILD_DIR" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DLARKSPAN_TSAN=ON \
  -DLARKSPAN_BUILD_TESTS=ON
cmake --build "$TSAN_BUILD_DIR" --parallel "$JOBS" --target larkspan_tests
ctest --test-dir "$TSAN_BUILD_DIR" --output-on-failure --parallel "$JOBS" -R "$THREADED"

FUZZ_PARALLEL="${FUZZ_PARALLEL:-$(( JOBS > 1 ? JOBS / 2 : 1 ))}" JOBS="$JOBS" \
  ./fuzz/run.sh "${FUZZ_SECONDS:-20}"
