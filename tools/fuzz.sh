#!/bin/bash
# Builds the fuzz preset, runs every fuzz target for SECONDS (default 60) and
# then replays the seed corpus of each (ctest --preset fuzz).
#
# A target is every folder of fuzz/corpus/: its seeds. Inputs the fuzzer
# finds go to build/fuzz/corpus/TARGET/ and are kept between runs (the next
# run starts from them), never into the repository. A finding (crash,
# sanitizer report, leak, input that runs longer than 10 s) leaves its input
# in build/fuzz/findings/TARGET/ and makes the script fail; the fuzzer's
# output is in build/fuzz/TARGET.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
cmake --preset fuzz
cmake --build --preset fuzz
status=0
for seeds in fuzz/corpus/*/; do
    target=$(basename "$seeds")
    work="build/fuzz/corpus/$target"
    findings="build/fuzz/findings/$target"
    log="build/fuzz/$target.log"
    mkdir -p "$work" "$findings"
    if "build/fuzz/bin/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$work" "$seeds" >"$log" 2>&1; then
        result="no finding"
    else
        result="FINDING (see $log and $findings/)"
        status=1
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 || true
    fi
    executions=$(awk '/stat::number_of_executed_units/{print $2}' "$log")
    echo "$target: ${seconds} s, ${executions:-?} executions, corpus $(ls "$work" | wc -l) inputs: $result"
done
ctest --preset fuzz
exit $status
