#!/usr/bin/env bash
# libFuzzer targets (clang, with AddressSanitizer and UndefinedBehaviorSanitizer): builds one per
# plug-in and runs each for FUZZ_SECONDS (60 by default). Findings land in build/fuzz/findings-*.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh clang libclang-rt-14-dev
seconds=${FUZZ_SECONDS:-60}

CC=clang CXX=clang++ cmake -S fuzz -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/fuzz -j 2

for plugin in swarm vellum; do
  out=build/fuzz/$plugin
  mkdir -p "$out/corpus" "$out/findings"
  echo "== fuzz_$plugin for $seconds s"
  if ! build/fuzz/fuzz_$plugin -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
      -artifact_prefix="$out/findings/" "$out/corpus" >"$out/log" 2>&1; then
    tail -n 80 "$out/log"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$out/log" || true
done
