#!/usr/bin/env bash
# Builds and runs the whole suite twice: a plain build, then one with AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails a test); between them the fuzz targets' short runs
# and the reproducibility check of the packages. Ends with CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

jobs=$(nproc)
status=0
run_suite() {
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j "$jobs" >/dev/null
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300) || status=1
}

echo "== plain build"
run_suite "$root/build/test-plain"
echo "== fuzz targets, a short run each (clang, libFuzzer, ASan + UBSan)"
bash "$root/scripts/reliability.sh" || status=1
echo "== reproducible packages: the .deb files and both Windows builds made twice, compared"
bash "$root/scripts/check-reproducible.sh" --all || status=1
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/testing/lsan.supp
run_suite "$root/build/test-asan" -DCARD_SANITIZE=ON
exit $status
