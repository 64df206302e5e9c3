#!/usr/bin/env bash
# libFuzzer targets (clang, with AddressSanitizer and UndefinedBehaviorSanitizer): builds one per
# plug-in and one for the MIDI file reader, and runs each for FUZZ_SECONDS (60 by default).
# Findings land in build/fuzz/<target>/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh clang libclang-rt-14-dev
seconds=${FUZZ_SECONDS:-60}

CC=clang CXX=clang++ cmake -S fuzz -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/fuzz -j 2

mkdir -p build/fuzz/midi_file/corpus
cp examples/*.mid build/fuzz/midi_file/corpus/  # a well-formed start for the MIDI reader

for target in swarm vellum midi_file; do
  out=build/fuzz/$target
  mkdir -p "$out/corpus" "$out/findings"
  echo "== fuzz_$target for $seconds s"
  if ! build/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
      -artifact_prefix="$out/findings/" "$out/corpus" >"$out/log" 2>&1; then
    tail -n 80 "$out/log"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$out/log" || true
done
