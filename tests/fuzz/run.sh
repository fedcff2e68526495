#!/bin/sh
# Runs every built fuzz target of build-fuzz from its committed corpus for the given
# seconds, two at a time. New inputs go to build-fuzz/work/<name>, crashes to
# build-fuzz/artifacts/; the status is non-zero when any target found something.
#   tests/fuzz/run.sh SECONDS [name...]
# KQ_FUZZ_BUILD_DIR names another build folder (build-fuzz-uncapped), and
# KQ_FUZZ_ULIMIT_KB runs the targets under that address-space limit.
# (Leaks are not reported: the fuzz build turns the fatal exit, after which the
# program ends, into an exception, so what a fatal path leaves allocated is no leak.)
set -u
export ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
root=$(cd "$(dirname "$0")/../.." && pwd)
secs=${1:-20}
shift
build=$root/${KQ_FUZZ_BUILD_DIR:-build-fuzz}
names=${*:-$(cd "$build" && ls fuzz_* 2>/dev/null | sed 's/^fuzz_//')}
mkdir -p "$build/artifacts"
status=0
run_one() {
    mkdir -p "$build/work/$1"
    log="$build/work/$1.log"
    (
        [ -z "${KQ_FUZZ_ULIMIT_KB:-}" ] || ulimit -v "$KQ_FUZZ_ULIMIT_KB"
        exec "$build/fuzz_$1" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
            -close_fd_mask=3 -detect_leaks=0 -print_final_stats=1 -artifact_prefix="$build/artifacts/$1-" \
            "$build/work/$1" "$root/tests/fuzz/corpus/$1"
    ) >"$log" 2>&1
    rc=$?
    echo "$(basename "$build")/fuzz_$1: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)"
    [ $rc -eq 0 ] || { echo "fuzz_$1 FAILED (see $log):"; grep -m3 -E 'ERROR|SUMMARY|deadly' "$log"; }
    return $rc
}
set -- $names
while [ $# -gt 0 ]; do
    run_one "$1" & a=$!
    b=
    if [ $# -gt 1 ]; then run_one "$2" & b=$!; fi
    wait $a || status=1
    if [ -n "$b" ]; then wait $b || status=1; fi
    shift; [ $# -gt 0 ] && shift
done
exit $status
