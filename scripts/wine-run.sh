#!/bin/sh
# Runs a Windows program under Wine, as the Windows test presets' emulator: a 64-bit program
# with wine64 in build/win64/wineprefix, a 32-bit one with Wine's 32-bit loader in the 32-bit
# prefix build/win32/wineprefix (WINEPREFIX, when set, names the prefix of both); quiet, and
# without the .NET and HTML runtimes a fresh prefix would offer to install. A first argument
# --win32 picks the 32-bit side for a program that is no file (scripts/wine-run.sh --win32
# wineboot --init makes the 32-bit prefix).
#
# Wine keeps a server and a few system programs running beside the programs it runs; they stay
# up five minutes after the last program ends, so that the many short runs of a test session do
# not each start them (test discovery would time out). The program's output goes through files:
# a system program started by this run keeps the streams it inherited open, and a caller reading
# a pipe (ctest) would wait for it to exit.
set -eu
# Debian keeps Wine's loaders out of PATH (the wine package adds only a wrapper).
export PATH="$PATH:/usr/lib/wine"
here=$(cd "$(dirname "$0")/.." && pwd)

# The machine field of the PE header: 014c for i386 programs.
machine() {
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
win32=false
if [ "${1:-}" = --win32 ]; then
  win32=true
  shift
elif [ -f "$1" ] && [ "$(machine "$1")" = 014c ]; then
  win32=true
fi
if $win32; then
  loader=/usr/lib/wine/wine
  export WINEARCH=win32
  export WINEPREFIX="${WINEPREFIX:-$here/build/win32/wineprefix}"
else
  loader=wine64
  export WINEPREFIX="${WINEPREFIX:-$here/build/win64/wineprefix}"
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p300 </dev/null >/dev/null 2>&1 || true

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
"$loader" "$@" </dev/null >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit $status
