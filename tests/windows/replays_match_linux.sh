#!/usr/bin/env bash
# The Windows build replays each sample to the same bytes as the Linux
# build, for a list with either line end.
# Usage: replays_match_linux.sh LINUX_TOOL WINDOWS_TOOL WINE_RUN
set -euo pipefail
linux=$1
windows=$2
wine_run=$3
mksample=$(dirname "$linux")/kelbo-mksample
work=$(mktemp -d "${TMPDIR:-/tmp}/kelbo-replays-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
printf '5 7\n7 5\n3 300\n' >lf.swaps
printf '5 7\r\n7 5\r\n3 300\r\n' >crlf.swaps
for size in "" --large; do
    "$mksample" $size sample.til
    for list in lf crlf; do
        cp sample.til linux.til
        cp sample.til windows.til
        "$linux" linux.til "$list.swaps" >linux.out
        "$wine_run" "$windows" windows.til "$list.swaps" >windows.out
        cmp linux.til windows.til || { echo "replay of $list.swaps on ${size:-small} differs"; exit 1; }
        diff <(tr -d '\r' <windows.out) linux.out || exit 1
    done
done
