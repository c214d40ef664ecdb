#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing zentrix need.
# Does nothing when everything is already present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libsdl2-dev libsdl2-image-dev libepoxy-dev libopenal-dev libopenal1 libfreetype-dev libfontconfig-dev libstb-dev libpng-dev
  libegl-dev libegl-mesa0 libgl1-mesa-dri libgtest-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  fonts-liberation2
  clang libclang-rt-dev time
  xvfb xdotool libx11-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
