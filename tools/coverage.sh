#!/bin/bash
# Line and branch coverage of the module's code by the native tests: a build
# with --coverage of its own (build/coverage, Debug), every test of it run
# once, then gcovr's table of the module's files (the host program, the
# simulator and the tests do not count). Needs gcovr (tools/setup.sh).
# "coverage.sh --no-run" only prints the table of the last run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/coverage
if [ "${1:-}" != --no-run ]; then
    # Atomic counters: the tests run threads, and racing counts can come out
    # negative, which gcovr refuses.
    flags="--coverage -fprofile-update=atomic"
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
    cmake --build "$build" -j2
    find "$build" -name '*.gcda' -delete
    ctest --test-dir "$build" -j2 --output-on-failure
fi
module=(driver/ common/ serial/ tracker/ controller/ platform/PlatformPosix.cpp platform/DynamicLibraryPosix.cpp
    platform/SerialPortPosix.cpp platform/SystemControlBlock.cpp)
filters=()
for path in "${module[@]}"; do
    filters+=(--filter "$path")
done
# The line table, then the branch table and the totals.
for table in "" "--branches --print-summary"; do
    gcovr -r . --object-directory "$build" --exclude-directories "$build/CMakeFiles/[0-9.]+" "${filters[@]}" \
        --exclude-unreachable-branches --exclude-throw-branches $table
done
