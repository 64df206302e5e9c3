#!/usr/bin/env bash
# The instrument under load: 10,000 seeds of random MIDI and automation in the lilv test host
# (two processes, one per core), then 30 s in jalv on JACK's dummy driver at 64-frame periods
# under a dense random note stream. Needs build/default (scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
seeds=${RM_LV2_FUZZ_SEEDS:-10000}
fuzz=build/default/tests/lv2/lv2_fuzz_tests
half=$((seeds / 2))
start=$SECONDS
RM_LV2_FUZZ_FIRST=1 RM_LV2_FUZZ_SEEDS=$half "$fuzz" --gtest_brief=1 &
first=$!
RM_LV2_FUZZ_FIRST=$((half + 1)) RM_LV2_FUZZ_SEEDS=$((seeds - half)) "$fuzz" --gtest_brief=1
wait "$first"
echo "lv2 fuzz: $seeds seeds in $((SECONDS - start)) s"

cmake --build build/default --target lv2_recording_check -j 2
tests/lv2/jalv_soak.sh build/default/lv2/rackmill.lv2 build/default/tests/lv2/lv2_recording_check \
  build/default/lv2-soak 30
