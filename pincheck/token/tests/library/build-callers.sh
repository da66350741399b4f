#!/usr/bin/env bash
# Installs the token API library from a built tree into a private prefix (its two components
# only) and builds the caller program of caller/ against that installation, as other programs
# would: with pkg-config and the C compiler (WORK_DIR/caller-pkg-config) and with CMake's
# find_package (WORK_DIR/caller-find-package); checks that both load the installed library.
# Given a MinGW toolchain file, the tree is a Windows cross build: the caller is built with
# find_package only (the cross-built crypto library comes without a pkg-config file) into
# WORK_DIR/caller-find-package.exe, which must import tokenapi.dll.
#
#   build-callers.sh [--toolchain FILE] BUILD_DIR WORK_DIR [COMPILER_FLAGS]
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
fail() {
    echo "FAIL: $*"
    exit 1
}
# Runs a CMake step into the log, which is shown when the step fails.
logged() {
    "$@" >>"$work/cmake.log" 2>&1 || {
        cat "$work/cmake.log"
        exit 1
    }
}
toolchain=""
if [[ ${1:-} == --toolchain ]]; then
    toolchain=$2
    shift 2
fi
(($# == 2 || $# == 3)) || {
    echo "usage: $0 [--toolchain FILE] BUILD_DIR WORK_DIR [COMPILER_FLAGS]" >&2
    exit 2
}
build=$1
flags=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$2"
mkdir -p "$2"
work=$(cd "$2" && pwd)
prefix=$work/prefix

for component in runtime development; do
    cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done

if [[ -n $toolchain ]]; then
    logged cmake -S "$here/caller" -B "$work/cmake-build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_EXE_LINKER_FLAGS=-static
    logged cmake --build "$work/cmake-build"
    cp "$work/cmake-build/token_api_caller.exe" "$work/caller-find-package.exe"
    objdump=$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' "$work/cmake-build/CMakeCache.txt")
    [[ $("$objdump" -p "$work/caller-find-package.exe") == *"DLL Name: tokenapi.dll"* ]] ||
        fail "caller-find-package.exe does not import tokenapi.dll"
    echo "Windows caller built against $prefix"
    exit 0
fi

pc=$(find "$prefix" -name tokenapi.pc)
[[ -n $pc ]] || fail "no tokenapi.pc installed"
export PKG_CONFIG_PATH=$(dirname "$pc")
# shellcheck disable=SC2046,SC2086 # the flags are word lists
cc -std=c11 -Wall -Wextra -Werror $flags $(pkg-config --cflags tokenapi) \
    "$here/caller/token_api_caller.c" -o "$work/caller-pkg-config" \
    $(pkg-config --libs tokenapi) -Wl,-rpath,"$(pkg-config --variable=libdir tokenapi)"

logged cmake -S "$here/caller" -B "$work/cmake-build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
logged cmake --build "$work/cmake-build"
cp "$work/cmake-build/token_api_caller" "$work/caller-find-package"

for caller in "$work/caller-pkg-config" "$work/caller-find-package"; do
    loaded=$(ldd "$caller" | awk '$1 == "libtokenapi.so.1" { print $3 }')
    [[ $(readlink -f "$loaded") == "$prefix"/* ]] ||
        fail "$(basename "$caller") loads libtokenapi.so.1 from '$loaded', not from $prefix"
done
echo "callers built against $prefix"
