#!/usr/bin/env bash
# Installs what the build needs, builds the default preset and runs every benchmark program.
# Arguments go to each program (Google Benchmark options, e.g. --benchmark_filter=avx512).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
for program in swarm/swarm_dsp_bench swarm/swarm_render_bench vellum/vellum_bench demo/demo_bench \
               lv2/lv2_bench framework/fp_guard_bench; do
  echo "== $program"
  "build/default/bench/$program" "$@"
done
