#!/usr/bin/env bash
# The docs' shell recipes, run as a user pastes them. Every ```sh block of README.md and docs/*.md
# with the line <!-- doc-test --> directly above its fence runs verbatim in a plain
# non-interactive bash that reads the block as its input, from the repository root, after
# build/default is built. A block passes when
#   - bash reports no error and the block's last command succeeds,
#   - every WAV and PNG file it writes (named after -o, --output, --png or -f, or new in the root
#     or out/) exists and reads cleanly: sox reads each WAV without a warning and hears sound,
#     and each PNG starts with the PNG signature; a block that renders writes at least one,
#   - it leaves no process running: every process it started has ended with it.
# Files the blocks write that were not there before are removed afterwards.
#   doc_test.sh REPO_ROOT
set -uo pipefail
root=$1
cd "$root" || exit 1
[ -x build/default/bin/rmhost ] || { echo "doc test: build/default is not built"; exit 1; }
command -v sox >/dev/null || { echo "doc test: sox is missing (scripts/install-deps.sh)"; exit 1; }
# A JACK server of its own name, apart from any server the user runs.
export JACK_DEFAULT_SERVER=rackmill-doc-test
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
readonly block_timeout=300  # seconds

# Writes each marked block to $work/block-N and its place ("README.md:42") to $work/place-N.
awk -v dir="$work" '
  FNR == 1 { marked = 0; inside = 0 }
  inside && /^```/ { inside = 0; close(out); next }
  inside { print > out; next }
  marked && /^```sh[[:space:]]*$/ {
    n++; inside = 1; out = sprintf("%s/block-%03d", dir, n)  # in file order when sorted
    place = sprintf("%s/place-%03d", dir, n)
    printf "%s:%d\n", FILENAME, FNR > place; close(place)
    printf "" > out
  }
  { marked = ($0 == "<!-- doc-test -->") }
' README.md docs/*.md

# The process ids of every process in the session of the running block ($sid).
members() {
  local stat rest
  for stat in /proc/[0-9]*/stat; do
    read -r rest <"$stat" 2>/dev/null || continue
    rest=${rest##*) }
    # shellcheck disable=SC2086  # the fields: state ppid pgrp session ...
    set -- $rest
    [ "$4" = "$sid" ] && { pid=${stat#/proc/}; echo "${pid%/stat}"; }
  done
}

# WAV and PNG files under the root (not below) and out/, one a line.
media() {
  find . out -maxdepth 1 -type f \( -name '*.wav' -o -name '*.png' \) 2>/dev/null | sed 's|^\./||' | sort -u
}

# Checks one written file; prints what is wrong with it.
check_file() {
  case $1 in
    *.wav)
      local stat
      if ! stat=$(sox "$1" -n stat 2>&1); then
        echo "sox cannot read $1: $stat"
      elif grep -qi "warn" <<<"$stat"; then
        echo "sox warns about $1: $(grep -i warn <<<"$stat")"
      elif ! awk '/Maximum amplitude/ { exit !($3 > 0.001) }' <<<"$stat"; then
        echo "$1 is silent"
      fi
      ;;
    *.png)
      [ "$(head -c 4 "$1" | tail -c 3)" = PNG ] || echo "$1 is no PNG file"
      ;;
  esac
}

failures=0
blocks=0
for block in "$work"/block-*; do
  [ -e "$block" ] || break
  n=${block##*-}
  place=$(cat "$work/place-$n")
  blocks=$((blocks + 1))
  echo "=== $place"
  sed 's/^/  | /' "$block"
  problems=()
  named=$(grep -oE -- '(^|[[:space:]])(-o|--output|--png|-f)[[:space:]]+[^[:space:];&|]+' "$block" |
          awk '{ print $2 }')
  before=$(media)
  touch "$work/start"
  sleep 1  # file times in whole seconds on some file systems: written files are newer than this
  setsid bash -s <"$block" >"$work/log-$n" 2>&1 &
  sid=$!
  for ((t = 0; t < block_timeout * 10; t++)); do
    kill -0 "$sid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$sid" 2>/dev/null; then
    problems+=("still running after $block_timeout s")
    kill -KILL -- "-$sid" 2>/dev/null
  fi
  wait "$sid"
  status=$?
  sed 's/^/  > /' "$work/log-$n"
  [ "$status" -eq 0 ] || problems+=("bash ended with status $status")
  if grep -qE '^(bash: )?line [0-9]+: ' "$work/log-$n"; then
    problems+=("bash reported errors: $(grep -E '^(bash: )?line [0-9]+: ' "$work/log-$n" | head -3)")
  fi
  # Whatever the block started must have ended with it (a moment for exits under way).
  for ((t = 0; t < 30; t++)); do
    [ -z "$(members)" ] && break
    sleep 0.1
  done
  left=$(members)
  if [ -n "$left" ]; then
    for pid in $left; do
      problems+=("left running: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)")
    done
    kill -KILL $left 2>/dev/null
  fi
  written=$( { for f in $named; do echo "$f"; done
               comm -13 <(echo "$before") <(media)
               media | while read -r f; do [ "$f" -nt "$work/start" ] && echo "$f"; done
             } | grep -E '\.(wav|png)$' | sort -u)
  for f in $written; do
    if [ ! -f "$f" ] || [ ! "$f" -nt "$work/start" ]; then
      problems+=("did not write $f")
    else
      problem=$(check_file "$f")
      [ -z "$problem" ] || problems+=("$problem")
    fi
  done
  if grep -q "render" "$block" && [ -z "$written" ]; then problems+=("wrote no WAV or PNG file"); fi
  # Remove what the block made; keep what was there before.
  for f in $(comm -13 <(echo "$before") <(media)); do rm -f "$f"; done
  if [ ${#problems[@]} -eq 0 ]; then
    echo "--- passed: $place (wrote: ${written//$'\n'/, })"
  else
    failures=$((failures + 1))
    for problem in "${problems[@]}"; do echo "--- FAILED: $place: $problem"; done
  fi
done
echo "doc test: $blocks blocks, $failures failed"
[ "$blocks" -gt 0 ] && [ "$failures" -eq 0 ]
