#!/usr/bin/env bash
# Runs every fuzz target for a while, one after another.
# Usage: run-fuzz.sh BUILD_DIR SECONDS [TARGET...]
#   BUILD_DIR  a build configured with -DKELBO_FUZZ=ON (make fuzz does that)
#   SECONDS    time per target
#   TARGET     fuzz_tileset, fuzz_swap_list, fuzz_editor (default: all)
# Seeds are generated into BUILD_DIR/corpus/<target>/ when absent; the
# corpus grows there across runs. libFuzzer's output goes to
# BUILD_DIR/fuzz-logs/<target>.log, crashing inputs to
# BUILD_DIR/fuzz-artifacts/<target>/. Exits non-zero if any target failed.
set -uo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS [TARGET...]"
    exit 2
fi
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)" || exit 2
seconds="$2"
shift 2
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_tileset fuzz_swap_list fuzz_editor)

export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$repo/tests/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"

corpus="$build/corpus"
logs="$build/fuzz-logs"
mkdir -p "$logs"
for t in fuzz_tileset fuzz_swap_list fuzz_editor; do
    if [ ! -d "$corpus/$t" ]; then
        "$build/fuzz/kelbo-fuzz-seeds" "$corpus" || exit 1
        break
    fi
done

status=0
for target in "${targets[@]}"; do
    exe="$build/fuzz/$target"
    if [ ! -x "$exe" ]; then
        echo "$target: not built ($exe)"
        status=1
        continue
    fi
    artifacts="$build/fuzz-artifacts/$target"
    mkdir -p "$corpus/$target" "$artifacts"
    log="$logs/$target.log"
    # Event strings need room for long sessions; the other targets take
    # their limit from the largest seed.
    extra=()
    [ "$target" = fuzz_editor ] && extra=(-max_len=1024)
    # The targets' own messages (stdout) are noise at this rate; libFuzzer
    # and the sanitizers report on stderr, which the log keeps.
    "$exe" "$corpus/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "${extra[@]}" >/dev/null 2>"$log"
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -Eo 'cov: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)
    units=$(ls "$corpus/$target" | wc -l)
    if [ $rc -eq 0 ]; then
        echo "$target: ok, ${execs:-?} executions in ${seconds}s, coverage ${cov:-?}, corpus $units"
    else
        status=1
        found=$(ls -t "$artifacts" 2>/dev/null | head -n 1)
        echo "$target: FAILED (exit $rc) after ${execs:-?} executions;" \
            "input ${found:+$artifacts/$found}; see $log"
        grep -m 3 -E 'ERROR|SUMMARY|runtime error' "$log" | sed 's/^/    /'
    fi
done
exit $status
