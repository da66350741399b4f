#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) and runs each for a bounded time.
#
#   fuzz/run.sh [SECONDS] [TARGET...]     default: 30 seconds each, every target
#
# Each target starts from its checked-in corpus (fuzz/corpus/<target>: seeds and the inputs of
# earlier crashes) plus the inputs it found in earlier runs of this build folder. A crash, leak,
# sanitizer report or failed check stops that target, keeps the input as
# <build>/artifacts/<target>-crash-..., and makes the script exit with 1 after the others ran.
# A summary line per target gives the executions run and the crashes found.
#
# Environment: FUZZ_BUILD_DIR (default build/fuzz), FUZZ_JOBS (build jobs, default 2).
# To fuzz longer, pass more seconds (e.g. 3600); add a crash input to the corpus as
# fuzz/corpus/<target>/crash-<what> once it is fixed, so every later run replays it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift 2>/dev/null || true
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
mapfile -t all_targets < <(sed -n 's/^card_fuzz_target(\([a-z_]*\).*/\1/p' "$root/fuzz/CMakeLists.txt")
[ $# -gt 0 ] && targets=("$@") || targets=("${all_targets[@]}")

cmake -S "$root/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target "${targets[@]}" >/dev/null || exit 1

mkdir -p "$build/artifacts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
summary=()
for t in "${targets[@]}"; do
    work="$build/corpus/$t"
    mkdir -p "$work"
    log="$build/$t.log"
    "$build/$t" "$work" "$root/fuzz/corpus/$t" -max_total_time="$seconds" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
        >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    crashes=0
    if [ $rc -ne 0 ]; then
        crashes=1
        status=1
        echo "== $t failed (exit $rc); end of its log ($log):"
        tail -40 "$log"
    fi
    summary+=("$(printf '%-26s %4ss  executions %10s  crashes %s  corpus %s' "$t" "$seconds" \
                 "${execs:-?}" "$crashes" "$(ls "$work" | wc -l)")")
done
printf '%s\n' "${summary[@]}"
exit $status
