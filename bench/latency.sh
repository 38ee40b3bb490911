#!/bin/bash
# The latency of a sample from the closing phasing byte of its record on the
# line to a consumer of each of the host's outputs in another process (see
# bench/EndToEndLatency.cpp), at 823 records per second: first the line
# alone (a bare reader of the simulator's pseudo-terminal, no host: what the
# system's part of the path costs), then with one sensor the shared storages
# and OSC each alone, then every output at once with one sensor and with 32
# sensors whose records follow one another over each cycle as a 115200-baud
# line carries them (on a machine of few cores the consumers of several
# outputs compete for them). Prints one table per run and draws every
# latency into PICTURE (default bench/latency.png).
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
run() {
    # shellcheck disable=SC2086
    "$bin/vantrel_latency" --samples "$samples" "$@" -- ${VANTREL_HOST_OPTIONS:-} 2>/dev/null
    echo
}

run --outputs line --samples-file "$work/line.csv"
run --outputs shm --samples-file "$work/shm.csv"
run --outputs osc --samples-file "$work/osc.csv"
run --sensors 1 --samples-file "$work/1.csv"
run --sensors 32 --samples-file "$work/32.csv"
/usr/bin/python3 bench/latency-plot.py "$picture" \
    "1 sensor, each output alone (line: no host)=$work/line.csv,$work/shm.csv,$work/osc.csv" \
    "1 sensor, every output at once=$work/1.csv" "32 sensors, every output at once=$work/32.csv"
echo "picture in $picture"
