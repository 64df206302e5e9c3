#!/usr/bin/env bash
# A real host: a JACK server on the dummy driver, jalv running the instrument, jack_midiseq
# playing two notes into it and jack_rec recording its output; the recording must sound at the
# notes and be silent after their tails. Everything stops by itself within about ten seconds.
#   jalv_jack.sh BUNDLE_DIR CHECKER WORK_DIR
set -euo pipefail
bundle=$1
checker=$2
work=$3
mkdir -p "$work"
export LV2_PATH
LV2_PATH=$(dirname "$bundle")
# One fixed name: JACK's registry has room for only a few server names, and a server that had to
# be killed keeps its entry until a server of the same name takes it over.
export JACK_DEFAULT_SERVER="rackmill-lv2-test"
# shellcheck source=tests/lv2/jack_session.sh
source "$(dirname "$0")/jack_session.sh"
start_jack "$work/jackd.log" --no-realtime -d dummy -r 48000 -p 256

# jalv reads commands from its input; a FIFO held open by a sleep keeps it running.
rm -f "$work/jalv.in"
mkfifo "$work/jalv.in"
sleep 30 >"$work/jalv.in" &
pids+=($!)
timeout 30 jalv -x -n rm_instrument https://rackmill.example/lv2/instrument <"$work/jalv.in" \
  >"$work/jalv.log" 2>&1 &
pids+=($!)
ports=""
for _ in $(seq 50); do
  ports=$(jack_lsp 2>/dev/null || true)
  grep -q "rm_instrument:out_r" <<<"$ports" && break
  sleep 0.1
done
grep -q "rm_instrument:out_r" <<<"$ports" || { cat "$work/jalv.log"; exit 1; }

rm -f "$work/take.wav"
timeout 20 jack_rec -f "$work/take.wav" -d 5 -b 32 rm_instrument:out_l rm_instrument:out_r \
  >"$work/rec.log" 2>&1 &
rec=$!
pids+=($rec)
# A ten-second loop: A3 at 0.5 s for 1 s, E4 at 0.75 s for 0.5 s, then nothing.
timeout 20 jack_midiseq rm_sequencer 480000 24000 57 48000 36000 64 24000 >"$work/seq.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  jack_connect rm_sequencer:out rm_instrument:midi_in 2>/dev/null && break
  sleep 0.05
done
wait "$rec"
"$checker" "$work/take.wav"
