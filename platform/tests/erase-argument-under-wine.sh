#!/usr/bin/env bash
# Builds the argument-erasing probe for both MinGW architectures (warnings are errors) and runs
# the x86_64 one under 64-bit Wine with a request holding a PIN; the i686 one is built only,
# since these machines run no 32-bit programs.
#
#   erase-argument-under-wine.sh WORK_DIR
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
(($# == 1)) || {
    echo "usage: $0 WORK_DIR" >&2
    exit 2
}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
work=$(cd "$1" && pwd)

for arch in x86_64 i686; do
    "$arch-w64-mingw32-g++" -std=c++17 -Wall -Wextra -Werror -O2 -static -I"$here/.." \
        "$here/erase_argument_probe.cpp" "$here/../process_guard_win32.cpp" -lntdll \
        -o "$work/erase_argument_probe-$arch.exe"
done

# A prefix of this test's own; no display, so nothing can wait for a user.
export WINEPREFIX=$work/prefix
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
cd "$work"
wine ./erase_argument_probe-x86_64.exe '{"CA_Function":"checkPin","sPin":"7351","slotID":"0"}'
