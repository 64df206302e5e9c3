#!/usr/bin/env bash
# Builds the Windows DLLs from a clean build tree per architecture and packs them for users:
# dist/rackmill-modules-win64.zip and dist/rackmill-modules-win32.zip, each with swarm.dll,
# vellum.dll, INSTALL.txt and the licence. The same tree gives the same bytes: no link time in
# the DLLs (strip too writes none), file times from SOURCE_DATE_EPOCH or else the last commit,
# fixed order and permissions in the archive.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
licence=$(ls LICENSE LICENSE.txt LICENSE.md COPYING 2>/dev/null | head -n 1 || true)
[ -n "$licence" ] || echo "package-windows: no licence file in the tree; the archives go without" >&2
mkdir -p dist

for arch in win64 win32; do
  case $arch in
    win64) triple=x86_64-w64-mingw32; host="64-bit" ;;
    win32) triple=i686-w64-mingw32; host="32-bit" ;;
  esac
  build=build/package/$arch
  rm -rf "$build"
  cmake --preset "$arch" -B "$build" -DRM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target swarm vellum -j "$(nproc)" >/dev/null

  name=rackmill-modules-$arch
  stage=$build/stage/$name
  mkdir -p "$stage"
  for plugin in swarm vellum; do
    SOURCE_DATE_EPOCH=0 "$triple-strip" --strip-all -o "$stage/$plugin.dll" "$build/plugins/$plugin.dll"
  done
  cat > "$stage/INSTALL.txt" <<TEXT
swarm and vellum modules for Rackmill, $host Windows
=====================================================

swarm.dll   polyphonic bank of discrete-summation oscillators
vellum.dll  attack-hold-decay-sustain-release envelope with LFO

These DLLs are for the $host edition of Rackmill. They need no other files: the C and C++
runtimes are built in.

1. Close Rackmill.
2. Copy swarm.dll and vellum.dll into the folder Rackmill loads its modules from (the module
   folder named in Rackmill's settings).
3. Start Rackmill; the modules appear as "swarm" and "vellum".

To remove them, delete the two files from the module folder.
TEXT
  [ -n "$licence" ] && cp "$licence" "$stage/"
  chmod 644 "$stage"/*
  touch -d "@$epoch" "$stage"/*
  rm -f "dist/$name.zip"
  (cd "$build/stage" && find "$name" -type f | LC_ALL=C sort |
     TZ=UTC zip -X -D -q "$root/dist/$name.zip" -@)
  echo "dist/$name.zip: $(cd "$build/stage" && find "$name" -type f | LC_ALL=C sort | tr '\n' ' ')"
done
