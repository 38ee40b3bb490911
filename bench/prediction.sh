#!/bin/bash
# Prediction against the simulator's true motion (see
# bench/PredictionTruth.cpp): for each motion, without and with the
# simulator's measurement noise, the errors of the published poses against
# the true pose at publication plus the horizon, prediction off and on, at
# horizons of 10, 20 and 40 ms. Prints one Markdown table.
#
# Usage: bash bench/prediction.sh [seconds] [motion...] [-- preset]   (build the preset first)
# Motions by name: flocksim's (--motion NAME of flocksim --help) or sixaxis,
# the bench's own; default: demo (the demo's: the eight and the helix) and sixaxis.
# VANTREL_NOISE sets the noise (--pose-noise P,A; default 0.0003,0.0005:
# 0.043 inch and 0.09 degrees).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
shift || true
motions=()
preset=default
while [ $# -gt 0 ]; do
    if [ "$1" = -- ]; then
        preset=${2:-default}
        break
    fi
    motions+=("$1")
    shift
done
[ ${#motions[@]} -gt 0 ] || motions=(demo sixaxis)
noise=${VANTREL_NOISE:-0.0003,0.0005}
bin=build/$preset/bin

echo "| Motion | Noise | Horizon | Position error off (RMS / p99) | on | Angle error off (RMS / p99) | on | Off / on (RMS: position, angle) | Samples |"
echo "|---|---|---|---|---|---|---|---|---|"
for motion in "${motions[@]}"; do
    "$bin/vantrel_prediction" --seconds "$seconds" --motion "$motion"
    "$bin/vantrel_prediction" --seconds "$seconds" --motion "$motion" --pose-noise "$noise"
done
