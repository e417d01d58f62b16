#!/bin/sh
# Installs the build into a staging folder and checks that the device support
# lands where the program's loader looks by default: beside the installed
# program, in "Apple/Mobile Device Support".
#
# usage: check_install.sh <cmake> <build folder>
set -eu

cmake_bin=$1
build=$2

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

stage=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-device-install.XXXXXXXX")
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" "$cmake_bin" --install "$build" --prefix /usr >"$stage/install.log" 2>&1 || {
  cat "$stage/install.log" >&2
  fail "installing the build failed"
}
[ -x "$stage/usr/bin/larkspan" ] || fail "the program is not installed in bin/"
folder="$stage/usr/bin/Apple/Mobile Device Support"
for library in libiTunesMobileDevice.so libCoreFoundation.so; do
  [ -f "$folder/$library" ] || fail "$library is not installed beside the program"
done
[ -x "$folder/AppleMobileBackup" ] || fail "the backup tool is not installed beside the program"
echo "device support installed in bin/Apple/Mobile Device Support"
