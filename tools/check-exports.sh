#!/bin/bash
# Checks that the module exports exactly createDev and deleteDev and, for the
# Windows DLL, that it imports system DLLs only.
set -euo pipefail
module="$1"
expected=$'createDev\ndeleteDev'
case "$module" in
*.dll)
    dump=$(i686-w64-mingw32-objdump -p "$module")
    exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF;next} t{t=0}' <<<"$dump" | sort)
    imports=$(awk '/DLL Name:/{print tolower($3)}' <<<"$dump" | sort -u)
    echo "exports:"; echo "$exports"; echo "imports:"; echo "$imports"
    [[ "$exports" == "$expected" ]] || { echo "unexpected exports"; exit 1; }
    allowed='^(kernel32|msvcrt|user32|advapi32|ws2_32|ntdll)\.dll$'
    while read -r dll; do
        [[ "$dll" =~ $allowed ]] || { echo "non-system import: $dll"; exit 1; }
    done <<<"$imports"
    ;;
*)
    exports=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort)
    echo "exports:"; echo "$exports"
    [[ "$exports" == "$expected" ]] || { echo "unexpected exports"; exit 1; }
    ;;
esac
echo "module exports OK"
