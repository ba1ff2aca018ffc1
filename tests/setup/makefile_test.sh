#!/bin/sh
# Usage: makefile_test.sh SRC
# `make run` and `make test` must reach the package installer on a fresh
# machine. make never searches pattern rules for a phony target, so an
# installer step written as one would silently vanish; a dry run shows it.
unset MAKEFLAGS MFLAGS MAKELEVEL
status=0
for target in run test; do
    if ! make -n -C "$1" "$target" 2>&1 | grep -q 'scripts/install-deps\.sh'; then
        echo "make $target does not reach scripts/install-deps.sh"
        status=1
    fi
done
exit $status
