#!/usr/bin/env bash
# Soak: runs the bundled data headless under a fixed step for 1,000, 10,000 and 100,000 frames
# and prints each run's maximum resident set size, to show that memory stays bounded.
#   bench/soak.sh [BUILD_DIR] [FRAME_COUNTS...]     (default: build 1000 10000 100000)
# Run `make demo-data` first (or let `make soak` do it). Takes about half an hour on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000 10000 100000)

binary=$build/zentrix
data=$build/demo
if [ ! -x "$binary" ] || [ ! -f "$data/Resolutions.txt" ]; then
    echo "soak: build the program and the demo data first (make demo-data)" >&2
    exit 1
fi
if [ ! -x /usr/bin/time ]; then
    echo "soak: /usr/bin/time is needed to measure the maximum resident set size (apt-get install time)" >&2
    exit 1
fi

printf '%-10s %14s %10s\n' frames max_rss_kib seconds
for n in "${counts[@]}"; do
    report=$(mktemp)
    if ! /usr/bin/time -o "$report" -f '%M %e' "$binary" --headless --data "$data" --frames "$n" --fixed-step 20 \
        --seed 1 >/dev/null 2>"$report.err"; then
        echo "soak: the run of $n frames failed:" >&2
        cat "$report.err" >&2
        rm -f "$report" "$report.err"
        exit 1
    fi
    read -r rss seconds <"$report"
    printf '%-10s %14s %10s\n' "$n" "$rss" "$seconds"
    rm -f "$report" "$report.err"
done
