#!/usr/bin/env bash
# Builds the Debian packages from a built tree with CPack and checks them without installing them:
# each holds exactly its files in the usual places and depends on the package of every shared
# library its binaries need, as the dynamic loader resolves them here (an oracle apart from
# dpkg-shlibdeps); unpacked anywhere, the programs run and find the packaged libcardread, and
# pkg-config finds the packaged token API; stripping kept the exports.
#
#   check-deb.sh BUILD_DIR WORK_DIR
source "$(dirname "$0")/check-common.sh"
usage 2 "BUILD_DIR WORK_DIR" "$@"
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
fresh_work "$2"
logged cpack.log cpack cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work"
the_debs "$work"
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
version=$(sed -n 's/^#define CARD_VERSION_TEXT "\([0-9.]*\)".*/\1/p' "$root/common/include/common/version.h")
unpacked=$work/root

# The package names alone, one per line (versions and alternatives cut).
names() { tr ',|' '\n' <<<"$1" | awk '{ print $1 }'; }
# The Debian package that owns a file, or nothing.
owner_of() { dpkg -S "$1" 2>/dev/null | sed -n '1s/:.*//p' || true; }
# The functions a shared object defines for the dynamic linker, sorted.
exports() { nm -D --defined-only "$1" | awk '$2 == "T" { print $3 }' | sort; }

# check_package NAME EXPECTED_FILES...: control fields, exact file list, and a Depends entry for
# every library its ELF files need (other than the ones it or a sibling package ships).
check_package() {
    local name=$1 deb field_value depends files expected elf needed path owner
    shift
    deb=$(printf '%s\n' "${debs[@]}" | grep "/${name}_" || true)
    if [[ -z $deb ]]; then
        fail "no package $name"
        return
    fi
    echo "package: $(basename "$deb")"
    field() { dpkg-deb -f "$deb" "$1"; }
    [[ $(field Package) == "$name" ]] || fail "package name $(field Package)"
    [[ $(field Version) == "$version" ]] || fail "$name: version $(field Version), project says $version"
    [[ $(field Architecture) == "$(dpkg --print-architecture)" ]] ||
        fail "$name: architecture $(field Architecture)"
    [[ -n $(field Maintainer) ]] || fail "$name: no maintainer"
    [[ -n $(field Description) ]] || fail "$name: no description"
    depends=$(field Depends)
    echo "  Depends: $depends"
    depended=$(names "$depends")

    # Regular files and links only; directories come with them.
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
    expected=$(printf '%s\n' "$@" | sort)
    [[ $files == "$expected" ]] || fail "$name files:
$files
expected:
$expected"
    dpkg-deb -x "$deb" "$unpacked"

    for elf in $files; do
        elf=$unpacked/${elf#./}
        is_elf "$elf" || continue
        for needed in $(readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            [[ $needed == libcardread.so ]] && continue
            # awk reads to the end: a reader that quits early would break the pipe under pipefail.
            path=$(ldconfig -p | awk -v lib="$needed" '$1 == lib && !found { print $NF; found = 1 }')
            if [[ -z $path ]]; then
                fail "$(basename "$elf") needs $needed, which this machine does not have"
                continue
            fi
            owner=$(owner_of "$(readlink -f "$path")")
            [[ -n $owner ]] || owner=$(owner_of "$path")
            if [[ -z $owner ]]; then
                fail "no Debian package owns $path ($needed)"
            elif ! grep -qxF "$owner" <<<"$depended"; then
                fail "$(basename "$elf") needs $needed from $owner, not in Depends"
            fi
        done
    done
    package_depends[$name]=$depends
}
declare -A package_depends

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=./usr/lib/$multiarch
libdir=$unpacked/usr/lib/$multiarch
docs() { printf './usr/share/doc/%s/%s\n' "$1" copyright "$1" changelog.gz; }
check_package card-programs ./usr/bin/carddata ./usr/bin/pincheck \
    $lib/card-programs/libcardread.so ./usr/share/doc/card-programs/README.md \
    $(docs card-programs) ./usr/share/man/man1/carddata.1.gz ./usr/share/man/man1/pincheck.1.gz
[[ $(dpkg-deb -f "$work/card-programs_${version}_"*.deb Recommends) == *pcscd* ]] ||
    fail "pcscd not recommended"
check_package libtokenapi1 $lib/libtokenapi.so.1 $lib/libtokenapi.so.1.0.0 $(docs libtokenapi1)
check_package libtokenapi-dev ./usr/include/tokenapi/token_api.h $lib/libtokenapi.so \
    $(docs libtokenapi-dev) \
    $lib/pkgconfig/tokenapi.pc $lib/cmake/TokenApi/TokenApiConfig.cmake \
    $lib/cmake/TokenApi/TokenApiConfigVersion.cmake \
    $lib/cmake/TokenApi/TokenApiTargets.cmake \
    $lib/cmake/TokenApi/TokenApiTargets-"$(tr '[:upper:]' '[:lower:]' <<<"${build_type:-noconfig}")".cmake
dev_depends=$(names "${package_depends[libtokenapi-dev]:-}")
for dependency in libtokenapi1 libssl-dev libp11-kit-dev; do
    grep -qxF "$dependency" <<<"$dev_depends" || fail "libtokenapi-dev does not depend on $dependency"
done
[[ ${package_depends[libtokenapi-dev]:-} == *"libtokenapi1 (= $version)"* ]] ||
    fail "libtokenapi-dev does not depend on libtokenapi1 of its own version"

cmp -s "$unpacked/usr/share/doc/card-programs/README.md" "$root/README.md" ||
    fail "packaged README differs from the project's"

carddata=$unpacked/usr/bin/carddata
if [[ -x $carddata ]]; then
    resolved=$(ldd "$carddata" | awk '$1 == "libcardread.so" { print $3 }')
    [[ -n $resolved ]] && resolved=$(readlink -f "$resolved")
    [[ $resolved == "$libdir/card-programs/libcardread.so" ]] ||
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
# exports_are FILE EXPECTED: FILE exports exactly the names of EXPECTED, one a line.
exports_are() {
    [[ $(exports "$1") == "$2" ]] ||
        fail "$(basename "$1") exports [$(exports "$1" | xargs)], expected [$(xargs <<<"$2")]"
}
api=$(sed -n 's/^ *\([A-Za-z]*\);.*/\1/p' "$root/pincheck/token/token_exports.list" | sort)
exports_are "$libdir/card-programs/libcardread.so" readUserData
exports_are "$libdir/libtokenapi.so.1" "$(sed 's/$/@@TOKENAPI_1/' <<<"$api")"
missing=$(comm -23 <(echo "$api") <(exports "$pincheck") | xargs)
[[ -z $missing ]] || fail "packaged pincheck lost exports: $missing"

# The .pc file finds its prefix from its own place: the unpacked tree, not /usr.
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs tokenapi) ||
    fail "pkg-config does not find the packaged tokenapi"
[[ $(readlink -f "$(sed -n 's/.*-L\([^ ]*\).*/\1/p' <<<"$flags")") == "$libdir" ]] ||
    fail "pkg-config flags [$flags] do not point into the unpacked package"

finish "all checks passed"
