#!/usr/bin/env bash
# The generated Turtle as LV2 tools see it: valid against the LV2 schemas (lv2_validate), and
# with LV2_PATH on the build tree, lv2ls lists the three plug-ins and lv2info their ports.
# The bundle ships the module libraries Rackmill loads, byte for byte.
#   check_turtle.sh BUNDLE_DIR PLUGIN_DIR
set -euo pipefail
bundle=$1
plugins=$2
base=https://rackmill.example/lv2

report=$(lv2_validate "$bundle"/*.ttl 2>&1 | grep -v '^Skipping' || true)
echo "$report"
grep -q "^Found 0 errors" <<<"$report" || { echo "lv2_validate found errors"; exit 1; }
if grep -qi "warning" <<<"$report"; then echo "lv2_validate warned"; exit 1; fi

export LV2_PATH
LV2_PATH=$(dirname "$bundle")
listed=$(lv2ls)
for key in instrument swarm vellum; do
  grep -qx "$base/$key" <<<"$listed" || { echo "lv2ls does not list $base/$key"; exit 1; }
done

expect_ports() {  # URI SYMBOL...
  local uri=$1 info
  shift
  info=$(lv2info "$uri")
  for symbol in "$@"; do
    grep -q "Symbol: *$symbol\$" <<<"$info" || { echo "$uri: no port $symbol"; exit 1; }
  done
  echo "$info"
}
info=$(expect_ports "$base/instrument" midi_in out_l out_r latency voices velocity_sensitivity gain \
  osc_oscs osc_poly osc_N env_Attack env_Release env_Overall_Level env_dbmode)
grep -q "Has latency: *yes, reported by port 3" <<<"$info" || { echo "no latency port"; exit 1; }
grep -q "urid#map" <<<"$info" || { echo "urid:map not required"; exit 1; }
grep -q "hardRTCapable" <<<"$info" || { echo "not hard real-time capable"; exit 1; }
# The factory presets, by their labels, between "Presets:" and the first port.
presets=$(awk '/Presets:/ { on = 1; next } /Port 0:/ { on = 0 } on && NF { n++ } END { print n + 0 }' <<<"$info")
((presets >= 16)) || { echo "lv2info lists $presets presets of the instrument, not 16 or more"; exit 1; }
expect_ports "$base/swarm" gate sync pitch out_l out_r sync_from_gate oscs retrigger >/dev/null
expect_ports "$base/vellum" gate out Attack LfoAlign dbmode >/dev/null
# With the LV2 vocabulary bundles on the path, hosts file them under their classes.
for pair in "instrument:Instrument Plugin" "swarm:Oscillator Plugin" "vellum:Envelope Plugin"; do
  info=$(LV2_PATH="$(dirname "$bundle"):/usr/lib/lv2" lv2info "$base/${pair%%:*}")
  grep -q "Class: *${pair#*:}\$" <<<"$info" || { echo "${pair%%:*} is no ${pair#*:}"; exit 1; }
done
for module in libswarm.so libvellum.so; do
  cmp "$bundle/$module" "$plugins/$module" || { echo "$module differs from the module library"; exit 1; }
done
echo "Turtle valid; lv2ls and lv2info see the three plug-ins and $presets presets"
