#!/bin/sh
# Builds the sqlite3 shell whose ".recover" the carving benchmark compares
# the scans with, the way a user gets it: the source of the SQLite version
# installed here, from Debian's source package of that version, built with
# its page table (the dbpage virtual table, which ".recover" reads) enabled.
# Run by hand before bench_carving; never by CI or the test command.
#
#   bench/build-recover-shell.sh [work folder]      (default build/recover-shell)
#
# Prints the shell's path; give it to bench_carving as RECOVER_SHELL. Needs
# root for apt-get (deb-src is enabled in a private sources list only).
set -eu
cd "$(dirname "$0")/.."
WORK="${1:-build/recover-shell}"
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)

VERSION=$(dpkg-query -W -f='${Version}' libsqlite3-0)
echo "installed SQLite: $VERSION" >&2

# Debian's own archive, for sources only, without touching the system's lists.
mkdir -p "$WORK/apt/lists/partial" "$WORK/apt/parts"
: > "$WORK/apt/sources.list"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  sed -n 's/^Types: deb$/Types: deb-src/; p' "$f" >> "$WORK/apt/sources.list.sources.tmp"
done
if [ -s "$WORK/apt/sources.list.sources.tmp" ]; then
  mv "$WORK/apt/sources.list.sources.tmp" "$WORK/apt/parts/debian.sources"
fi
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > "$WORK/apt/sources.list"
fi
APT="-o Dir::Etc::sourcelist=$WORK/apt/sources.list -o Dir::Etc::sourceparts=$WORK/apt/parts -o Dir::State::Lists=$WORK/apt/lists"

command -v dpkg-source >/dev/null 2>&1 || apt-get install -y --no-install-recommends dpkg-dev >&2
command -v tclsh >/dev/null 2>&1 || apt-get install -y --no-install-recommends tcl >&2
# shellcheck disable=SC2086
apt-get $APT update >&2
cd "$WORK"
if [ ! -d src ]; then
  # shellcheck disable=SC2086
  apt-get $APT source "sqlite3=$VERSION" >&2
  mv "$(find . -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)" src
fi
cd src
if [ ! -f build/sqlite3 ]; then
  mkdir -p build
  cd build
  CFLAGS="-O2 -DSQLITE_ENABLE_DBPAGE_VTAB" ../configure --disable-tcl --disable-readline >&2
  make sqlite3 >&2
  cd ..
fi
echo "$WORK/src/build/sqlite3"
