#!/bin/sh
# Sets up the machine, builds the whole tree with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test. Any sanitizer report fails
# the test that produced it. Then every fuzzing harness runs for a short
# while on its seed corpus (fuzz/run.sh, FUZZ_SECONDS each, 20 by default);
# a crash, a sanitizer report, a time-out or running out of memory fails it.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

BUILD_DIR="${BUILD_DIR:-build/test}"
JOBS="${JOBS:-$(nproc)}"

cmake -S . -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DLARKSPAN_SANITIZE=ON \
  -DLARKSPAN_BUILD_TESTS=ON
cmake --build "$BUILD_DIR" --parallel "$JOBS"
ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$JOBS" ${CTEST_ARGS:-} "$@"

FUZZ_PARALLEL="${FUZZ_PARALLEL:-$(( JOBS > 1 ? JOBS / 2 : 1 ))}" JOBS="$JOBS" \
  ./fuzz/run.sh "${FUZZ_SECONDS:-20}"
