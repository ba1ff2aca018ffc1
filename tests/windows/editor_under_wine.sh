#!/usr/bin/env bash
# The Windows editor under Wine on a virtual X server: two tiles swapped
# and saved give the same file as the Linux build's save, and a swap list
# with Windows line ends.
# Usage: editor_under_wine.sh LINUX_TOOL WINDOWS_TOOL WINE_RUN
set -euo pipefail
linux=$1
windows=$2
wine_run=$3
mksample=$(dirname "$linux")/kelbo-mksample
work=$(mktemp -d "${TMPDIR:-/tmp}/kelbo-wine-editor-XXXXXX")
xvfb_pid=
cleanup() {
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "editor_under_wine: $*" >&2
    exit 1
}
cd "$work"
"$mksample" tiles.til
cp tiles.til linux.til
printf '7 5\n5 7\n' >swap.swaps
"$linux" linux.til swap.swaps

Xvfb -displayfd 3 -screen 0 800x700x24 -noreset -nolisten tcp 3>display >xvfb.log 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s display ]] && break
    sleep 0.1
done
export DISPLAY=:$(head -n1 display)
"$wine_run" "$windows" tiles.til >editor.out 2>&1 &
editor=$!
win=$(timeout 60 xdotool search --sync --name '^Kelbo Tool' | head -n1) || true
[[ -n $win ]] || fail "no window: $(cat editor.out)"
pause() { sleep 0.3; }
xdotool mousemove --window "$win" 300 500
pause
xdotool mousemove --window "$win" $((5 * 32 + 16)) 16 click 1
pause
xdotool mousemove --window "$win" $((7 * 32 + 16)) 16 click 3
pause
xdotool keydown Control_L
pause
xdotool key s
pause
xdotool keyup Control_L
for _ in $(seq 100); do
    [[ -s tiles.til.swaps ]] && break
    sleep 0.1
done
xdotool key Escape
wait "$editor" || fail "the editor ended with status $?: $(cat editor.out)"
cmp tiles.til linux.til || fail "the saved tileset differs from the Linux build's"
[[ $(od -c tiles.til.swaps | head -n1) == *"7       5  \r  \n   5       7  \r  \n"* ]] ||
    fail "swap list: $(od -c tiles.til.swaps)"
