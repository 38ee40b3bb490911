#!/bin/bash
# Builds and runs every test of the given presets (default: default, asan,
# win32). Under the win32 preset the Windows test programs run under Wine; the
# fuzz preset runs tools/fuzz.sh (every fuzz target for 60 s).
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan win32)
for preset in "${presets[@]}"; do
    if [ "$preset" = fuzz ]; then
        # Each fuzz target for 60 s, then its corpus replayed.
        bash tools/fuzz.sh 60
        continue
    fi
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
