#!/usr/bin/env bash
# Draws the pictures of the docs as spectrogram strips with `rmhost render --strip`: the sweeps of
# the sound guide from docs/pictures/*.toml into docs/pictures/, and one picture per factory sound
# from examples/factory/*.toml into docs/pictures/sounds/. The renders are deterministic, so the
# same sources give the same bytes; a test draws them again into another directory and compares.
#
#   scripts/make-pictures.sh [OUT_DIR]      (default docs/pictures; needs build/default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/docs/pictures}"
rmhost="${RMHOST:-$root/build/default/bin/rmhost}"
if [[ ! -x "$rmhost" ]]; then
  echo "make-pictures.sh: no $rmhost; build first (scripts/test.sh or cmake --build build/default)" >&2
  exit 1
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out/sounds"

draw() {  # PATCH PNG
  "$rmhost" render "$1" -q -o "$scratch/render.wav" --png "$2" --strip
}
for patch in "$root"/docs/pictures/*.toml; do
  draw "$patch" "$out/$(basename "$patch" .toml).png"
done
for patch in "$root"/examples/factory/*.toml; do
  draw "$patch" "$out/sounds/$(basename "$patch" .toml).png"
done
