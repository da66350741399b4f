#!/usr/bin/env bash
# Cross-builds the two libraries the Windows programs link, OpenSSL's libcrypto (a DLL: the token
# API hands its caller OpenSSL objects, so caller and pincheck.exe must share one crypto library)
# and JsonCpp (static), for i686 and x86_64 from Debian's own source packages: the version the
# Linux build links while the archive still delivers it, else the newest one it does. They land in
# a cache outside the source tree, one prefix per architecture and recipe:
#
#   ${CARD_MINGW_DEPS:-/var/cache/card-programs/mingw}/r<recipe>/<arch>/{include,lib,bin}
#
# The recipe number below goes up whenever what the libraries are built with changes in a way
# the programs depend on; an older checkout keeps using the folder of its own recipe, so trees of
# both ages can build side by side from one cache (cmake/mingw-common.cmake reads the number).
#
#   mingw-deps.sh [ARCH ...]     build what is missing (default: i686 x86_64); silent when the
#                                cache is complete
#
# A second run rebuilds nothing: each library has a stamp naming its source version and build
# options. Two runs of one recipe give the same bytes: the libcrypto DLL has no link time in its
# PE header (--no-insert-timestamp) and its "built on" date is the date of the source package's
# newest changelog entry (SOURCE_DATE_EPOCH, which OpenSSL's buildinf.h reads); its file names
# are relative to the build folder already. Recipe 3 added both. Several worktrees may call this
# at once; one lock on the cache serialises them, and the later caller finds the stamps of the
# earlier one.
recipe=3
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR

