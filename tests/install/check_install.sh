#!/bin/sh
# Installs the build into a staging folder and checks what a desktop reads
# from it: the menu entry is valid, and the program and the icon it names are
# installed (the icon at every size of the theme, each a PNG of its size).
#
# usage: check_install.sh <cmake> <build folder> <desktop-file-validate>
set -eu

cmake_bin=$1
build=$2
validate=$3
sizes="16 22 24 32 48 64 128 256"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

command -v "$validate" >/dev/null 2>&1 ||
  fail "desktop-file-validate is missing; scripts/install-deps.sh installs it"

stage=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-install.XXXXXXXX")
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" "$cmake_bin" --install "$build" --prefix /usr >"$stage/install.log" 2>&1 || {
  cat "$stage/install.log" >&2
  fail "installing the build failed"
}
root="$stage/usr"

set -- "$root"/share/applications/*.desktop
[ "$#" -eq 1 ] && [ -f "$1" ] || fail "expected one desktop entry in share/applications, found: $*"
entry=$1

"$validate" "$entry" || fail "$entry does not validate"

# The value of a key of the [Desktop Entry] group, as written.
value() {
  awk -v key="$1" '
    /^\[/ { group = $0; next }
    group == "[Desktop Entry]" && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
  ' "$entry"
}

for key in Name Comment Icon Categories Exec; do
  [ -n "$(value "$key")" ] || fail "the entry has no $key"
done

# The program: the first word of Exec (and TryExec, when there is one), a
# name looked up in the installed bin/ or an absolute path under the prefix.
installed_program() {
  case "$1" in
    /*) echo "$stage$1" ;;
    */*) fail "program path $1 is neither a bare name nor absolute" ;;
    *) echo "$root/bin/$1" ;;
  esac
}
exec_word=$(value Exec | awk '{ print $1 }')
program=$(installed_program "$exec_word")
[ -f "$program" ] && [ -x "$program" ] || fail "Exec names $exec_word, which is not an installed program"
try_exec=$(value TryExec)
if [ -n "$try_exec" ]; then
  [ -x "$(installed_program "$try_exec")" ] || fail "TryExec names $try_exec, which is not installed"
fi

# The icon: a theme name (no path, no extension), found in the hicolor theme
# at every size.
icon=$(value Icon)
case "$icon" in
  */* | *.png | *.svg | *.xpm) fail "Icon should be a theme name, not $icon" ;;
esac
be32() {
  od -An -tu1 -j "$2" -N 4 "$1" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }'
}
for size in $sizes; do
  png="$root/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  [ -f "$png" ] || fail "no $size x $size icon named $icon"
  signature=$(od -An -tx1 -N 8 "$png" | tr -d ' \n')
  [ "$signature" = "89504e470d0a1a0a" ] || fail "$png is not a PNG"
  width=$(be32 "$png" 16)
  height=$(be32 "$png" 20)
  [ "$width" = "$size" ] && [ "$height" = "$size" ] ||
    fail "$png is $width x $height, not $size x $size"
done

echo "installed entry $(basename "$entry"): program $exec_word, icon $icon at sizes $sizes"
