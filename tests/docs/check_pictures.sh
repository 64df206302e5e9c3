#!/usr/bin/env bash
# The committed pictures of the docs are what scripts/make-pictures.sh draws from the committed
# patches today, byte for byte, and there are no others.
#
#   check_pictures.sh RMHOST
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
fresh="$(mktemp -d)"
trap 'rm -rf "$fresh"' EXIT
RMHOST="$1" "$root/scripts/make-pictures.sh" "$fresh" 2> "$fresh/warnings.txt"
if [[ -s "$fresh/warnings.txt" ]]; then
  cat "$fresh/warnings.txt" >&2
  echo "check_pictures.sh: drawing the pictures printed warnings" >&2
  exit 1
fi
rm "$fresh/warnings.txt"
status=0
for png in "$fresh"/*.png "$fresh"/sounds/*.png; do
  name="${png#"$fresh"/}"
  if ! cmp -s "$png" "$root/docs/pictures/$name"; then
    echo "docs/pictures/$name is stale or missing: run scripts/make-pictures.sh" >&2
    status=1
  fi
done
for png in "$root"/docs/pictures/*.png "$root"/docs/pictures/sounds/*.png; do
  name="${png#"$root"/docs/pictures/}"
  if [[ ! -e "$fresh/$name" ]]; then
    echo "docs/pictures/$name has no patch any more: remove it" >&2
    status=1
  fi
done
exit $status