cache=${CARD_MINGW_DEPS:-/var/cache/card-programs/mingw}
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${CARD_JOBS:-2}
arches=("$@")
((${#arches[@]})) || arches=(i686 x86_64)

# libcrypto with only what the programs and their tests use: RSA, two-key triple DES, SHA-2,
# X.509, PEM, random bytes. Everything else is left out to keep the first build short.
openssl_options=(shared no-tests no-engine no-dso no-module no-legacy no-ssl3 no-comp no-async
    no-ec no-ec2m no-sm2 no-sm3 no-sm4 no-gost no-idea no-camellia no-seed no-aria no-bf no-cast
    no-rc2 no-rc4 no-rc5 no-md4 no-mdc2 no-rmd160 no-whirlpool no-siphash no-scrypt no-chacha
    no-poly1305 no-blake2 no-srp no-psk no-ocsp no-ts no-cms no-ct no-cmp no-dtls
    no-srtp no-dh no-dsa no-ui-console no-autoload-config
    -fstack-protector-strong -l:libssp.a -Wl,--no-insert-timestamp)
# Where the DLL would look for its configuration, engines and modules. A Windows DLL has no fixed
# installed place, and any user may create a folder such as \var\cache on the current drive, so
# no such path is compiled in: "?:" is no drive letter, no file under it can exist on any system.
# The programs load no configuration file anyway (no-autoload-config above).
openssl_dirs=(OPENSSLDIR=?:/no-openssl-dir ENGINESDIR=?:/no-openssl-dir
    MODULESDIR=?:/no-openssl-dir)
jsoncpp_options=(-DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF
    -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=ON
    -DCMAKE_CXX_FLAGS=-fstack-protector-strong)

mkdir -p "$cache/r$recipe"
# The sources and apt's state are shared by every recipe: the cache-wide lock guards them. Each
# recipe's prefixes have a lock of their own, so a long build here holds up no tree of another
# recipe.
exec 9>"$cache/.lock"
exec 8>"$cache/r$recipe/.lock"

# The version the Linux build links, so both platforms run the same library code.
installed_source_version() {
    dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null || true
}

# apt with a deb-src entry of its own: the system's sources list is never touched.
apt_private() {
    apt-get -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$cache/apt/sources.list.d" \
        -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt/cache" "$@"
}

apt_cache() {
    apt-cache -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$cache/apt/sources.list.d" \
        -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt/cache" "$@"
}

apt_ready=0
apt_prepare() {
    ((apt_ready)) && return
    mkdir -p "$cache/apt/sources.list.d" "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
    # The system's stanzas with the type changed to deb-src.
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        >"$cache/apt/sources.list.d/debian-src.sources"
    apt_private update -qq
    apt_ready=1
}

# Unpacks source package $1 under $cache/src and prints the folder. The version of binary
# package $2 installed here comes first; when the archive no longer offers it, the newest
# version it can actually deliver (a mirror may list a version whose files it lacks).
fetch_source() {
    flock 9
    fetch_source_locked "$@" || return 1
    flock -u 9
}

fetch_source_locked() {
    local package=$1 binary=$2 version candidates dir
    version=$(installed_source_version "$binary")
    mkdir -p "$cache/src"
    if [[ -f "$cache/src/$package.unpacked" ]]; then
        cat "$cache/src/$package.unpacked"
        return
    fi
    apt_prepare >&2
    candidates=$( (
        [[ -n $version ]] && echo "$version"
        apt_cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV
    ) | awk '!seen[$0]++')
    for version in $candidates; do
        dir=$cache/src/$package-${version%%-*}
        rm -rf "$dir"
        if (cd "$cache/src" && apt_private source -qq "$package=$version" >/dev/null 2>&1) &&
            [[ -d $dir ]]; then
            echo "$dir" >"$cache/src/$package.unpacked"
            echo "$dir"
            return
        fi
        echo "note: source $package $version not delivered by the archive; trying the next" >&2
    done
    echo "no source version of $package could be fetched" >&2
    return 1
}

stamp_ok() {
    [[ -f $1 && "$(cat "$1")" == "$2" ]]
}

build_openssl() {
    local arch=$1 prefix=$cache/r$recipe/$1 src stamp want target dll build
    src=$(fetch_source openssl libssl3)
    local options=("${openssl_options[@]}")
    if [[ $arch == i686 ]]; then
        target=mingw
        # The 32-bit assembler modules use GOT relocations that the PE assembler cannot represent.
        options+=(no-asm)
    else
        target=mingw64
    fi
    want="openssl $(basename "$src") ${options[*]} ${openssl_dirs[*]}"
    stamp=$prefix/.openssl
    stamp_ok "$stamp" "$want" && return
    build=$cache/r$recipe/build/$arch/openssl
    rm -rf "$build"
    mkdir -p "$build" "$prefix/include" "$prefix/lib" "$prefix/bin"
    echo "== openssl $arch ($(basename "$src"))"
    local epoch
    epoch=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Timestamp)
    # The compiler's chatter goes to a log, shown only when the build fails. The subshell runs
    # on its own (not as a condition) so that its first failing command ends it.
    local status=0
    (
        cd "$build"
        export SOURCE_DATE_EPOCH=$epoch
        "$src/Configure" "$target" "${options[@]}" \
            --cross-compile-prefix="$arch-w64-mingw32-" --prefix="$prefix"
        # Only the crypto DLL and its import library: neither libssl nor the static archive is
        # linked by anything here, and building them would double the compile time.
        dll=$(sed -n 's/^SHLIBS=.*\(libcrypto[^ ]*\.dll\).*/\1/p' Makefile)
        [[ -n $dll ]] || dll=$(awk '/^libcrypto.*\.dll:/ { sub(":.*", "", $1); print $1; exit }' Makefile)
        make -s -j"$jobs" "${openssl_dirs[@]}" build_generated
        make -s -j"$jobs" "${openssl_dirs[@]}" "$dll"
        cp "$dll" "$prefix/bin/"
        cp libcrypto.dll.a "$prefix/lib/"
        rm -rf "$prefix/include/openssl"
        mkdir -p "$prefix/include/openssl"
        cp "$src"/include/openssl/*.h include/openssl/*.h "$prefix/include/openssl/"
    ) >"$build.log" 2>&1 &
    wait $! || status=$?
    if ((status)); then
        tail -n 40 "$build.log" >&2
        return 1
    fi
    rm -rf "$build" "$build.log"
    echo "$want" >"$stamp"
}

build_jsoncpp() {
    local arch=$1 prefix=$cache/r$recipe/$1 src stamp want build
    src=$(fetch_source libjsoncpp libjsoncpp25)
    want="jsoncpp $(basename "$src") ${jsoncpp_options[*]}"
    stamp=$prefix/.jsoncpp
    stamp_ok "$stamp" "$want" && return
    build=$cache/r$recipe/build/$arch/jsoncpp
    rm -rf "$build"
    echo "== jsoncpp $arch ($(basename "$src"))"
    cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "${jsoncpp_options[@]}" \
        >/dev/null
    cmake --build "$build" -j "$jobs" >/dev/null
    cmake --install "$build" >/dev/null
    rm -rf "$build"
    echo "$want" >"$stamp"
}

for arch in "${arches[@]}"; do
    case $arch in
        i686 | x86_64) ;;
        *)
            echo "unknown architecture: $arch" >&2
            exit 2
            ;;
    esac
    flock 8
    build_jsoncpp "$arch"
    build_openssl "$arch"
    flock -u 8
done
