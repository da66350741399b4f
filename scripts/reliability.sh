#!/usr/bin/env bash
# Reliability runs beyond the test suite: every fuzz target for a bounded time (clang, libFuzzer,
# ASan + UBSan), and with --full the load tests at their full counts.
#
#   scripts/reliability.sh                 CI: each fuzz target 20 seconds
#   scripts/reliability.sh --full [SECS]   each fuzz target SECS (default 600), then the load
#                                          tests with 1000 pincheck runs, 300 carddata runs and
#                                          20 rounds of two concurrent runs, in the built tree
#                                          RELIAB_BUILD_DIR (default build/test-asan)
#
# The fault tests and the short load runs (50, 30, 3) are part of the suite (ctest -R
# reliability) and run in both of its builds. Exit status 1 when a fuzz target or a test failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
status=0

if [ "${1:-}" = "--full" ]; then
    seconds=${2:-600}
    bash "$root/fuzz/run.sh" "$seconds" || status=1
    build=${RELIAB_BUILD_DIR:-$root/build/test-asan}
    if [ ! -f "$build/CTestTestfile.cmake" ]; then
        echo "no built tree in $build: run scripts/test.sh first (or set RELIAB_BUILD_DIR)"
        exit 1
    fi
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/testing/lsan.supp}
    (cd "$build" && RELIAB_PINCHECK_RUNS=1000 RELIAB_CARDDATA_RUNS=300 RELIAB_CONCURRENT_ROUNDS=20 \
        ctest -R 'reliability\.' --output-on-failure --timeout 3600) || status=1
else
    bash "$root/fuzz/run.sh" "${FUZZ_SECONDS:-20}" || status=1
fi
exit $status
