#!/bin/sh
# Sets up the machine, builds the whole tree with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test. Any sanitizer report fails
# the test that produced it.
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
