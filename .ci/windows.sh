#!/usr/bin/env bash
# Windows DLLs: both cross builds, static checks of every DLL (exports, imports and, for 32-bit,
# the entries' calling convention), then under wine64 the 64-bit test suite, the validator
# (1000 sessions per plug-in) and the samples of the 64-bit DLLs against the Linux libraries'.
# Needs build/default (scripts/test.sh). No i386 architecture: 32-bit Windows is checked
# statically only (docs/windows.md).
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
  wine64 zip

cmake --workflow --preset win64
cmake --workflow --preset win32
scripts/check-windows-dll.sh build/win64/plugins/{swarm,vellum}.dll \
  build/win32/plugins/{swarm,vellum}.dll

# A prefix of our own inside the build tree, made before the tests start; scripts/wine-run.sh
# keeps one wineserver up between the programs, stopped at the end.
export WINEPREFIX="$PWD/build/win64/wineprefix"
scripts/wine-run.sh wineboot --init >/dev/null 2>&1
trap 'PATH="$PATH:/usr/lib/wine" wineserver -k || true' EXIT

ctest --preset win64 -j "$(nproc)"
for plugin in swarm vellum; do
  scripts/wine-run.sh build/win64/host/validator/rmhost-check.exe \
    "build/win64/plugins/$plugin.dll" --sessions 1000 --quiet
done

samples=build/win64/samples
mkdir -p "$samples/linux" "$samples/win64"
build/default/tests/platform/rm-sample-renders render build/default/plugins "$samples/linux"
scripts/wine-run.sh build/win64/tests/platform/rm-sample-renders.exe render build/win64/plugins \
  "$samples/win64"
build/default/tests/platform/rm-sample-renders compare "$samples/linux" "$samples/win64"

scripts/package-windows.sh
