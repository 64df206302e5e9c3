#!/usr/bin/env bash
# Installs the Debian packages the build needs (skips the install when all are present).
set -euo pipefail
packages=(cmake make g++ pkg-config binutils libgtest-dev libgmock-dev googletest libbenchmark-dev
          libsndfile1-dev libtomlplusplus-dev libcli11-dev libfftw3-dev libpng-dev python3-mido
          lv2-dev liblilv-dev lilv-utils sordi jalv jackd2 sox)
missing=()
for p in "${packages[@]}" "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi
