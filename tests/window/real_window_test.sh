#!/usr/bin/env bash
# The editor in a real X window: a virtual X server, input from xdotool,
# then the caption, the saved tileset, the swap list and a screenshot are
# checked.
#
#   real_window_test.sh KELBO_TOOL KELBO_MKSAMPLE OUTPUT_FOLDER
#
# Leaves OUTPUT_FOLDER/editor.png, the window after an undo past the save;
# its caption then reads "Kelbo Tool - sample.tileset (unsaved) - 1 held -
# 1 selected - at 40: tile 14", and with details on the tile's entries.
set -euo pipefail

if [[ $# -ne 3 ]]; then
    echo "usage: $0 KELBO_TOOL KELBO_MKSAMPLE OUTPUT_FOLDER" >&2
    exit 2
fi
tool=$1
mksample=$2
out=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# A sanitizer build would otherwise fail at exit on what X11 and SDL keep.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/../lsan.supp}

fail() {
    echo "real_window: $*" >&2
    exit 1
}

for program in Xvfb xdotool xwd python3; do
    command -v "$program" >/dev/null || fail "$program is not installed"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelbo-window-XXXXXX")
xvfb_pid=
tool_pid=
cleanup() {
    [[ -n $tool_pid ]] && kill "$tool_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$out"
rm -f "$out/editor.png"
# Rescued work goes to the user's private folder: here, the test's own.
export XDG_STATE_HOME=$work/state
tiles=$work/sample.tileset
"$mksample" "$tiles" || fail "kelbo-mksample failed"
cp "$tiles" "$work/original.kts"

# The server picks a free display itself, so parallel runs cannot collide.
# Without -noreset it would reset, and move the pointer, when a client left.
Xvfb -displayfd 3 -screen 0 800x1100x24 -noreset -nolisten tcp \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    sleep 0.1
done
[[ -s $work/display ]] || fail "Xvfb named no display within 10 s"
export DISPLAY=:$(head -n1 "$work/display")

# 90 % of this screen holds the window only at scale 1, which it starts at.
unset KELBO_SCALE
"$tool" "$tiles" >"$work/stdout" 2>"$work/stderr" &
tool_pid=$!
win=$(timeout 15 xdotool search --sync --name '^Kelbo Tool( |$)' | head -n1) || true
[[ -n $win ]] || fail "no 'Kelbo Tool' window appeared within 15 s"

# The caption follows the editor's state; give it a moment to catch up.
expect_caption() {
    local name=
    for _ in $(seq 50); do
        name=$(xdotool getwindowname "$win") || true
        [[ $name == "$1" ]] && return 0
        sleep 0.1
    done
    fail "caption is '$name', expected '$1'"
}
expect_caption "Kelbo Tool - sample.tileset"

# Keys reach the window only while the pointer is inside it. A pause after
# each step lets the editor catch up: SDL takes a key's release and press
# that wait together in its queue for a repeat, and drops both.
pause() { sleep 0.15; }
move_to() {
    xdotool mousemove --window "$win" "$1" "$2"
    pause
}
click_at() {
    move_to "$1" "$2"
    xdotool click 1
    pause
}
ctrl_key() {
    xdotool keydown Control_L
    pause
    xdotool key "$1"
    pause
    xdotool keyup Control_L
    pause
}

move_to 300 500
click_at $((4 * 32 + 16)) $((1 * 32 + 16)) # position 14
ctrl_key x
click_at 16 $((4 * 32 + 16)) # position 40
ctrl_key v
ctrl_key f
ctrl_key s

for _ in $(seq 50); do
    [[ -s $tiles.swaps ]] && break
    sleep 0.1
done
# The pointer is still over position 40.
expect_caption "Kelbo Tool - sample.tileset - 1 selected - saved - at 40: tile 14"
ctrl_key z # the fill, back past the save
ctrl_key i # details
tile14="tile 14, image 14, a 65, b b7, words 8b626ea7 a9eb2e6f 925d680a 69d4ae0f 6cfad652"
expect_caption "Kelbo Tool - sample.tileset (unsaved) - 1 held - 1 selected - at 40: $tile14"
sleep 0.3
xwd -id "$win" -silent >"$work/editor.xwd" || fail "xwd could not capture the window"
python3 "$here/xwd.py" "$work/editor.xwd" "$out/editor.png" || fail "could not convert the screenshot"
ctrl_key y
expect_caption "Kelbo Tool - sample.tileset - 1 selected - at 40: $tile14"

# Found by its picture, tile 17 tops the view, selected; details still on.
ctrl_key g
for key in i 1 7 Return; do xdotool key $key && pause; done
move_to $((7 * 32 + 16)) 16
expect_caption "Kelbo Tool - sample.tileset - 1 selected - at 17: tile 17, image 17, a 7a, b de, \
words b4d1bb91 6145a9d6 0eaf2148 e5e46d20 78a45a21"
ctrl_key i
xdotool key Home && pause

# Zoomed in, the window shows the same picture with each pixel doubled, and
# a click lands on the position it is over.
xwd -id "$win" -silent >"$work/scale1.xwd" || fail "xwd could not capture the window"
ctrl_key equal
for _ in $(seq 50); do
    xdotool getwindowgeometry "$win" | grep -q 'Geometry: 640x1024' && break
    sleep 0.1
done
sleep 0.3
xwd -id "$win" -silent >"$work/scale2.xwd" || fail "xwd could not capture the zoomed window"
python3 "$here/window_checks.py" doubled "$work/scale1.xwd" "$work/scale2.xwd" ||
    fail "the zoomed window is not the picture doubled"
ctrl_key equal # 960 pixels wide: more than the screen
expect_caption "Kelbo Tool - sample.tileset - 1 selected - largest zoom for this screen - at 3: tile 3"
click_at $((2 * (1 * 32 + 16))) $((2 * (5 * 32 + 16))) # position 51
expect_caption "Kelbo Tool - sample.tileset - 1 selected - at 51: tile 51"
ctrl_key minus

# Tile 57 to position 3 in two actions; with that unsaved, Escape only asks,
# and any other key takes the question back.
click_at $((7 * 32 + 16)) $((5 * 32 + 16)) # position 57
move_to $((3 * 32 + 16)) 16
xdotool keydown Shift_L click 3 keyup Shift_L
expect_caption "Kelbo Tool - sample.tileset (unsaved) - 1 selected - at 3: tile 57"
xdotool key Escape
expect_caption "Kelbo Tool - sample.tileset (unsaved) - 1 selected - unsaved changes: Escape again to quit - at 3: tile 57"
ctrl_key z
expect_caption "Kelbo Tool - sample.tileset - 1 selected - at 3: tile 3"

# Waits for the editor to end; its exit status is then in $status.
wait_exit() {
    status=
    for _ in $(seq 100); do
        if ! kill -0 "$tool_pid" 2>/dev/null; then
            status=0
            wait "$tool_pid" || status=$?
            break
        fi
        sleep 0.1
    done
    [[ -n $status ]] || fail "kelbo-tool did not exit within 10 s of $1"
    tool_pid=
}

xdotool key Escape # nothing unsaved: at once
wait_exit Escape

[[ $status -eq 0 ]] || fail "kelbo-tool exited with status $status: $(tail -n 20 "$work/stderr")"
[[ ! -s $work/stdout ]] || fail "kelbo-tool printed: $(cat "$work/stdout")"
[[ -f $tiles.swaps ]] || fail "no swap list was written"
printf '40 14\n14 40\n' >"$work/expected.swaps"
cmp -s "$tiles.swaps" "$work/expected.swaps" ||
    fail "swap list is '$(cat "$tiles.swaps")', expected '40 14\n14 40\n'"
cmp -s "$tiles" "$work/original.kts" && fail "the tileset file was not rewritten"

# The tables and the screenshot.
python3 "$here/window_checks.py" saved "$tiles" "$work/editor.xwd" ||
    fail "the saved file or the screenshot is wrong"

# Ended from outside, the editor keeps unsaved work in the private folder:
# the file as Ctrl+F then Ctrl+S would have saved it, with its swap list
# from the file on disk beside it. Nothing is written when nothing is
# unsaved; the next session of the file takes the work back.
start_editor() {
    cp "$work/original.kts" "$1"
    "$tool" "$1" >"$work/stdout" 2>"$work/stderr" &
    tool_pid=$!
    win=$(timeout 15 xdotool search --sync --name '^Kelbo Tool( |$)' | head -n1) || true
    [[ -n $win ]] || fail "no window for $1"
    move_to 300 500
}
# Position 5 and 7 swapped: unsaved tables.
swap_5_and_7() {
    click_at $((5 * 32 + 16)) 16
    move_to $((7 * 32 + 16)) 16
    xdotool click 3
    pause
}
hold_tile_20() {
    click_at 16 $((2 * 32 + 16))
    ctrl_key x
}
check_copy() { # TILESET: the one copy kept of it, and its list
    python3 "$here/window_checks.py" rescue "$XDG_STATE_HOME/kelbo-tool/${1##*/}" "$work/original.kts" \
        "$work/stdout" "$tool" || fail "rescue of $1 is wrong"
}

start_editor "$work/quiet.kts"
kill -TERM "$tool_pid"
wait_exit SIGTERM
[[ $status -eq 1 ]] || fail "ended by SIGTERM, the editor exited with status $status"
[[ ! -s $work/stdout ]] || fail "an editor with nothing unsaved printed: $(cat "$work/stdout")"
[[ -z $(ls "$XDG_STATE_HOME/kelbo-tool" 2>/dev/null) ]] || fail "a copy was kept with nothing unsaved"

start_editor "$work/back.kts"
swap_5_and_7
kill -TERM "$tool_pid"
wait_exit SIGTERM
"$tool" "$work/back.kts" >"$work/stdout" 2>"$work/stderr" &
tool_pid=$!
win=$(timeout 15 xdotool search --sync --name '^Kelbo Tool( |$)' | head -n1) || true
move_to 300 500
expect_caption "Kelbo Tool - back.kts (unsaved) - unsaved work from an earlier session restored - at 159: tile 159"
ctrl_key z
expect_caption "Kelbo Tool - back.kts - at 159: tile 159"
xdotool key Escape
wait_exit "a quit"
[[ $status -eq 0 && -z $(ls "$XDG_STATE_HOME/kelbo-tool") ]] ||
    fail "quit after a restore: status $status, kept $(ls "$XDG_STATE_HOME/kelbo-tool")"

start_editor "$work/term.kts"
swap_5_and_7
# Messages reach a file at once, not when the program ends.
printf '9 9\n' >"$work/nothing.swaps"
"$tool" "$work/term.kts" "$work/nothing.swaps"
ctrl_key s
for _ in $(seq 50); do
    [[ -s $work/stdout ]] && break
    sleep 0.1
done
[[ $(cat "$work/stdout") == "Tileset file has changed since it was opened: $work/term.kts" ]] ||
    fail "the message did not reach the file while the editor ran: '$(cat "$work/stdout")'"
hold_tile_20
kill -TERM "$tool_pid"
wait_exit SIGTERM
[[ $status -eq 1 ]] || fail "ended by SIGTERM, the editor exited with status $status"
check_copy "$work/term.kts"

start_editor "$work/display.kts"
swap_5_and_7
hold_tile_20
kill "$xvfb_pid"
wait "$xvfb_pid" 2>/dev/null || true
xvfb_pid=
wait_exit "the display's end"
[[ $status -eq 1 ]] || fail "with its display gone, the editor exited with status $status"
check_copy "$work/display.kts"

echo "real_window: passed; screenshot in $out/editor.png"
