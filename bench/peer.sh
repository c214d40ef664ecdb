#!/bin/bash
# make bench-peer: the program against the two Irrlicht 1.8.5 peer programs on the same scenes,
# side by side in one sitting, by the peers' own compare.sh (bench/README.md has a sitting).
#   bench/peer.sh BUILD [PEER_DIR] [ROUNDS]
# PEER_DIR holds compare.sh, peer.cpp and peer_landscape.cpp (default ../shared/peer). Then the
# driver's own cost of what both draw alike (build/driver_floor), in the same sitting.
set -eu
build=$1
peer=${2:-../shared/peer}
rounds=${3:-5}

missing=()
command -v g++ >/dev/null || missing+=(g++)
command -v xvfb-run >/dev/null || missing+=(xvfb)
command -v bc >/dev/null || missing+=(bc)
[ -e /usr/include/irrlicht/irrlicht.h ] || missing+=(libirrlicht-dev)
if [ ${#missing[@]} -gt 0 ]; then
    echo "zentrix: the peer comparison needs ${missing[*]}; install with: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
if [ ! -x "$peer/compare.sh" ]; then
    echo "zentrix: no peer comparison at $peer/compare.sh (PEER=DIR names the folder that holds it)" >&2
    exit 1
fi

# A fresh copy of the bundled landscape, so edits to build/demo do not change the scene.
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
"$build/zentrix-landscape" --seed 1 --out "$data/land" >/dev/null
echo "zentrix: peer comparison, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average" \
    "$(cut -d' ' -f1-3 /proc/loadavg), $rounds rounds"
"$peer/compare.sh" "$(readlink -f "$build/zentrix")" "$data/land" "$rounds"
# What the driver alone charges for the work both programs share (clear, present, 5,000 points).
xvfb-run -a -s "-screen 0 1024x768x24" env vblank_mode=0 "$build/driver_floor" 2>&1 | grep -v '^ATTENTION'
