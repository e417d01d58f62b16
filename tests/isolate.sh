#!/bin/sh
# Runs one test command in an environment of its own: a fresh HOME and
# TMPDIR, UTC, a UTF-8 C locale and Qt's offscreen platform. Sanitizer
# reports end the test with a failure.
here="$(cd "$(dirname "$0")" && pwd)"
base="$(mktemp -d "${TMPDIR:-/tmp}/larkspan-test.XXXXXXXX")" || exit 1
mkdir -p "$base/home" "$base/tmp" "$base/run"
chmod 700 "$base/run"

export HOME="$base/home"
export TMPDIR="$base/tmp"
export XDG_RUNTIME_DIR="$base/run"
export XDG_CONFIG_HOME="$base/home/.config"
export XDG_DATA_HOME="$base/home/.local/share"
export XDG_CACHE_HOME="$base/home/.cache"
export TZ=UTC
export LANG=C.UTF-8
export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen
# intercept_tls_get_addr=0: the leak checker's walk of dynamic TLS crashes
# on stale entries left by plugins that glibc loaded and unloaded (a known
# sanitizer fault); without it, TLS blocks are simply not tracked.
export ASAN_OPTIONS="detect_leaks=1:intercept_tls_get_addr=0:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# In the ThreadSanitizer tree: a report fails the test (exit code 66).
export TSAN_OPTIONS="suppressions=$here/tsan.supp:second_deadlock_stack=1:history_size=4${TSAN_OPTIONS:+:$TSAN_OPTIONS}"

"$@"
rc=$?
rm -rf "$base"
exit $rc
