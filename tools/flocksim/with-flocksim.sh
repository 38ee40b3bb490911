#!/bin/bash
# Runs a program with a flock simulator at the far end of its serial line:
#
#   with-flocksim.sh FLOCKSIM [flocksim options] -- PROGRAM [arguments]
#
# Starts FLOCKSIM with the options (add --wine-com auto for a Windows program
# under Wine), waits until it is ready, runs PROGRAM with VANTREL_TEST_PORT
# set to the name of the port to open, stops the simulator and exits with
# PROGRAM's status. The simulator also ends when this script is killed.
set -uo pipefail
if [ $# -lt 3 ]; then
    echo "usage: $0 FLOCKSIM [flocksim options] -- PROGRAM [arguments]" >&2
    exit 2
fi
simulator=$1
shift
options=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    options+=("$1")
    shift
done
if [ $# -lt 2 ]; then
    echo "with-flocksim: no program after --" >&2
    exit 2
fi
shift

ready=$(mktemp -u "${TMPDIR:-/tmp}/flocksim-ready.XXXXXX")
"$simulator" --die-with-parent --ready-file "$ready" "${options[@]}" &
pid=$!
stop_simulator() {
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    rm -f "$ready"
}
trap stop_simulator EXIT

for _ in $(seq 1 200); do
    [ -s "$ready" ] && break
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "with-flocksim: the simulator did not start" >&2
        exit 1
    fi
    sleep 0.05
done
if [ ! -s "$ready" ]; then
    echo "with-flocksim: the simulator did not get ready" >&2
    exit 1
fi
VANTREL_TEST_PORT=$(head -n 1 "$ready")
export VANTREL_TEST_PORT
echo "with-flocksim: serial partner on $VANTREL_TEST_PORT"
"$@"
