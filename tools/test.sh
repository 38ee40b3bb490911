#!/bin/bash
# Builds and runs every test of the given presets (default: default, asan,
# win32). Under the win32 preset the Windows test programs run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan win32)
for preset in "${presets[@]}"; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
