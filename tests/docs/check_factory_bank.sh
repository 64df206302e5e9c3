#!/usr/bin/env bash
# The factory bank's generated copies in the repository are current (examples/factory/*.toml and
# docs/sounds.md, made from sounds/*.toml), and every factory patch renders with a peak between
# -6 and -1 dBFS and without a warning.
#
#   check_factory_bank.sh GENERATOR RMHOST
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
generator="$1"
rmhost="$2"
fresh="$(mktemp -d)"
trap 'rm -rf "$fresh"' EXIT
status=0

"$generator" patches "$root/sounds" "$fresh/factory"
"$generator" gallery "$root/sounds" "$fresh/sounds.md"
if ! diff -r "$fresh/factory" "$root/examples/factory" >&2; then
  echo "examples/factory is stale: run $generator patches sounds examples/factory" >&2
  status=1
fi
if ! diff "$fresh/sounds.md" "$root/docs/sounds.md" >&2; then
  echo "docs/sounds.md is stale: run $generator gallery sounds docs/sounds.md" >&2
  status=1
fi

count=0
for patch in "$root"/examples/factory/*.toml; do
  count=$((count + 1))
  name="$(basename "$patch" .toml)"
  summary="$("$rmhost" render "$patch" -o "$fresh/$name.wav" 2> "$fresh/$name.err")"
  if [[ -s "$fresh/$name.err" ]]; then
    cat "$fresh/$name.err" >&2
    status=1
  fi
  peak="$(sed -n 's/.*peak \([-+][0-9.]*\) dBFS.*/\1/p' <<< "$summary")"
  if ! awk -v p="$peak" 'BEGIN { exit !(p != "" && p >= -6 && p <= -1) }'; then
    echo "$name: peak ${peak:-?} dBFS lies outside -6 to -1 dBFS; change its gain in sounds/$name.toml" >&2
    status=1
  fi
  rm -f "$fresh/$name.wav"
done
if ((count < 16)); then
  echo "the factory bank has $count sounds; it should have at least 16" >&2
  status=1
fi
exit $status
