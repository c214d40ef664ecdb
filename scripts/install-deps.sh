#!/usr/bin/env bash
# Installs the Debian packages that a make target needs.
# Usage: install-deps.sh run|web|test
#   run:  building, running and installing the demo (make run, make install, make build-demo)
#   web:  that and the browser build (make web, make serve)
#   test: all of that and the tests, the sanitizer build and the fuzzers (make test, test-sanitize,
#         fuzz), the browser test in headless Chromium included
# Does nothing with NODEPS=1 or when every package is already there. Where it cannot install
# (no dpkg-query or apt-get, or neither root nor sudo) it names what is needed and lets the build
# go on: the build then says what it lacks itself.
set -euo pipefail

if [ "${NODEPS:-}" = 1 ]; then
  exit 0
fi

run_packages=(
  build-essential cmake pkg-config
  libsdl2-dev libsdl2-image-dev libepoxy-dev libopenal-dev libopenal1 libfreetype-dev libfontconfig-dev libstb-dev libpng-dev
  libegl-dev libegl-mesa0 libgl1-mesa-dri
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  fonts-liberation2
)
# libjack-jackd2-0: the window tests start the program beside a stale JACK database, which must
# not hold it up; without the library that test would prove nothing.
test_packages=(
  libgtest-dev clang libclang-rt-dev time
  xvfb xdotool libx11-dev libjack-jackd2-0
)
# The browser build (emscripten, with node and its acorn module), its server, and the browser
# its test runs the page in.
web_packages=(emscripten nodejs node-acorn python3)
browser_packages=(chromium)

need=${1:-}
case "$need" in
  run) packages=("${run_packages[@]}") ;;
  web) packages=("${run_packages[@]}" "${web_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}" "${web_packages[@]}" "${browser_packages[@]}") ;;
  *)
    echo "usage: $0 run|web|test" >&2
    exit 2
    ;;
esac

# Says what cannot be installed here and goes on.
cannot_install() {
  echo "install-deps: $1; the '$need' targets need these Debian packages: ${2}" >&2
  echo "install-deps: going on with the build (NODEPS=1 skips this step)" >&2
  exit 0
}

if ! command -v dpkg-query >/dev/null 2>&1; then
  cannot_install "no dpkg-query here to check what is installed" "${packages[*]}"
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if ! command -v apt-get >/dev/null 2>&1; then
  cannot_install "no apt-get here to install the missing ones" "${missing[*]}"
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    cannot_install "neither root nor sudo, so nothing can be installed" "${missing[*]}"
  fi
  sudo="sudo"
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! $sudo apt-get update -qq || ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
  echo "install-deps: apt-get could not install ${missing[*]} (NODEPS=1 skips this step)" >&2
  exit 1
fi
