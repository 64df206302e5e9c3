#!/usr/bin/env bash
# Installs what the build needs, builds the plug-ins and rmhost, and renders the demo patch to
# out/demo.wav and out/demo.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)" --target rmhost swarm vellum
mkdir -p out
build/default/bin/rmhost render examples/demo.toml -o out/demo.wav --png out/demo.png
echo "Rendered out/demo.wav and out/demo.png"
