#!/usr/bin/env bash
# Checks that every C and C++ file git tracks is laid out as the root .clang-format says; names
# the files that are not. Format them with: git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
command -v clang-format >/dev/null || {
    echo "clang-format not found (Debian package clang-format)" >&2
    exit 1
}
mapfile -t files < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
bad=()
for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if ((${#bad[@]})); then
    printf 'not formatted: %s\n' "${bad[@]}"
    exit 1
fi
echo "${#files[@]} files formatted"
