#!/usr/bin/env bash
# Windows DLLs: both cross builds and static checks of every DLL (exports, imports and, for
# 32-bit, the entries' calling convention); then for the 64-bit build under wine64 and the 32-bit
# build under 32-bit Wine: the whole test suite, the validator (1000 sessions per plug-in) and the
# samples of the DLLs against the Linux libraries'. Then the packages. Needs build/default
# (scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine needs the i386 architecture. Installing wine32:i386 upgrades the amd64 packages it
# shares with i386 (about 70) to the i386 versions; apt does so unasked, keeping configuration.
dpkg --add-architecture i386
apt-get update -qq
apt-get install -y --no-install-recommends -o Dpkg::Options::=--force-confdef \
  -o Dpkg::Options::=--force-confold g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
  wine wine64 wine32:i386 zip

cmake --workflow --preset win64
cmake --workflow --preset win32
scripts/check-windows-dll.sh build/win64/plugins/{swarm,vellum}.dll \
  build/win32/plugins/{swarm,vellum}.dll

# One prefix per side inside its build tree, made before the tests start; scripts/wine-run.sh
# keeps one wineserver up per prefix between the programs, stopped at the end.
scripts/wine-run.sh wineboot --init >/dev/null 2>&1
scripts/wine-run.sh --win32 wineboot --init >/dev/null 2>&1
stop_wine() {
  for side in win64 win32; do
    WINEPREFIX="$PWD/build/$side/wineprefix" PATH="$PATH:/usr/lib/wine" wineserver -k || true
  done
}
trap stop_wine EXIT

mkdir -p build/samples/linux
build/default/tests/platform/rm-sample-renders render build/default/plugins build/samples/linux
for side in win64 win32; do
  echo "== $side"
  ctest --preset "$side" -j "$(nproc)"
  for plugin in swarm vellum; do
    scripts/wine-run.sh "build/$side/host/validator/rmhost-check.exe" \
      "build/$side/plugins/$plugin.dll" --sessions 1000 --quiet
  done
  mkdir -p "build/samples/$side"
  scripts/wine-run.sh "build/$side/tests/platform/rm-sample-renders.exe" render \
    "build/$side/plugins" "build/samples/$side"
  build/default/tests/platform/rm-sample-renders compare build/samples/linux "build/samples/$side"
done

scripts/package-windows.sh
