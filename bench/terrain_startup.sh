#!/usr/bin/env bash
# Start-up and frame rate of a data set, headless:
#   bench/terrain_startup.sh ZENTRIX DATA_DIR [RUNS]
# - time to the first frame: wall time of a run of one frame (start-up, one frame, shut-down),
#   the median of RUNS runs (default 5);
# - frames per second with pacing off (pacing mode 2: measure only, never wait), from the tick
#   column of the trace over 300 frames, the camera standing at the start.
set -euo pipefail
binary=$(realpath "$1")
data=$(realpath "$2")
runs=${3:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$data"/. "$work"/
# The pacing mode is the second value of RenderingAndMore.txt.
awk 'NR == 2 { $NF = 2 } { print }' "$data/RenderingAndMore.txt" > "$work/RenderingAndMore.txt"

times=()
for _ in $(seq "$runs"); do
  start=$(date +%s.%N)
  "$binary" --headless --seed 1 --frames 1 --data "$work" > /dev/null
  end=$(date +%s.%N)
  times+=("$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", (e - s) * 1000 }')")
done
median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
printf 'time to first frame (median of %d, ms): %.0f  [all: %s]\n' "$runs" "$median" "$(printf '%.0f ' "${times[@]}")"

"$binary" --headless --seed 1 --frames 300 --data "$work" --trace "$work/trace.csv" > /dev/null
awk -F, 'NR == 2 { first = $2 } NR > 1 { last = $2; n = NR - 1 }
         END { printf "frames per second, pacing off (%d frames): %.1f\n", n - 1, (n - 1) * 1000 / (last - first) }' \
    "$work/trace.csv"
