#!/usr/bin/env bash
# Cross-builds the Windows side with Debian's MinGW compilers (i686 and x86_64) and checks the
# PE files: cardread.dll exports readUserData and nothing else and imports only the platform
# libraries it is meant to reach; servicectl.exe (built elsewhere, given by path) is a GUI
# program without exports that calls the Windows services of its design.
#
#   check-windows.sh build DIR                 configure and build into DIR/<arch>
#   check-windows.sh check DIR [ARCH=EXE ...]  check DIR/<arch> and the servicectl.exe files
#   check-windows.sh DIR [ARCH=EXE ...]        both
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
root=$(cd "$(dirname "$0")/.." && pwd)
arches=(i686 x86_64)

usage() {
    sed -n '2,10p' "$0" >&2
    exit 2
}

build() {
    local dir=$1 arch
    for arch in "${arches[@]}"; do
        echo "== cross build $arch"
        cmake -S "$root/packaging/windows" -B "$dir/$arch" \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_CXX_FLAGS=-Werror >/dev/null
        cmake --build "$dir/$arch" -j 2 >/dev/null
    done
}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# "dll function" per imported name, the DLL name in lower case (Windows ignores the case).
pe_imports() {
    "$objdump" -p "$1" | awk '
        /^\tDLL Name: / { dll = tolower($3); next }
        /^$/ { dll = "" }
        dll != "" && /^\t[0-9a-f]+\t *[0-9]+ +[A-Za-z_]/ { print dll, $3 }'
}

# The exported names, one per line.
pe_exports() {
    "$objdump" -p "$1" | awk '
        /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
        table && /^\t\[ *[0-9]+\] / { print $3; next }
        table { table = 0 }'
}

check_exports() {
    local file=$1 want=$2 got
    got=$(pe_exports "$file" | sort | tr '\n' ' ' | sed 's/ $//')
    [[ "$got" == "$want" ]] || fail "$file exports [$got], expected [$want]"
}

# Every imported DLL must be one of the allowed ones, and each dll:function must be imported.
check_imports() {
    local file=$1 allowed=$2 required=$3 imports dll need
    imports=$(pe_imports "$file")
    for dll in $(awk '{ print $1 }' <<<"$imports" | sort -u); do
        [[ " $allowed " == *" $dll "* ]] || fail "$file imports $dll (allowed: $allowed)"
    done
    for need in $required; do
        grep -qx "${need%%:*} ${need#*:}" <<<"$imports" ||
            fail "$file does not import ${need#*:} from ${need%%:*}"
    done
}

check_header() {
    local file=$1 format=$2 subsystem=$3 header
    header=$("$objdump" -p "$file" 2>&1) || {
        fail "$file: not a PE file for $objdump"
        return 1
    }
    grep -q "file format $format\$" <<<"$header" || fail "$file is not $format"
    grep -qE "^Subsystem[[:space:]]+0000000${subsystem}[[:space:]]" <<<"$header" ||
        fail "$file: subsystem is not $subsystem"
}

cardread_pcsc="winscard.dll:SCardEstablishContext winscard.dll:SCardReleaseContext
    winscard.dll:SCardConnectA winscard.dll:SCardDisconnect winscard.dll:SCardBeginTransaction
    winscard.dll:SCardEndTransaction winscard.dll:SCardGetAttrib winscard.dll:SCardTransmit
    winscard.dll:g_rgSCardT1Pci winscard.dll:SCardIntroduceCardTypeA
    scarddlg.dll:GetOpenCardNameA"
servicectl_calls="kernel32.dll:CreateToolhelp32Snapshot kernel32.dll:Process32First
    kernel32.dll:Process32Next kernel32.dll:OpenProcess kernel32.dll:TerminateProcess
    kernel32.dll:CreateProcessA kernel32.dll:WaitForSingleObject kernel32.dll:CloseHandle
    kernel32.dll:GetEnvironmentStrings kernel32.dll:FreeEnvironmentStringsA
    kernel32.dll:GetUserDefaultUILanguage shell32.dll:SHGetSpecialFolderPathA
    advapi32.dll:RegOpenKeyExA advapi32.dll:RegEnumValueA advapi32.dll:RegCloseKey
    user32.dll:MessageBoxA"

check() {
    local dir=$1 arch format entry exe header
    shift
    for arch in "${arches[@]}"; do
        objdump=$arch-w64-mingw32-objdump
        [[ $arch == i686 ]] && format=pei-i386 || format=pei-x86-64
        local dll=$dir/$arch/cardread/cardread.dll
        echo "== checks $arch"
        if [[ ! -f $dll ]]; then
            fail "$dll missing"
            continue
        fi
        # Read whole before matching: grep -q leaving early would fail the pipe.
        header=$("$objdump" -p "$dll" 2>&1) || {
            fail "$dll: not a PE file for $objdump"
            continue
        }
        grep -q "file format $format\$" <<<"$header" || fail "$dll is not $format"
        grep -q $'^\tDLL$' <<<"$header" || fail "$dll is not marked as a DLL"
        check_exports "$dll" readUserData
        # The MinGW C++ runtime is linked in; no lib*.dll of the toolchain may be needed.
        check_imports "$dll" "winscard.dll scarddlg.dll kernel32.dll msvcrt.dll bcrypt.dll" \
            "$cardread_pcsc"
        check_header "$dir/$arch/readuserdata_probe.exe" "$format" 3 || true
    done
    for entry in "$@"; do
        arch=${entry%%=*}
        exe=${entry#*=}
        objdump=$arch-w64-mingw32-objdump
        [[ $arch == i686 ]] && format=pei-i386 || format=pei-x86-64
        echo "== checks servicectl $arch"
        if [[ ! -f $exe ]]; then
            fail "$exe missing"
            continue
        fi
        check_header "$exe" "$format" 2 || continue
        check_exports "$exe" ""
        check_imports "$exe" "kernel32.dll user32.dll shell32.dll advapi32.dll msvcrt.dll" \
            "$servicectl_calls"
    done
    if ((failures)); then
        echo "$failures check(s) failed"
        return 1
    fi
    echo "all checks passed"
}

(($# >= 1)) || usage
case $1 in
    build)
        (($# == 2)) || usage
        build "$2"
        ;;
    check)
        (($# >= 2)) || usage
        shift
        check "$@"
        ;;
    -*) usage ;;
    *)
        build "$1"
        check "$@"
        ;;
esac
