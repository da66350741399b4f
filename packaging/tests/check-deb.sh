#!/usr/bin/env bash
# Builds the Debian package from a built tree with CPack and checks it without installing it:
#   - it holds the two programs, the library and the README in the usual places, and nothing else;
#   - it depends on the package of every shared library the programs and the library need, as
#     the dynamic loader resolves them on this machine (an oracle apart from dpkg-shlibdeps);
#   - unpacked anywhere, carddata finds the packaged libcardread and runs, pincheck runs;
#   - stripping kept the exports: libcardread exports readUserData only, pincheck its API list.
#
#   check-deb.sh BUILD_DIR WORK_DIR
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
(($# == 2)) || {
    echo "usage: $0 BUILD_DIR WORK_DIR" >&2
    exit 2
}
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$2"
mkdir -p "$2"
work=$(cd "$2" && pwd)

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
}
shopt -s nullglob
debs=("$work"/*.deb)
if ((${#debs[@]} != 1)); then
    echo "FAIL: expected one .deb in $work, found ${#debs[@]}"
    exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == card-programs ]] || fail "package name $(field Package)"
version=$(sed -n 's/^project(CardPrograms VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[[ $(field Version) == "$version" ]] || fail "version $(field Version), project says $version"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] ||
    fail "architecture $(field Architecture)"
[[ -n $(field Maintainer) ]] || fail "no maintainer"
[[ -n $(field Description) ]] || fail "no description"
depends=$(field Depends)
echo "Depends: $depends"
# The package names alone, one per line (versions and alternatives cut).
depended=$(tr ',|' '\n' <<<"$depends" | awk '{ print $1 }')
[[ $(field Recommends) == *pcscd* ]] || fail "pcscd not recommended"

# Regular files only; directories come with them.
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
expected=$(printf '%s\n' ./usr/bin/carddata ./usr/bin/pincheck ./usr/lib/libcardread.so \
    ./usr/share/doc/card-programs/README.md | sort)
[[ $files == "$expected" ]] || fail "package files:
$files
expected:
$expected"

unpacked=$work/root
dpkg-deb -x "$deb" "$unpacked"
cmp -s "$unpacked/usr/share/doc/card-programs/README.md" "$root/README.md" ||
    fail "packaged README differs from the project's"

# Every library the packaged binaries need must come from a declared dependency, except the
# package's own libcardread.
for elf in "$unpacked/usr/bin/carddata" "$unpacked/usr/bin/pincheck" \
    "$unpacked/usr/lib/libcardread.so"; do
    [[ -f $elf ]] || continue
    for needed in $(readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        [[ $needed == libcardread.so ]] && continue
        # awk reads to the end: a reader that quits early would break the pipe under pipefail.
        path=$(ldconfig -p | awk -v lib="$needed" '$1 == lib && !found { print $NF; found = 1 }')
        if [[ -z $path ]]; then
            fail "$(basename "$elf") needs $needed, which this machine does not have"
            continue
        fi
        owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | sed -n '1s/:.*//p') || owner=""
        if [[ -z $owner ]]; then
            owner=$(dpkg -S "$path" 2>/dev/null | sed -n '1s/:.*//p') || owner=""
        fi
        if [[ -z $owner ]]; then
            fail "no Debian package owns $path ($needed)"
        elif ! grep -qxF "$owner" <<<"$depended"; then
            fail "$(basename "$elf") needs $needed from $owner, not in Depends"
        fi
    done
done

carddata=$unpacked/usr/bin/carddata
if [[ -x $carddata ]]; then
    resolved=$(ldd "$carddata" | awk '$1 == "libcardread.so" { print $3 }')
    [[ -n $resolved ]] && resolved=$(readlink -f "$resolved")
    [[ $resolved == "$unpacked/usr/lib/libcardread.so" ]] ||
        fail "carddata resolves libcardread.so to '$resolved', not the packaged one"
    # No request: carddata answers with its JSON line and exit status 0, before any PC/SC call.
    status=0
    reply=$(env -u LD_LIBRARY_PATH "$carddata" 2>/dev/null) || status=$?
    [[ $status == 0 && $reply == '{"msg":'* ]] ||
        fail "packaged carddata did not run: status $status, reply '$reply'"
fi
pincheck=$unpacked/usr/bin/pincheck
if [[ -x $pincheck ]]; then
    # No argument: the failure reply with 9988 on standard error, exit status 1.
    status=0
    err=$("$pincheck" 2>&1 >/dev/null) || status=$?
    [[ $status == 1 && $err == *9988* ]] ||
        fail "packaged pincheck did not run: status $status, stderr '$err'"
fi

# Stripping must leave the dynamic exports alone.
library_exports=$(nm -D --defined-only "$unpacked/usr/lib/libcardread.so" |
    awk '$2 == "T" { print $3 }' | sort | tr '\n' ' ')
[[ $library_exports == "readUserData " ]] ||
    fail "libcardread.so exports [$library_exports], expected [readUserData ]"
api=$(sed -n 's/^ *\([A-Za-z]*\);.*/\1/p' "$root/pincheck/token/token_exports.list" | sort)
program_exports=$(nm -D --defined-only "$pincheck" | awk '$2 == "T" { print $3 }' | sort)
missing=$(comm -23 <(echo "$api") <(echo "$program_exports") | tr '\n' ' ')
[[ -z $missing ]] || fail "packaged pincheck lost exports: $missing"

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
