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
# "--osc 127.0.0.1:7770" to measure what publication costs. VANTREL_VIEW_PAGE=1
# serves the live view (--http 0) and opens it in headless Chromium for the
# whole measurement (the page draws and follows the stream).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
units=${2:-32}
bin=build/${3:-default}/bin
work=$(mktemp -d)
host=0
browser=0
sim=0
# (Never kill 0: the process group.)
trap 'for pid in $browser $host $sim; do [ "$pid" = 0 ] || kill $pid 2>/dev/null || true; done; wait; rm -rf "$work"' EXIT
view=()
[ "${VANTREL_VIEW_PAGE:-0}" = 0 ] || view=(--http 0)

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

"$bin/vantrel-host" run "$work/load.cfg" --format jsonl "${view[@]}" ${VANTREL_HOST_OPTIONS:-} >"$work/samples.jsonl" 2>"$work/log" &
host=$!
if [ ${#view[@]} -gt 0 ]; then
    until grep -q 'the view at http' "$work/log"; do sleep 0.1; done
    url=$(sed -n 's/^vantrel-host: the view at \(http:[^ ]*\)$/\1/p' "$work/log")
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
        --disable-component-update --disable-sync --enable-unsafe-swiftshader --window-size=1400,900 \
        --user-data-dir="$work/chromium" "$url" >/dev/null 2>&1 &
    browser=$!
    echo "the view at $url, open in headless Chromium"
fi
# Streaming has begun when samples arrive; give it two more seconds to settle
# (five with a page, which loads meanwhile).
until [ -s "$work/samples.jsonl" ]; do sleep 0.2; done
sleep $([ ${#view[@]} -gt 0 ] && echo 5 || echo 2)
if [ ${#view[@]} -gt 0 ]; then
    port=${url##*:}
    echo "connections to the view's port: $(ss -Htn state established "( sport = :${port%/} )" | wc -l)"
fi

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
