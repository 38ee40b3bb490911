#!/bin/bash
# The latency of a sample from the closing phasing byte of its record on the
# line to a consumer of each of the host's outputs in another process (see
# bench/EndToEndLatency.cpp), at 823 records per second: one sensor, and 32
# sensors whose records follow one another over each cycle as a 115200-baud
# line carries them; every output at once, then the shared storages and OSC
# each alone (on a machine of few cores the consumers of several outputs
# compete for them). Prints one table per run and draws every latency of the
# runs with all outputs into PICTURE (default bench/latency.png).
#
# Usage: bash bench/latency.sh [samples] [picture] [preset]   (build the preset first)
# VANTREL_HOST_OPTIONS adds options to the host's command line (--predict 20).
set -euo pipefail
cd "$(dirname "$0")/.."
samples=${1:-10000}
picture=${2:-bench/latency.png}
bin=build/${3:-default}/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2086
run() { "$bin/vantrel_latency" --samples "$samples" "$@" -- ${VANTREL_HOST_OPTIONS:-} 2>/dev/null; echo; }

run --sensors 1 --samples-file "$work/1.csv"
run --sensors 32 --samples-file "$work/32.csv"
for output in shm osc; do
    run --sensors 1 --outputs "$output"
done
/usr/bin/python3 bench/latency-plot.py "$picture" "$work/1.csv" "$work/32.csv"
echo "picture in $picture"
