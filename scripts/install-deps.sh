#!/bin/sh
# Installs every package the build, the tests and the application need on
# Debian 12. Safe to run any number of times: apt-get only adds what is missing.
set -eu

PACKAGES="
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-l10n-tools libqt6printsupport6 libqt6network6
  qt6-qpa-plugins libgl-dev
  libsqlite3-dev sqlite3
  libplist-dev
  libmbedtls-dev
  libarchive-dev
  libimobiledevice-dev libusbmuxd-dev libimobiledevice-utils usbmuxd
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev llvm
  xvfb xauth
  desktop-file-utils
  fonts-dejavu-core
  python3
"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

if [ -z "$missing" ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" != "0" ]; then
  SUDO="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq $missing
