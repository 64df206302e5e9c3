#!/usr/bin/env bash
# 32-bit build of the framework, the plug-ins and the host library, with the framework, host and
# plug-in tests run under qemu-i386 (the record layouts are checked at compile time and in use).
# Needs g++-multilib and qemu-user; GoogleTest is built for 32-bit from Debian's source package.
set -euo pipefail
cd "$(dirname "$0")/.."
gtest=build/gtest32
if [ ! -f "$gtest/install/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$gtest/build" -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 \
    -DCMAKE_INSTALL_PREFIX="$PWD/$gtest/install" -DBUILD_GMOCK=OFF
  cmake --build "$gtest/build" -j "$(nproc)"
  cmake --install "$gtest/build"
fi
cmake --preset m32 -DCMAKE_PREFIX_PATH="$PWD/$gtest/install"
cmake --build --preset m32 -j "$(nproc)"
# qemu computes SSE and x87 in software, minutes per floating-point environment: the environment
# matrices run natively on Linux and under 32-bit Wine.
ctest --preset m32 -j "$(nproc)" -E "^FpEnvironment\.(Sse|X87)"

# The validator on the 32-bit plug-ins.
for plugin in swarm vellum; do
  qemu-i386 build/m32/host/validator/rmhost-check "build/m32/plugins/lib$plugin.so" \
    --sessions 200 --quiet
done
