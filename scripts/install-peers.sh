#!/usr/bin/env bash
# Installs the libraries bench/peers_bench measures Ombrix against (libvips and ImageMagick's
# MagickCore, with their development files), when either is missing. Neither the build nor the tests
# need them: without them the build leaves peers_bench out.
set -euo pipefail
packages=(pkg-config libvips-dev libmagickcore-6.q16-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-peers: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
pkg-config --modversion vips MagickCore-6.Q16 >/dev/null
echo "install-peers: libvips $(pkg-config --modversion vips), MagickCore $(pkg-config --modversion MagickCore-6.Q16)"
