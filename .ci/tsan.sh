#!/usr/bin/env bash
# ThreadSanitizer build of the host library, both plug-ins and the LV2 bridge, and the tests that
# drive them from several threads: sessions and LV2 instances made, run and closed on different
# threads, and two at once.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
cmake --preset tsan
cmake --build --preset tsan -j 2 --target platform_tests lv2_tests
ctest --preset tsan -j 2 -R "^(Threads|Lv2Threads)\."
