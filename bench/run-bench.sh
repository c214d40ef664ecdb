#!/usr/bin/env bash
# Runs the frame benchmark and the own-code measurement on a data set.
# Usage: bench/run-bench.sh BUILD_DIR DATA_DIR [frame_bench options]
set -euo pipefail
build=${1:?build folder}
data=${2:?data folder}
shift 2
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
"$build/frame_bench" "$build/zentrix" "$data" "$@"
echo
scratch=$(mktemp -d /tmp/zentrix-own-cpu-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cp -r "$data"/. "$scratch"/
"$build/own_cpu" "$scratch"
