#!/bin/sh
# Builds the libFuzzer harnesses (with clang, in a build folder of their own)
# and runs each for the given number of seconds on a copy of its seed corpus,
# so the corpus in the repository stays as it is. A crash, a sanitizer report,
# a time-out or running out of memory fails the run; the input that caused it
# is kept in the run's artifact folder and named in the output.
#
#   fuzz/run.sh <seconds> [harness ...]
#
# FUZZ_BUILD_DIR names the build folder (build/fuzz), JOBS the build's
# parallelism, FUZZ_PARALLEL how many harnesses run at once (1), FUZZ_OUT a
# folder where each harness's log and any failing input are kept (otherwise a
# temporary folder, removed when all passed).
set -eu
cd "$(dirname "$0")/.."

if [ $# -lt 1 ]; then
  echo "usage: $0 <seconds> [harness ...]" >&2
  exit 2
fi
SECONDS_EACH="$1"
shift

BUILD_DIR="${FUZZ_BUILD_DIR:-build/fuzz}"
JOBS="${JOBS:-$(nproc)}"
PARALLEL="${FUZZ_PARALLEL:-1}"

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug \
    "-DCMAKE_C_FLAGS_DEBUG=-O1 -g" "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g" \
    -DLARKSPAN_BUILD_FUZZ=ON
fi
cmake --build "$BUILD_DIR" --parallel "$JOBS" --target fuzz_all

HARNESSES="$*"
if [ -z "$HARNESSES" ]; then
  HARNESSES=$(cd fuzz/corpus && ls)
fi

if [ -n "${FUZZ_OUT:-}" ]; then
  OUT="$FUZZ_OUT"
  mkdir -p "$OUT"
  KEEP=1
else
  OUT=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-fuzz-run.XXXXXX")
  KEEP=0
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:allocator_may_return_null=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0}"
if command -v llvm-symbolizer >/dev/null 2>&1; then
  export ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer)"
fi

# One harness: its corpus copied to a work folder, then libFuzzer for the
# time given. The exit status is libFuzzer's.
run_one() {
  name="$1"
  work="$OUT/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"$name"/* "$work/corpus/"
  "$BUILD_DIR/fuzz/$name" "$work/corpus" \
    -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2560 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1
}

failed=""
running=0
pids=""
for name in $HARNESSES; do
  if [ ! -x "$BUILD_DIR/fuzz/$name" ]; then
    echo "no harness $name" >&2
    exit 2
  fi
  ( run_one "$name" && echo "ok $name" > "$OUT/$name.status" || echo "FAILED $name" > "$OUT/$name.status" ) &
  running=$((running + 1))
  if [ "$running" -ge "$PARALLEL" ]; then
    wait
    running=0
  fi
done
wait

for name in $HARNESSES; do
  status=$(cat "$OUT/$name.status" 2>/dev/null || echo "FAILED $name")
  stats=$(grep -E '^stat::number_of_executed_units|^#[0-9]+.*(DONE|cov:)' "$OUT/$name/log" | tail -1 || true)
  echo "$status: $stats"
  case "$status" in
    ok*) ;;
    *)
      failed="$failed $name"
      tail -n 60 "$OUT/$name/log" >&2
      ls "$OUT/$name/artifacts" >&2 || true
      ;;
  esac
done

if [ -n "$failed" ]; then
  echo "fuzzing failed:$failed (logs and inputs in $OUT)" >&2
  exit 1
fi
if [ "$KEEP" = 0 ]; then
  rm -rf "$OUT"
fi
echo "every harness ran ${SECONDS_EACH}s without a fault"
