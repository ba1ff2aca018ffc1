#!/usr/bin/env bash
# Packs the Windows build into the zip a user unpacks: the programs, a
# README.txt with Windows line ends, and the licence texts of the static
# libraries linked into them.
# Usage: scripts/windows-zip.sh BUILD_FOLDER ZIP
set -euo pipefail
[ $# -eq 2 ] || {
    echo "usage: $0 BUILD_FOLDER ZIP" >&2
    exit 2
}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
zip_path=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
name=$(basename "$zip_path" .zip)
stage=$(mktemp -d "${TMPDIR:-/tmp}/kelbo-zip-XXXXXX")
trap 'rm -rf "$stage"' EXIT

mkdir -p "$stage/$name/licences"
cp "$build/kelbo-tool.exe" "$build/kelbo-mksample.exe" "$stage/$name/"
sed 's/$/\r/' "$root/docs/README-windows.txt" >"$stage/$name/README.txt"
for licence in SDL-1.2 libpng zlib mingw-w64-runtime; do
    sed 's/\r*$/\r/' "$root/build-windows/deps/licences/$licence.txt" >"$stage/$name/licences/$licence.txt"
done
rm -f "$zip_path"
(cd "$stage" && zip -q -r -X "$zip_path" "$name")
echo "$zip_path"
