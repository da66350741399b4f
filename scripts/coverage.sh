#!/usr/bin/env bash
# Line and branch coverage of the product code that runs on Linux: builds the tree with gcov
# instrumentation, runs the suite (without the cross builds and Wine runs, which exercise other
# binaries), then reports per deliverable with gcovr. Test code, test tools and the fuzz targets
# are left out of the figures; Windows-only files are not compiled here and so not counted.
#
#   coverage.sh [BUILD_DIR]     default build/coverage; HTML report in BUILD_DIR/coverage/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/coverage}
bash "$root/scripts/install-deps.sh"
command -v gcovr >/dev/null || {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gcovr >/dev/null
}

cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCARD_COVERAGE=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" >/dev/null
find "$dir" -name '*.gcda' -delete
# The tests that run a program as another user are left out: an instrumented program cannot
# write its counts into this tree then, and says so on standard error, which those tests read.
# So are the package checks: they run no product code, and lintian rightly finds the
# instrumented binaries unfortified.
(cd "$dir" && ctest -j "$(nproc)" --timeout 300 -LE 'windows|wine|style|packaging' -E 'CannotAttach' \
    --output-on-failure) ||
    echo "(some tests failed; the figures below still count what ran)"

# Gcov's throw and unreachable branches are the compiler's, not decisions in the code. The counts
# are searched for in this build only: other build trees may hold Wine prefixes whose drive links
# lead to the whole file system.
common=("$dir" -r "$root" --object-directory "$dir" --exclude-throw-branches
        --exclude-unreachable-branches --exclude '.*/tests?/.*' --exclude '.*/testing/.*'
        --exclude '.*/fuzz/.*' --exclude '.*/build[^/]*/.*')
mkdir -p "$dir/coverage"
printf '%-12s %8s %8s\n' deliverable lines branches
for part in pincheck cardread carddata servicectl common platform; do
    [[ -d $root/$part ]] || continue
    summary=$(gcovr "${common[@]}" --filter "$root/$part/" --print-summary -o "$dir/coverage/$part.txt")
    lines=$(awk '/^lines:/ { print $2 }' <<<"$summary")
    branches=$(awk '/^branches:/ { print $2 }' <<<"$summary")
    printf '%-12s %8s %8s\n' "$part" "$lines" "$branches"
done
gcovr "${common[@]}" --filter "$root/(pincheck|cardread|carddata|servicectl|common|platform)/" \
    --print-summary --html-details "$dir/coverage/index.html" | tail -n 3
echo "per-line report: $dir/coverage/index.html"
