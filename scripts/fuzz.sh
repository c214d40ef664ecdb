#!/usr/bin/env bash
# Runs every fuzz harness built in BUILD_DIR for SECONDS each (make fuzz builds them first).
#   scripts/fuzz.sh BUILD_DIR [SECONDS] [HARNESS...]
# FUZZ_PARALLEL=1 runs the harnesses at the same time instead of one after another.
# New inputs go to BUILD_DIR/fuzz-corpus/NAME (the committed seeds stay as they are), findings
# to BUILD_DIR/fuzz-findings/NAME-*, each harness's log to BUILD_DIR/fuzz-logs/NAME.log.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/fuzz.sh BUILD_DIR [SECONDS] [HARNESS...]}
# Absolute: the harnesses of data files change into a scratch folder, as the program reads its
# files from the working directory.
build=$(cd "$build" && pwd)
seeds=$(pwd)/tests/fuzz/corpus
seconds=${2:-60}
shift 2 2>/dev/null || shift $#
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for f in tests/fuzz/*.cpp; do names+=("$(basename "$f" .cpp)"); done
fi
mkdir -p "$build/fuzz-corpus" "$build/fuzz-findings" "$build/fuzz-logs"

run_one() {
    local name=$1 harness=$build/fuzz_$1
    if [ ! -x "$harness" ]; then
        echo "fuzz: $harness is missing (make fuzz builds it)" >&2
        return 1
    fi
    mkdir -p "$build/fuzz-corpus/$name"
    # stdout and stderr of the code under test are closed: warnings would drown the fuzzer's
    # own reports, which still reach the log.
    "$harness" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-findings/$name-" "$build/fuzz-corpus/$name" "$seeds/$name" \
        >"$build/fuzz-logs/$name.log" 2>&1 &
    local pid=$! status
    wait "$pid"; status=$?
    # The harness's scratch folder, which libFuzzer's way out leaves behind.
    rm -rf /dev/shm/zentrix-fuzz-"$pid"-* /tmp/zentrix-fuzz-"$pid"-*
    return "$status"
}

summary() {
    local name=$1 status=$2 log=$build/fuzz-logs/$1.log runs findings
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    # Slow units are reported by libFuzzer for information only.
    findings=$(find "$build/fuzz-findings" -name "$name-*" ! -name "$name-slow-unit-*" | wc -l)
    printf '%-18s %12s executions  %s findings  (exit %s, log %s)\n' "$name" "${runs:-?}" "$findings" "$status" "$log"
}

failed=0
if [ "${FUZZ_PARALLEL:-0}" = 1 ]; then
    declare -A pids
    for name in "${names[@]}"; do run_one "$name" & pids[$name]=$!; done
    for name in "${names[@]}"; do
        wait "${pids[$name]}"; status=$?
        summary "$name" "$status"
        [ "$status" -eq 0 ] || failed=1
    done
else
    for name in "${names[@]}"; do
        run_one "$name"; status=$?
        summary "$name" "$status"
        [ "$status" -eq 0 ] || failed=1
    done
fi
exit $failed
