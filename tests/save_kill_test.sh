#!/usr/bin/env bash
# Kills batch replays of a large tileset with SIGKILL at random moments and
# checks, after each kill, that the file is byte for byte either the old or
# the new one and that nothing else is left in its folder once the next save
# has run (a temporary left by a kill is removed once it is a minute old).
#
#   save_kill_test.sh KELBO_TOOL KELBO_MKSAMPLE [KILLS=200] [SIZE_MB=64]
set -euo pipefail

if [[ $# -lt 2 ]]; then
    echo "usage: $0 KELBO_TOOL KELBO_MKSAMPLE [KILLS] [SIZE_MB]" >&2
    exit 2
fi
tool=$1
mksample=$2
kills=${3:-200}
size_mb=${4:-64}

work=$(mktemp -d "${TMPDIR:-/tmp}/kelbo-kill-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/target"
tiles=$work/target/tiles.dat
list=$work/target/tiles.swaps

fail() {
    echo "save_kill: $*" >&2
    exit 1
}

# A sample with SIZE_MB of opaque bytes as its block stream, which a replay
# carries through unread.
"$mksample" "$work/sample.dat" >/dev/null || fail "kelbo-mksample failed"
python3 - "$work/sample.dat" "$work/old.dat" "$size_mb" <<'EOF'
import os, struct, sys, zlib
data = bytearray(open(sys.argv[1], "rb").read())
packed = [struct.unpack_from("<I", data, 230 + 8 * i)[0] for i in range(4)]
body = bytes(data[262:262 + sum(packed[:3])]) + os.urandom(int(sys.argv[3]) << 20)
struct.pack_into("<II", data, 230 + 24, len(body) - sum(packed[:3]), len(body) - sum(packed[:3]))
struct.pack_into("<II", data, 222, 262 + len(body), zlib.crc32(body))
open(sys.argv[2], "wb").write(bytes(data[:262]) + body)
EOF
printf '5 7\n7 5\n10 12\n12 10\n' >"$list"

cp "$work/old.dat" "$tiles"
# A temporary takes the file's mode; only one of ours, 0600, is removed.
chmod 600 "$tiles"
start=$(date +%s%N)
out=$("$tool" "$tiles" "$list")
took_ms=$((($(date +%s%N) - start) / 1000000))
[[ -z $out ]] || fail "an undisturbed replay printed: $out"
cp "$tiles" "$work/new.dat"
cmp -s "$work/old.dat" "$work/new.dat" && fail "the replay changed nothing"

olds=0 news=0 strays=0
for ((i = 1; i <= kills; i++)); do
    cp "$work/old.dat" "$tiles"
    "$tool" "$tiles" "$list" >/dev/null &
    pid=$!
    delay=$((RANDOM % (took_ms + took_ms / 4 + 1)))
    sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if cmp -s "$tiles" "$work/old.dat"; then
        olds=$((olds + 1))
    elif cmp -s "$tiles" "$work/new.dat"; then
        news=$((news + 1))
    else
        fail "kill $i after ${delay} ms left a file that is neither the old nor the new one"
    fi
    # A kill between naming the new file and renaming it over the old one
    # may leave it; a later save in the folder must remove it once it is
    # old enough not to be another save's.
    left=$(ls -A "$work/target" | grep -v -x -e tiles.dat -e tiles.swaps || true)
    if [[ -n $left ]]; then
        strays=$((strays + 1))
        for name in $left; do touch -h -d '2 minutes ago' "$work/target/$name"; done
        "$tool" "$tiles" "$list" >/dev/null
        left=$(ls -A "$work/target" | grep -v -x -e tiles.dat -e tiles.swaps || true)
        [[ -z $left ]] || fail "kill $i after ${delay} ms left, even after the next save: $left"
    fi
done
echo "save_kill: $kills kills of a ${took_ms} ms replay: $olds left the old file, $news the new one;" \
    "$strays left a temporary that the next save removed"
