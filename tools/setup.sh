#!/bin/bash
# One-time set-up of a fresh Debian 12 machine (as root): compilers, test
# libraries, the host program's libraries, the MinGW-w64 cross compiler and
# the source of cpp-httplib for the Windows host, Wine with a ready prefix,
# valgrind, clang with libFuzzer for the fuzz preset, headless Chromium with
# Selenium for the test of the live view, and gcovr for tools/coverage.sh.
# "setup.sh native" sets up the native build only (no cross compiler, no
# Wine, no browser): what the demo needs. Both can run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

native_packages=(build-essential cmake ninja-build libgtest-dev libgmock-dev googletest libbenchmark-dev
    libcli11-dev nlohmann-json3-dev python3-matplotlib pkg-config liblo-dev libcpp-httplib-dev libjs-three)

if [ "${1:-}" = native ]; then
    # Nothing to do (and no root needed) when everything is there.
    if ! dpkg -s "${native_packages[@]}" >/dev/null 2>&1; then
        apt-get update -q
        apt-get install -y -q --no-install-recommends "${native_packages[@]}"
    fi
    echo "set-up done (native)"
    exit 0
fi

dpkg --add-architecture i386
apt-get update -q
apt-get install -y -q --no-install-recommends "${native_packages[@]}" valgrind \
    g++-mingw-w64-i686 wine wine32:i386 wine64 binutils-mingw-w64-i686 \
    clang libclang-rt-14-dev liblo-tools gcovr chromium chromium-driver python3-selenium dpkg-dev curl

# The Windows host compiles cpp-httplib's whole header (Debian's package
# holds a shared library of it for Linux only): the source of the same
# version as libcpp-httplib-dev, with Debian's patches, from Debian's source
# package, in /usr/local/src/cpp-httplib (the win32 preset's
# VANTREL_HTTPLIB_SOURCE).
httplib_version=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev)
if [ "$(cat /usr/local/src/cpp-httplib/.vantrel-version 2>/dev/null)" != "$httplib_version" ]; then
    if ! apt-get source --print-uris "cpp-httplib=$httplib_version" >/dev/null 2>&1; then
        # Debian's sources, beside its packages.
        if [ -f /etc/apt/sources.list.d/debian.sources ]; then
            sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
                >/etc/apt/sources.list.d/vantrel-debian-src.sources
        else
            sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/vantrel-debian-src.list
        fi
        apt-get update -q
    fi
    source_dir=$(mktemp -d)
    (cd "$source_dir" && apt-get source -q "cpp-httplib=$httplib_version")
    rm -rf /usr/local/src/cpp-httplib
    mkdir -p /usr/local/src
    mv "$source_dir"/cpp-httplib-*/ /usr/local/src/cpp-httplib
    echo "$httplib_version" >/usr/local/src/cpp-httplib/.vantrel-version
    rm -rf "$source_dir"
fi

# Wine's 32-bit loader is a 32-bit Linux program. Where the kernel cannot run
# those (no IA-32 emulation), let qemu run it.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    apt-get install -y -q --no-install-recommends qemu-user-static
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            >/proc/sys/fs/binfmt_misc/register
    fi
    /usr/lib/wine/wine --version
fi

# Create the Wine prefix without dialogs.
if [ ! -d "${WINEPREFIX:-$HOME/.wine}/dosdevices" ]; then
    wineboot -i
    wineserver -w
fi
echo "set-up done"
