#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, and exits with its status.
# Usage: scripts/wine-run.sh [--xvfb] PROGRAM.exe [ARGS...]
#        scripts/wine-run.sh [--xvfb] --session COMMAND [ARGS...]
#   --xvfb     on a fresh Xvfb screen, for programs that open a window on
#              their own; a test that drives a window itself runs this
#              script inside its own xvfb-run instead.
#   --session  runs a host COMMAND (ctest, a test script) with Wine's server
#              kept up throughout: each program this script then runs inside
#              it starts in about 0.1 s instead of 2 s.
# The Wine prefix is build-windows/wineprefix (KELBO_WINEPREFIX overrides),
# made on first use. The program's output goes to files and is printed
# only once Wine's server has gone: Wine's background processes inherit
# the program's descriptors, and a caller reading a pipe would otherwise
# wait for ever. Exit statuses are Windows' modulo 256: a crash with
# 0xC0000005 gives 5.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --xvfb ]; then
    shift
    exec xvfb-run -a -s '-screen 0 800x700x24 -noreset' "$here/wine-run.sh" "$@"
fi
session=""
if [ "${1:-}" = --session ]; then
    session=1
    shift
fi
[ $# -ge 1 ] || {
    echo "usage: $0 [--xvfb] [--session] PROGRAM.exe|COMMAND [ARGS...]" >&2
    exit 2
}

prefix=${KELBO_WINEPREFIX:-$here/../build-windows/wineprefix}
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX
WINEPREFIX=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
export WINEDEBUG=-all
# Making the prefix would otherwise offer to download Mono and Gecko, and
# add menu entries to the user's desktop.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}

# Runs share the prefix and its server (shared lock); the last one out
# stops the server (exclusive lock). Making the prefix is exclusive too.
# Nothing of Wine's may hold the lock, so each Wine command closes it.
exec 9>>"$WINEPREFIX.lock"
if [ ! -f "$WINEPREFIX/.ready" ]; then
    flock -x 9
    if [ ! -f "$WINEPREFIX/.ready" ]; then
        # Its message about a missing syswow64\rundll32.exe is harmless:
        # there is no 32-bit Wine and nothing needs one.
        wine wineboot -i >"$WINEPREFIX.init.log" 2>&1 </dev/null 9>&-
        # No debugger on a crash: winedbg would print to the program's
        # output, end it with status 0, or wait on a dialog under Xvfb.
        # Without one the process ends with the exception code.
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
            /v Debugger /t REG_SZ /d '' /f >>"$WINEPREFIX.init.log" 2>&1 </dev/null 9>&-
        wineserver -w 9>&-
        touch "$WINEPREFIX/.ready"
    fi
fi
flock -s 9

# A server already running (another run's) answers -p with an error.
wineserver -p >/dev/null 2>&1 </dev/null 9>&- || true
status=0
if [ -n "$session" ]; then
    "$@" 9>&- || status=$?
else
    out=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX")
    trap 'rm -rf "$out"' EXIT
    wine "$@" >"$out/stdout" 2>"$out/stderr" 9>&- || status=$?
fi
flock -u 9
if flock -xn 9; then
    wineserver -k >/dev/null 2>&1 </dev/null 9>&- || true
    wineserver -w >/dev/null 2>&1 </dev/null 9>&- || true
fi
if [ -z "$session" ]; then
    cat "$out/stdout"
    cat "$out/stderr" >&2
fi
exit "$status"
