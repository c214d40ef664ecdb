#!/usr/bin/env bash
# Soak: one run of the bundled data headless under a fixed step, printing the maximum resident
# set size reached by frames 1,000, 10,000 and 100,000, to show that memory stays bounded.
#   bench/soak.sh [BUILD_DIR] [FRAMES]     (default: build 100000)
# Run `make demo-data` first (or let `make soak` do it). The frame a figure belongs to is read
# from the run's trace; the last figure is the whole run's maximum.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
frames=${2:-100000}
binary=$build/zentrix
data=$build/demo
if [ ! -x "$binary" ] || [ ! -f "$data/Resolutions.txt" ]; then
    echo "soak: build the program and the demo data first (make demo-data)" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$binary" --headless --data "$data" --frames "$frames" --fixed-step 20 --seed 1 --trace "$work/trace.csv" \
    >/dev/null 2>"$work/stderr" &
pid=$!
start=$(date +%s)

peak_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true; }
# The frame number of the trace's last complete row.
# (0 until the trace exists: the program may not have started yet.)
frames_done() { { tail -c 512 "$work/trace.csv" 2>/dev/null || true; } | awk -F, 'NF > 10 { f = $1 } END { print f + 0 }'; }

printf '%-10s %14s %10s\n' frames max_rss_kib seconds
marks=(1000 10000 100000)
next=0
peak=0
while kill -0 "$pid" 2>/dev/null; do
    p=$(peak_kib)
    [ -n "$p" ] && peak=$p
    done_frames=$(frames_done)
    while [ $next -lt ${#marks[@]} ] && [ "${marks[$next]}" -lt "$frames" ] && [ "$done_frames" -ge $((marks[next] - 1)) ]; do
        printf '%-10s %14s %10s\n' "${marks[$next]}" "$peak" $(($(date +%s) - start))
        next=$((next + 1))
    done
    sleep 0.5
done
if ! wait "$pid"; then
    echo "soak: the run failed:" >&2
    cat "$work/stderr" >&2
    exit 1
fi
printf '%-10s %14s %10s\n' "$frames" "$peak" $(($(date +%s) - start))
