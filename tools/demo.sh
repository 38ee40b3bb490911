#!/bin/bash
# From a fresh machine to moving poses: the set-up of the native build (as
# root the first time; no Wine), a build of the module and the host program,
# and vantrel-host demo (10 seconds, or as its options say, for example
# bash tools/demo.sh --duration 60).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh native
cmake --preset default
cmake --build --preset default --target vantrel-host
exec build/default/bin/vantrel-host demo "$@"
