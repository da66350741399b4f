#!/usr/bin/env bash
# Builds the packages of the checked-out commit twice and checks that both builds are the same
# byte for byte: the Debian packages, and per Windows architecture the programs and DLLs of the
# cross build, the NSIS setup program and the ZIP; with --openssl, the libcrypto DLL of the
# MinGW dependency recipe too. Each file that differs is shown with diffoscope, and the script
# exits 1.
#
#   check-reproducible.sh [--deb] [--windows ARCH]... [--openssl ARCH]... [--all] [--keep]
#
#   --deb            the three .deb files (Release tree without tests, cpack -G DEB)
#   --windows ARCH   i686 or x86_64: bin/*.exe and bin/*.dll, the setup program and the ZIP
#   --openssl ARCH   the libcrypto DLL of scripts/mingw-deps.sh, built twice into two caches
#   --all            --deb and --windows for both architectures (the default)
#   --keep           keep the work folder (kept anyway when something differs)
#
# The two builds are of the same commit (HEAD; uncommitted changes are not part of it), each in a
# fresh clone in a folder of its own, the folders' names of different lengths. The second runs
# with another umask and time zone and, with Debian's faketime, 25 hours later on its clock;
# both take SOURCE_DATE_EPOCH from the commit, as any build does. ccache is off, so every
# object is compiled twice. Installs what it needs (scripts/install-deps.sh, as root).
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${CARD_JOBS:-$(nproc)}

usage() {
    sed -n '8,14p' "$0" >&2
    exit 2
}

deb=0 keep=0 windows=() openssl=() selected=0
while (($#)); do
    case $1 in
        --deb) deb=1 selected=1 ;;
        --windows | --openssl)
            [[ ${2:-} == i686 || ${2:-} == x86_64 ]] || usage
            [[ $1 == --windows ]] && windows+=("$2") || openssl+=("$2")
            selected=1
            shift
            ;;
        --all) deb=1 windows=(i686 x86_64) selected=1 ;;
        --keep) keep=1 ;;
        *) usage ;;
    esac
    shift
done
((selected)) || {
    deb=1
    windows=(i686 x86_64)
}

# The build tools, diffoscope and faketime.
bash "$root/scripts/install-deps.sh"

commit=$(git -C "$root" rev-parse HEAD)
[[ -z $(git -C "$root" status --porcelain --untracked-files=no) ]] ||
    echo "note: uncommitted changes are not checked; the builds are of $commit"
work=$(mktemp -d /tmp/card-reproducible.XXXXXX)
chmod 755 "$work" # apt's download user reads the source lists of --openssl's caches
first=$work/a
second=$work/second-build-of-the-same-commit
# Every object compiled by each build: a cache would hand the second build the first one's.
export CCACHE_DISABLE=1
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER

# build DIR PART: one part of one build, its artefacts copied to DIR/out/PART.
build() {
    local dir=$1 part=$2 src=$1/src out=$1/out/$2 tree=$1/build/$2
    mkdir -p "$out"
    if [[ ! -d $src ]]; then
        git clone -q --shared --no-checkout "$root" "$src"
        git -C "$src" checkout -q --detach "$commit"
    fi
    case $part in
        deb)
            cmake -S "$src" -B "$tree" -DCMAKE_BUILD_TYPE=Release -DCARD_BUILD_TESTS=OFF >/dev/null
            cmake --build "$tree" -j "$jobs" >/dev/null
            (cd "$tree" && cpack -G DEB -B "$tree/packages") >"$tree/cpack.log" 2>&1 || {
                cat "$tree/cpack.log"
                return 1
            }
            cp "$tree"/packages/*.deb "$out/"
            ;;
        windows-*)
            local arch=${part#windows-}
            bash "$src/scripts/mingw-deps.sh" "$arch"
            cmake -S "$src" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-$arch.cmake" \
                -DCMAKE_BUILD_TYPE=Release >/dev/null
            cmake --build "$tree" -j "$jobs" >/dev/null
            (cd "$tree" && cpack -C Release -B "$tree/packages") >"$tree/cpack.log" 2>&1 || {
                cat "$tree/cpack.log"
                return 1
            }
            mkdir -p "$out/bin"
            cp "$tree"/bin/*.exe "$tree"/bin/*.dll "$out/bin/"
            cp "$tree"/packages/*.exe "$tree"/packages/*.zip "$out/"
            ;;
        openssl-*)
            local arch=${part#openssl-}
            # A cache of its own: the recipe from its start. The second build takes the source
            # packages the first fetched (apt refuses the archive's lists on a clock 25 hours
            # ahead), moved to its own cache's folder.
            if [[ $dir != "$first" && -d $first/mingw/src && ! -d $dir/mingw/src ]]; then
                mkdir -p "$dir/mingw"
                cp -a "$first/mingw/src" "$dir/mingw/"
                sed -i "s|^$first/mingw/|$dir/mingw/|" "$dir"/mingw/src/*.unpacked
            fi
            CARD_MINGW_DEPS=$dir/mingw bash "$src/scripts/mingw-deps.sh" "$arch"
            cp "$dir"/mingw/r*/"$arch"/bin/libcrypto*.dll "$out/"
            ;;
    esac
}

parts=()
((deb)) && parts+=(deb)
for arch in "${windows[@]}"; do parts+=("windows-$arch"); done
for arch in "${openssl[@]}"; do parts+=("openssl-$arch"); done

faked=()
if command -v faketime >/dev/null; then
    faked=(faketime -f +25h)
else
    echo "note: no faketime; the second build differs in time only by running later"
fi
declare -A seconds
for part in "${parts[@]}"; do
    echo "== $part: first build ($first)"
    start=$SECONDS
    (umask 022 && TZ=UTC build "$first" "$part")
    seconds[$part]=$((SECONDS - start))
    echo "== $part: second build ($second)"
    start=$SECONDS
    export -f build
    export root commit jobs first
    (umask 002 && TZ=Asia/Taipei "${faked[@]}" bash -c 'set -euo pipefail; build "$@"' _ \
        "$second" "$part")
    seconds[$part]="${seconds[$part]} s and $((SECONDS - start)) s"
done

differ=0
echo "== comparing"
for part in "${parts[@]}"; do
    a=$first/out/$part b=$second/out/$part
    names=$( (cd "$a" && find . -type f) && (cd "$b" && find . -type f))
    count=0
    for name in $(sort -u <<<"$names"); do
        name=${name#./}
        count=$((count + 1))
        if [[ ! -f $a/$name || ! -f $b/$name ]]; then
            echo "DIFFERS: $part/$name is made by one build only"
            differ=1
        elif ! cmp -s "$a/$name" "$b/$name"; then
            echo "DIFFERS: $part/$name"
            report=$work/diffoscope-$part-${name//\//_}.txt
            diffoscope --text "$report" "$a/$name" "$b/$name" >/dev/null 2>&1 || true
            head -n 300 "$report"
            (($(wc -l <"$report") <= 300)) || echo "[... the whole report: $report]"
            differ=1
        fi
    done
    echo "$part: $count files compared, builds took ${seconds[$part]}"
done

if ((differ)); then
    echo "not reproducible; both builds are in $work"
    exit 1
fi
((keep)) && echo "both builds are in $work" || rm -rf "$work"
echo "reproducible: every file of both builds is the same"
