#!/usr/bin/env bash
# The module kit as a developer outside the tree uses it: both builds installed as packages, then
# the template module (examples/tremolo) copied out of the tree and built against them for Linux
# and as a win64 DLL, its tests, 1000 validator sessions (also on the DLL under wine64), a patch
# that plays it between swarm and the mix, its LV2 bundle through lv2_validate, lv2info and the
# checks of the lilv test host; the README's host program through CMake and pkg-config.
# Needs build/default (scripts/test.sh) and build/win64 (.ci/windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
kit=$root/build/kit
rm -rf "$kit"
mkdir -p "$kit"

cmake --install build/default --prefix "$kit/linux" >/dev/null
cmake --install build/win64 --prefix "$kit/win64" --component kit >/dev/null
export RACKMILL_PREFIX=$kit/linux RACKMILL_WIN64_PREFIX=$kit/win64
rmhost=$kit/linux/bin/rmhost

cp -r examples/tremolo "$kit/tremolo"
cd "$kit/tremolo"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)"
ctest --test-dir build/linux --output-on-failure
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$(nproc)"
"$root/scripts/check-windows-dll.sh" build/win64/tremolo.dll

"$rmhost" check build/linux/libtremolo.so --sessions 1000 -q
export WINEPREFIX="$root/build/win64/wineprefix"
trap 'PATH="$PATH:/usr/lib/wine" wineserver -k || true' EXIT
"$root/scripts/wine-run.sh" "$root/build/win64/host/validator/rmhost-check.exe" \
  build/win64/tremolo.dll --sessions 1000 --quiet

summary=$("$rmhost" render tremolo.toml --plugin-path build/linux -o tremolo.wav)
echo "$summary"
if grep -q "peak -inf" <<<"$summary"; then echo "the tremolo patch is silent"; exit 1; fi

"$rmhost" lv2-bundle build/linux/libtremolo.so -o tremolo.lv2
report=$(lv2_validate tremolo.lv2/*.ttl 2>&1 | grep -v '^Skipping' || true)
echo "$report"
grep -q "^Found 0 errors" <<<"$report" || { echo "lv2_validate found errors"; exit 1; }
if grep -qi "warning" <<<"$report"; then echo "lv2_validate warned"; exit 1; fi
mkdir lv2 && mv tremolo.lv2 lv2/
info=$(LV2_PATH=$PWD/lv2 lv2info https://rackmill.example/lv2/module/tremolo)
for port in "in" Rate Depth Shape out; do
  grep -q "Symbol: *$port\$" <<<"$info" || { echo "lv2info shows no port $port"; exit 1; }
done
if grep -q "CVPort\|AtomPort" <<<"$info"; then echo "the tremolo has more than audio and controls"; exit 1; fi
"$root/build/default/tests/lv2/lv2_bundle_check" lv2/tremolo.lv2

# The README's host program: through the CMake package, then through pkg-config alone.
cmake -S "$root/examples/host-program" -B "$kit/host-program" -DCMAKE_PREFIX_PATH="$kit/linux" >/dev/null
cmake --build "$kit/host-program" -j "$(nproc)"
"$kit/host-program/envelope" "$kit/linux/lib/rackmill/libvellum.so" | tail -n 3
export PKG_CONFIG_PATH=$kit/linux/lib/pkgconfig
# shellcheck disable=SC2046
g++ -O2 -o "$kit/envelope-pc" "$root/examples/host-program/envelope.cpp" \
  $(pkg-config --cflags --libs --static rackmill-host)
"$kit/envelope-pc" "$kit/linux/lib/rackmill/libvellum.so" >/dev/null
# shellcheck disable=SC2046
g++ -O2 -shared -fPIC -o "$kit/libtremolo-pc.so" module.cpp plugin.cpp \
  $(pkg-config --cflags rackmill-framework) "$(pkg-config --variable=exports rackmill-framework)" \
  $(pkg-config --libs rackmill-framework) \
  -Wl,--version-script="$(pkg-config --variable=exportsmap rackmill-framework)"
"$rmhost" check "$kit/libtremolo-pc.so" --sessions 20 -q
echo "the module kit works outside the tree"
