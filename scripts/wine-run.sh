#!/bin/sh
# Runs a 64-bit Windows program under wine64, as the win64 test preset's emulator: quiet, in the
# prefix named by WINEPREFIX (build/win64/wineprefix by default), without the .NET and HTML
# runtimes a fresh prefix would offer to install.
#
# Wine keeps a server and a few system programs running beside the programs it runs; they stay
# up five minutes after the last program ends, so that the many short runs of a test session do
# not each start them (test discovery would time out). The program's output goes through files:
# a system program started by this run keeps the streams it inherited open, and a caller reading
# a pipe (ctest) would wait for it to exit.
set -eu
# Debian's wine64 package keeps its programs out of PATH (the wine package adds the links).
export PATH="$PATH:/usr/lib/wine"
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/win64/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p300 </dev/null >/dev/null 2>&1 || true

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
wine64 "$@" </dev/null >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit $status
