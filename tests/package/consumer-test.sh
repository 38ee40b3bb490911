#!/bin/bash
# The package as a host developer meets it: installs the build into a fresh
# prefix, builds the consumer calibration library and the consumer host (once
# with find_package, once with pkg-config) against that prefix only, and runs
# the host with the installed module against the installed flock simulator.
#
# Usage: consumer-test.sh BUILD-DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d /tmp/vantrel-consumer-XXXXXX)"
flock_pid=""
finish() {
    if [ -n "$flock_pid" ]; then kill "$flock_pid" 2>/dev/null || true; wait "$flock_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap finish EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
# The consumers see the prefix and the system, nothing of the source tree or
# the build.
configure() {  # source folder, binary folder, extra arguments
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" "${@:3}" \
        >"$2.log" 2>&1 || { cat "$2.log"; exit 1; }
    cmake --build "$2" >>"$2.log" 2>&1 || { cat "$2.log"; exit 1; }
}
configure "$here/calib" "$work/calib"
configure "$here/host" "$work/host"
PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name vantrel.pc)")" configure "$here/host" "$work/host-pkgconfig" \
    -DCONSUMER_PKG_CONFIG=ON
for log in "$work/host.log" "$work/host-pkgconfig.log"; do
    grep -q "vantrel module: $prefix/" "$log" || { echo "the host does not load the installed module:"; cat "$log"; exit 1; }
done
root="$(cd "$here/../.." && pwd)"
if grep -rqF -e "$build" -e "$root/include" "$work/calib" "$work/host" "$work/host-pkgconfig" \
    --include=build.ninja --include=CMakeCache.txt; then
    echo "a consumer build refers to the project's headers or build"
    exit 1
fi

calib="$work/calib/libconsumer_calib.so"
for host in "$work/host/consumer_host" "$work/host-pkgconfig/consumer_host"; do
    rm -f "$work/ready"
    "$prefix/bin/flocksim" --units 3 --ready-file "$work/ready" >"$work/flocksim.log" 2>&1 &
    flock_pid=$!
    for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.1; done
    [ -s "$work/ready" ] || { echo "flocksim did not start:"; cat "$work/flocksim.log"; exit 1; }
    echo "== $host"
    "$host" "$(cat "$work/ready")" "$calib" | tee "$work/run.log"
    kill "$flock_pid"; wait "$flock_pid" || true; flock_pid=""
    grep -qx "ConsumerCalib: calib_init with 2 arguments: room 2" "$work/run.log"
    grep -qE "^ConsumerCalib: calib_exit after [1-9][0-9]* samples$" "$work/run.log"
done
# The installed programs report the package's version, and the installed
# host's demo finds the installed module and its view's page (--http).
version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$prefix"/lib*/cmake/vantrel/vantrelConfigVersion.cmake)
[ "$("$prefix/bin/flocksim" --version)" = "flocksim $version" ] || { echo "flocksim --version is not $version"; exit 1; }
if [ -x "$prefix/bin/vantrel-host" ]; then
    [ "$("$prefix/bin/vantrel-host" --version)" = "vantrel-host $version" ] ||
        { echo "vantrel-host --version is not $version"; exit 1; }
    "$prefix/bin/vantrel-host" demo --duration 1 --format csv --http 0 >"$work/demo.csv" 2>"$work/demo.log" ||
        { echo "the installed host's demo failed:"; cat "$work/demo.log"; exit 1; }
    grep -q '^vantrel-host: the view at http://127.0.0.1:' "$work/demo.log" || { echo "no view"; exit 1; }
    grep -q '^[0-9.]*,demo,1,' "$work/demo.csv" || { echo "the installed host's demo published nothing"; exit 1; }
fi
echo "consumer test passed"
