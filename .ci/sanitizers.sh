#!/usr/bin/env bash
# AddressSanitizer + UndefinedBehaviorSanitizer build: the whole test suite, then the validator on
# both plug-ins (RM_CHECK_SESSIONS sessions each, 1000 by default).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
sessions=${RM_CHECK_SESSIONS:-1000}
export UBSAN_OPTIONS=print_stacktrace=1
# The share of the instrument's random MIDI and automation seeds run under the sanitizers.
export RM_LV2_FUZZ_SEEDS=${RM_LV2_FUZZ_SEEDS:-500}

cmake --preset asan
cmake --build --preset asan -j 2
ctest --preset asan -j 2

for plugin in swarm vellum; do
  library=build/asan/plugins/lib$plugin.so
  log=build/asan/check-$plugin.log
  echo "== rmhost check $plugin, $sessions sessions"
  # The seed of each session goes to the log first: after a crash its last line names the seed.
  if ! build/asan/host/validator/rmhost-check "$library" --seed 1 --sessions "$sessions" 2>"$log"
  then
    echo "-- last lines of $log:"
    tail -n 80 "$log"
    exit 1
  fi
done
