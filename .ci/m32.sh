#!/usr/bin/env bash
# 32-bit build (-m32, Debian's multilib): GoogleTest from Debian's source built for 32-bit, then the
# framework, both plug-ins and the stand-in host. Runs the framework tests, the export checks and
# the validator on the 32-bit plug-ins, so the 32-bit record layout is exercised through real
# calls, not assumed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh g++-multilib

# Kernels without 32-bit support run the test programs under user-mode emulation.
mkdir -p build
echo 'int main(void) { return 0; }' | gcc -m32 -x c - -o build/m32-probe
emulator=()
if ! build/m32-probe 2>/dev/null; then
  scripts/install-deps.sh qemu-user
  emulator=(qemu-i386)
  echo "32-bit programs run under ${emulator[*]}"
fi

gtest=$PWD/build/gtest-m32
if [ ! -f "$gtest/install/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$gtest/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 \
    -DCMAKE_INSTALL_PREFIX="$gtest/install" -DCMAKE_INSTALL_LIBDIR=lib
  cmake --build "$gtest/build" -j 2
  cmake --install "$gtest/build"
fi

# SSE arithmetic: the x87 unit's wider intermediates would change results at the rounding step.
flags="-m32 -msse2 -mfpmath=sse"
cmake --preset m32 -DCMAKE_PREFIX_PATH="$gtest/install" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_CROSSCOMPILING_EMULATOR="${emulator[*]}"
cmake --build --preset m32 -j 2 --target framework_tests probe_module swarm vellum rmhost-check

"${emulator[@]}" build/m32/tests/framework/framework_tests
ctest --preset m32 -R '^exports_'
for plugin in swarm vellum; do
  "${emulator[@]}" build/m32/host/validator/rmhost-check "build/m32/plugins/lib$plugin.so" \
    --sessions 200 --quiet
done
