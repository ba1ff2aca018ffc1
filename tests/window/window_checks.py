"""What real_window_test.sh checks after the editor has run, read without
the program's own code: the zoomed window, the saved tables with the
screenshot, and a rescue of unsaved work. Exits non-zero with the reason.

    window_checks.py doubled SCALE1.xwd SCALE2.xwd
    window_checks.py saved TILESET EDITOR.xwd
    window_checks.py rescue TILESET_IN_STATE ORIGINAL STDOUT KELBO_TOOL
"""
import glob
import os
import stat
import struct
import subprocess
import sys
import tempfile
import zlib

import xwd


def doubled(scale1, scale2):
    w1, h1, small = xwd.read_xwd(scale1)
    w2, h2, big = xwd.read_xwd(scale2)
    if (w2, h2) != (2 * w1, 2 * h1):
        sys.exit("zoomed window is %dx%d, expected %dx%d" % (w2, h2, 2 * w1, 2 * h1))
    for y in range(h2):
        for x in range(w2):
            if big[y][x] & 0xFFFFFF != small[y // 2][x // 2] & 0xFFFFFF:
                sys.exit("pixel (%d, %d) differs from (%d, %d) at scale 1" % (x, y, x // 2, y // 2))


def saved(tiles, screenshot):
    data = open(tiles, "rb").read()
    packed_size = struct.unpack_from("<I", data, 230)[0]
    info = zlib.decompress(data[262 : 262 + packed_size])
    N = 1024  # the small sample's table capacity
    problems = []

    def image_offset(p):
        return struct.unpack_from("<I", info, 1028 + 2 * N + 4 * p)[0]

    expected = {14: 40 * 1024, 40: 14 * 1024}
    for p in range(300):
        want = expected.get(p, p * 1024)
        if image_offset(p) != want:
            problems.append("image_offset at %d is %d, expected %d" % (p, image_offset(p), want))

    def colour(c):
        r, g, b = info[4 * c : 4 * c + 3]
        return r << 16 | g << 8 | b

    width, height, rows = xwd.read_xwd(screenshot)
    if (width, height) != (320, 512):
        problems.append("window is %dx%d, expected 320x512" % (width, height))
    else:
        def check(what, x, y, want):
            got = rows[y][x] & 0xFFFFFF
            if got != want:
                problems.append("%s: pixel (%d, %d) is %06X, expected %06X" % (what, x, y, got, want))

        # Undone to before the fill: 14 empty, tile 14 at the selected 40.
        check("position 0's transparent corner", 0, 0, 0x4F30A8)
        check("position 0's ground", 28, 28, colour(16))
        check("the cross of empty position 14", 4 * 32 + 5, 32 + 5, 0x000000)
        check("the ground of empty position 14", 4 * 32 + 5, 32 + 12, 0x4F30A8)
        check("tile 14 at position 40, inverted", 28, 4 * 32 + 28, colour(16 + 14) ^ 0xFFFFFF)
        check("the frame of position 40", 0, 4 * 32 + 12, 0xC0C0C0)
        check("position 41 unchanged", 32 + 28, 4 * 32 + 28, colour(16 + 41))
        check("digits of the last row", 9 * 32 + 16, 15 * 32 + 11, 0xFFFFFF)

    for problem in problems:
        print("real_window:", problem, file=sys.stderr)
    sys.exit(1 if problems else 0)


def rescue(tiles, original, stdout, tool):
    copies = glob.glob(tiles + ".kelbo-rescue-*")
    copies = [c for c in copies if not c.endswith((".swaps", ".origin"))]
    if len(copies) != 1:
        sys.exit("expected one recovery copy, found %r" % copies)
    copy = copies[0]
    said = open(stdout).read().splitlines()[-1]
    if said != "The new content is kept in: %s" % copy:
        sys.exit("stdout ended with %r" % said)
    if stat.S_IMODE(os.stat(copy).st_mode) != 0o600:
        sys.exit("copy mode %o" % stat.S_IMODE(os.stat(copy).st_mode))
    if open(copy + ".swaps").read() != "7 5\n5 7\n":
        sys.exit("copy's list is %r" % open(copy + ".swaps").read())
    with tempfile.TemporaryDirectory() as d:
        replay = os.path.join(d, "replay.kts")
        open(replay, "wb").write(open(original, "rb").read())
        subprocess.run([tool, replay, copy + ".swaps"], check=True, stdout=subprocess.DEVNULL)
        if open(replay, "rb").read() != open(copy, "rb").read():
            sys.exit("the list does not replay the original to the copy")


if __name__ == "__main__":
    {"doubled": doubled, "saved": saved, "rescue": rescue}[sys.argv[1]](*sys.argv[2:])
