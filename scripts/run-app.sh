#!/bin/sh
# Sets up the machine, builds the application and starts it.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

BUILD_DIR="${BUILD_DIR:-build/app}"

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target larkspan
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No desktop session: start on a virtual X server so the program still runs.
  echo "No display found; starting on a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a -s "-screen 0 1280x900x24" "$BUILD_DIR/larkspan" "$@"
fi
exec "$BUILD_DIR/larkspan" "$@"
