#!/bin/bash
# CPU of vantrel-host while one device of N units (an ERC and N sensors)
# streams 823 records per second in total from the flock simulator, every
# record a moving pose: with 32 units (super addressing, the default) the
# records of a measurement cycle come together, with 1 unit every record
# comes alone and wakes the host by itself. Measures the CPU time (user +
# system) of the whole host process over the streaming part only, from the
# time on a CPU that /proc keeps for each of its threads, and the records per
# second it wrote.
#
# Usage: bash bench/host-load.sh [seconds] [units] [preset]   (build the preset first)
# VANTREL_HOST_OPTIONS adds options to the host's command line, for example
# "--osc 127.0.0.1:7770" to measure what publication costs.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
units=${2:-32}
bin=build/${3:-default}/bin
work=$(mktemp -d)
trap 'kill $host $sim 2>/dev/null || true; rm -rf "$work"' EXIT
host=0

addressing=14
[ "$units" -le 13 ] || addressing=126
"$bin/flocksim" --units $((units + 1)) --addressing $addressing --rate "$(awk -v n="$units" 'BEGIN { print 823 / n }')" --motion circle \
    --ready-file "$work/ready" >/dev/null 2>&1 &
sim=$!
until [ -s "$work/ready" ]; do sleep 0.1; done
cat >"$work/load.cfg" <<CONFIG
device load "$PWD/$bin/libvantrel.so" $units
  port $(cat "$work/ready")
  addressingmode $([ $addressing = 14 ] && echo normal || echo super)
CONFIG

"$bin/vantrel-host" run "$work/load.cfg" --format jsonl ${VANTREL_HOST_OPTIONS:-} >"$work/samples.jsonl" 2>"$work/log" &
host=$!
# Streaming has begun when samples arrive; give it two more seconds to settle.
until [ -s "$work/samples.jsonl" ]; do sleep 0.2; done
sleep 2

# Nanoseconds on a CPU, summed over the process's threads (all of them live
# through the measurement).
cpu() { cat /proc/$host/task/*/schedstat | awk '{ sum += $1 } END { printf "%.0f\n", sum }'; }
before=$(cpu); lines_before=$(wc -l <"$work/samples.jsonl"); start=$(date +%s.%N)
sleep "$seconds"
after=$(cpu); lines_after=$(wc -l <"$work/samples.jsonl"); end=$(date +%s.%N)
kill -TERM $host
wait $host
status=$?

awk -v u="$units" -v s="$seconds" -v l=$((lines_after - lines_before)) -v t=$((after - before)) \
    -v start="$start" -v end="$end" -v status="$status" 'BEGIN {
        printf "%s units, %s s of streaming: %.0f records/s written, host CPU %.2f %% of one core", u, s, l / (end - start), 100 * t / 1e9 / (end - start)
        printf " (%.1f us per record); exit status %d\n", t / 1e3 / l, status }'
