#!/usr/bin/env bash
# A soak in a real host: a JACK server on the dummy driver at 64-frame periods (48 kHz), jalv
# running the instrument, jack_midiseq looping a dense random stream of notes into it (60 notes a
# second on overlapping keys, about 20 at once) and jack_rec recording its output for SECONDS
# seconds (30 by default). The server runs synchronously (-S): each period waits for the whole
# graph, so a client that is preempted mid-period delays the period instead of missing it.
# Passes when JACK reports no xrun of the instrument's client, JACK's DSP load (the share of a
# period the graph takes) never reaches 100 %, and the recording is finite and has sound in every
# second. Also printed: every xrun JACK reported while recording. On a virtual machine the dummy
# driver's timer wakes late now and then whatever the clients do; those are counted, not judged.
#   jalv_soak.sh BUNDLE_DIR CHECKER WORK_DIR [SECONDS]
set -euo pipefail
bundle=$(cd "$1" && pwd)
checker=$2
work=$3
seconds=${4:-30}
mkdir -p "$work"
export LV2_PATH
LV2_PATH=$(dirname "$bundle")
# A name of its own, so that the soak and the jalv check do not meet in JACK's registry.
export JACK_DEFAULT_SERVER="rackmill-lv2-soak"
# shellcheck source=tests/lv2/jack_session.sh
source "$(dirname "$0")/jack_session.sh"
# Real-time scheduling where the machine grants it (a 64-frame period is 1.3 ms), else without.
start_jack "$work/jackd.log" -R -S -d dummy -r 48000 -p 64

rm -f "$work/jalv.in"
mkfifo "$work/jalv.in"
sleep $((seconds + 30)) >"$work/jalv.in" &
pids+=($!)
timeout $((seconds + 30)) jalv -x -n rm_soak https://rackmill.example/lv2/instrument \
  <"$work/jalv.in" >"$work/jalv.log" 2>&1 &
pids+=($!)
ports=""
for _ in $(seq 100); do
  ports=$(jack_lsp 2>/dev/null || true)
  grep -q "rm_soak:out_r" <<<"$ports" && break
  sleep 0.1
done
grep -q "rm_soak:out_r" <<<"$ports" || { cat "$work/jalv.log"; exit 1; }

# A ten-second loop of 600 notes: random keys from C2 to C7, starts anywhere, lengths from 20 ms
# to 0.7 s. The same seed every time, so that a failure can be played again.
# jack_midiseq wants the notes in start order, each ending within the loop.
RANDOM=18
notes=()
while read -r start key length; do
  notes+=("$start" "$key" "$length")
done < <(for _ in $(seq 600); do
  length=$((960 + RANDOM % 32640))
  echo $(((RANDOM * 32768 + RANDOM) % (480000 - length))) $((36 + RANDOM % 61)) $length
done | sort -n)
timeout $((seconds + 20)) jack_midiseq rm_soak_notes 480000 "${notes[@]}" >"$work/seq.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  jack_connect rm_soak_notes:out rm_soak:midi_in 2>/dev/null && break
  sleep 0.05
done
jack_lsp -c rm_soak:midi_in | grep -q rm_soak_notes || { echo "MIDI not connected"; exit 1; }

rm -f "$work/take.wav"
stdbuf -oL jack_cpu_load >"$work/load.log" 2>&1 &
pids+=($!)
lines=$(wc -l <"$work/jackd.log")
timeout $((seconds + 20)) jack_rec -f "$work/take.wav" -d "$seconds" -b 32 rm_soak:out_l \
  rm_soak:out_r >"$work/rec.log" 2>&1
tail -n +$((lines + 1)) "$work/jackd.log" >"$work/recording.log"
all=$(grep -c "XRun" "$work/recording.log" || true)
ours=$(grep -c "XRun: client = rm_soak " "$work/recording.log" || true)
load=$(awk '/DSP load/ { n++; sum += $4; if ($4 > max) max = $4 } END {
  if (n) printf "mean %.1f %%, highest %.1f %%", sum / n, max }' "$work/load.log")
highest=$(awk '/DSP load/ { if ($4 > max) max = $4 } END { printf "%d", max }' "$work/load.log")
echo "jalv soak: $seconds s at 64-frame periods; xruns of the instrument: $ours; all xruns: $all;" \
  "DSP load $load"
"$checker" --soak "$work/take.wav"
[ "$ours" -eq 0 ] || { grep "XRun" "$work/recording.log" | sort | uniq -c | sort -rn | head; exit 1; }
[ "$highest" -lt 100 ] || { echo "the graph took a whole period"; exit 1; }
