#!/bin/sh
# Runs a 64-bit Windows program under wine64, as the win64 test preset's emulator: quiet, in the
# prefix named by WINEPREFIX (build/win64/wineprefix by default), without the .NET and HTML
# runtimes a fresh prefix would offer to install. A wineserver stays up for five minutes after
# the last program ends, so that the many short runs of a test session do not each start one
# (test discovery would time out).
set -eu
# Debian's wine64 package keeps its programs out of PATH (the wine package adds the links).
export PATH="$PATH:/usr/lib/wine"
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/win64/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p300 2>/dev/null || true
exec wine64 "$@"
