#!/bin/sh
# Usage: manpage_test.sh PAGE
# The manual page must render without a single warning.
if command -v groff >/dev/null; then
    out=$(groff -man -ww -z -Tutf8 "$1" 2>&1)
elif command -v mandoc >/dev/null; then
    out=$(mandoc -T lint "$1" 2>&1)
else
    echo "neither groff nor mandoc is installed"
    exit 1
fi
[ -z "$out" ] || { printf '%s\n' "$out"; exit 1; }
