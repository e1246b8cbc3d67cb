#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for FUZZ_SECONDS each, one after the other, and
# prints executions and coverage per target. Stops at the first finding: libFuzzer leaves the
# input that broke a target in build-fuzz/artifacts/.
#
#   fuzz/run.sh [TARGET...]        targets: host_commands settings_ini inspect_vlv inspect_avi
#                                  inspect_wmv host_block
#   FUZZ_SECONDS=60                time per target
#   FUZZ_RUNS=N                    stop a target after N executions instead (0: time only)
#   FUZZ_NICE=19                   niceness of the fuzzing processes
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
runs="${FUZZ_RUNS:-0}"
niceness="${FUZZ_NICE:-0}"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(host_commands settings_ini inspect_vlv inspect_avi inspect_wmv)
    # The shared-memory host block has a target where the tree has the shared memory link.
    [ -f "$root/src/shmem/HostBlock.cpp" ] && targets+=(host_block)
fi

mkdir -p "$build/artifacts" "$build/logs"
summary=()
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t" # grows here; the committed seeds stay as they are
    mkdir -p "$corpus"
    log="$build/logs/$t.log"
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix="$build/artifacts/$t-" -dict="$root/fuzz/dict/$t.dict")
    [ "$runs" -gt 0 ] && args+=(-runs="$runs")
    echo "fuzz: $t for ${seconds}s$([ "$runs" -gt 0 ] && echo " or $runs executions")"
    status=0
    nice -n "$niceness" "$build/fuzz_$t" "${args[@]}" "$corpus" "$root/fuzz/corpus/$t" \
        >"$log" 2>&1 || status=$?
    execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}' | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    line="$t: ${execs:-?} executions, cov ${cov:-?}, ft ${ft:-?}, corpus $(ls "$corpus" | wc -l) inputs"
    summary+=("$line")
    if [ "$status" -ne 0 ]; then
        echo "fuzz: $t FOUND A FAULT (exit $status); log $log:" >&2
        grep -E 'ERROR|SUMMARY|property broken|runtime error|Test unit written' "$log" | head -20 >&2
        printf '%s\n' "${summary[@]}"
        exit 1
    fi
done
echo "fuzz summary (${seconds}s per target):"
printf '  %s\n' "${summary[@]}"
