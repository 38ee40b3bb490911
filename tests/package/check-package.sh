#!/bin/bash
# Installs the build into a staging folder and makes its package with CPack,
# then compares the files of both with the list that the README promises for
# that package (the fenced block after the line naming the package file).
#
# Usage: check-package.sh BUILD-DIR README [ABSENT...]
# ABSENT: files of the list that this build does not make (a program whose
# target is not part of it), relative to the package's top folder.
set -euo pipefail
build="$(cd "$1" && pwd)"
readme="$2"
shift 2
work="$(mktemp -d /tmp/vantrel-package-XXXXXX)"
trap 'rm -rf "$work"' EXIT

name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
case $(sed -n 's/^set(CPACK_GENERATOR "\(.*\)")$/\1/p' "$build/CPackConfig.cmake") in
ZIP) file="$name.zip" ;;
TGZ) file="$name.tar.gz" ;;
*) echo "unexpected CPack generator"; exit 1 ;;
esac

awk -v file="\`$file\`" '
    index($0, file) { found = 1; next }
    found && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }
' "$readme" | sort >"$work/promised"
[ -s "$work/promised" ] || { echo "the README lists no files for $file"; exit 1; }
cp "$work/promised" "$work/expected"
for absent in "$@"; do
    grep -vxF "$name/$absent" "$work/expected" >"$work/expected.new" || true
    mv "$work/expected.new" "$work/expected"
done

cmake --install "$build" --prefix "$work/stage/$name" >/dev/null
(cd "$work/stage" && find "$name" -type f -o -type l) | sort >"$work/staged"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
[ -f "$work/out/$file" ] || { echo "CPack made no $file:"; ls "$work/out"; exit 1; }
(cd "$work" && cmake -E tar tf "out/$file") | grep -v '/$' | sort >"$work/packed"

status=0
for list in staged packed; do
    if ! diff -u "$work/expected" "$work/$list" >"$work/$list.diff"; then
        echo "$list files differ from the README's list for $file (- promised, + made):"
        cat "$work/$list.diff"
        status=1
    fi
done
[ $status -eq 0 ] && echo "$file: $(wc -l <"$work/packed") files, as the README lists$([ $# -gt 0 ] && echo " (without $*)")"
exit $status
