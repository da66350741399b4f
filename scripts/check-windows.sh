#!/usr/bin/env bash
# Cross-builds the whole tree for Windows with Debian's MinGW compilers, x86 (i686) and x64
# (x86_64), and checks the PE files of the four deliverables:
#   - pincheck.exe and tokenapi.dll export exactly the seventeen names of the token API,
#     cardread.dll only readUserData, carddata.exe and servicectl.exe nothing;
#   - each file imports only the DLLs and calls its design uses;
#   - no file needs a DLL beside it but cardread.dll (carddata.exe) and the libcrypto DLL
#     (pincheck.exe, tokenapi.dll): no MinGW runtime DLL anywhere;
#   - every shipped file, the libcrypto DLL included, has ASLR, NX and (x64) high-entropy ASLR
#     in its DllCharacteristics, and the stack protector linked in;
#   - the libcrypto DLL names no Unix folder to read configuration, engines or modules from;
#   - no file has a link time in its PE header (the same commit links the same bytes).
# OpenSSL and JsonCpp come from scripts/mingw-deps.sh (cached outside the tree).
#
#   check-windows.sh DIR                  all of it: deps, build both, check
#   check-windows.sh deps                 cross-build the dependencies (or find them cached)
#   check-windows.sh build DIR [ARCH...]  configure and build into DIR/<arch>
#   check-windows.sh check DIR            check DIR/<arch>/bin of both architectures
#
# Files land in DIR/<arch>/bin (the deliverables and the libcrypto DLL) and DIR/<arch>/tools (the
# Windows programs and test module of the Wine tests).
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
root=$(cd "$(dirname "$0")/.." && pwd)
arches=(i686 x86_64)
jobs=${CARD_JOBS:-2}

usage() {
    sed -n '2,17p' "$0" >&2
    exit 2
}

build() {
    local dir=$1 arch
    shift
    (($#)) || set -- "${arches[@]}"
    for arch in "$@"; do
        echo "== cross build $arch"
        cmake -S "$root" -B "$dir/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-Werror -DCARD_WINE_TOOLS=ON >/dev/null
        cmake --build "$dir/$arch" -j "$jobs" >/dev/null
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

# File format, subsystem (2 GUI, 3 console) and whether it is a DLL.
check_header() {
    local file=$1 subsystem=$2 dll=$3 header
    header=$("$objdump" -p "$file" 2>&1) || {
        fail "$file: not a PE file for $objdump"
        return 1
    }
    grep -q "file format $format\$" <<<"$header" || fail "$file is not $format"
    grep -qE "^Subsystem[[:space:]]+0000000${subsystem}[[:space:]]" <<<"$header" ||
        fail "$file: subsystem is not $subsystem"
    if [[ $dll == yes ]]; then
        grep -q $'^\tDLL$' <<<"$header" || fail "$file is not marked as a DLL"
    else
        grep -q $'^\tDLL$' <<<"$header" && fail "$file is marked as a DLL"
    fi
    return 0
}

# ASLR, NX and, for 64-bit files, high-entropy ASLR; and the stack protector, whose failure
# handler (libssp's, linked statically) is linked in only when some function calls it.
check_protections() {
    local file=$1 flags flag want="DYNAMIC_BASE NX_COMPAT"
    [[ $format == pei-x86-64 ]] && want+=" HIGH_ENTROPY_VA"
    flags=$("$objdump" -p "$file" | awk '/^DllCharacteristics/ { on = 1; next }
        on && /^\t\t/ { print $1; next } { on = 0 }')
    for flag in $want; do
        grep -qx "$flag" <<<"$flags" || fail "$file: no $flag in DllCharacteristics"
    done
    grep -aq 'stack smashing detected' "$file" || fail "$file: no stack protector"
}

check_no_link_time() {
    local stamp
    # The file header's line; the export table's own stamp comes later as "Time/Date stamp".
    stamp=$(TZ=UTC "$objdump" -p "$1" | sed -n 's/^Time\/Date\t\t*//p')
    [[ $stamp == "Thu Jan  1 00:00:00 1970" ]] || fail "$1: link time $stamp in its PE header"
}

# What every program may take from the system besides its own calls: the C runtime and the
# kernel, which the statically linked MinGW runtime uses, and advapi32 for the system random
# bytes of the stack protector's guard value (libssp).
runtime="kernel32.dll msvcrt.dll advapi32.dll"
token_exports=$(sed -n 's/^ *\([A-Za-z]*\);.*/\1/p' "$root/pincheck/token/token_exports.list" |
    sort | tr '\n' ' ' | sed 's/ $//')
cardread_calls="winscard.dll:SCardEstablishContext winscard.dll:SCardReleaseContext
    winscard.dll:SCardConnectA winscard.dll:SCardDisconnect winscard.dll:SCardBeginTransaction
    winscard.dll:SCardEndTransaction winscard.dll:SCardGetAttrib winscard.dll:SCardTransmit
    winscard.dll:g_rgSCardT1Pci winscard.dll:SCardIntroduceCardTypeA
    scarddlg.dll:GetOpenCardNameA"
# Both programs erase the request from the process's command-line texts and keep the working
# folder out of their DLL search.
erase_calls="kernel32.dll:GetCommandLineA kernel32.dll:GetCommandLineW
    kernel32.dll:SetDefaultDllDirectories"
pincheck_calls="kernel32.dll:LoadLibraryExA kernel32.dll:GetProcAddress kernel32.dll:FreeLibrary
    kernel32.dll:MultiByteToWideChar kernel32.dll:WideCharToMultiByte
    $erase_calls libcrypto:d2i_X509 libcrypto:RSA_set_method libcrypto:EVP_PKEY_free libcrypto:CRYPTO_malloc"
tokenapi_calls="kernel32.dll:LoadLibraryExA kernel32.dll:GetProcAddress kernel32.dll:FreeLibrary
    libcrypto:d2i_X509 libcrypto:RSA_set_method libcrypto:EVP_PKEY_free libcrypto:CRYPTO_malloc"
servicectl_calls="kernel32.dll:CreateToolhelp32Snapshot kernel32.dll:Process32First
    kernel32.dll:Process32Next kernel32.dll:OpenProcess kernel32.dll:TerminateProcess
    kernel32.dll:CreateProcessA kernel32.dll:WaitForSingleObject kernel32.dll:CloseHandle
    kernel32.dll:GetEnvironmentStrings kernel32.dll:FreeEnvironmentStringsA
    kernel32.dll:GetUserDefaultUILanguage shell32.dll:SHGetSpecialFolderPathA
    advapi32.dll:RegOpenKeyExA advapi32.dll:RegEnumValueA advapi32.dll:RegCloseKey
    user32.dll:MessageBoxA"

# check_version_resource FILE: the version resource Explorer shows (file and product version of
# the project, product name, description, original file name, copyright) and, for a program, the
# manifest (asInvoker, supported Windows versions). The resource strings are UTF-16; without their
# NULs they read as ASCII.
check_version_resource() {
    local file=$1 name resources version
    name=$(basename "$file")
    version=$(sed -n 's/^#define CARD_VERSION_TEXT "\([0-9.]*\)".*/\1/p' \
        "$root/common/include/common/version.h")
    resources=$("$objcopy" -O binary --only-section=.rsrc "$file" /dev/stdout 2>/dev/null |
        tr -d '\0') || resources=""
    for entry in "FileVersion$version" "ProductVersion$version" "ProductNameCard Programs" \
        "OriginalFilename$name" "LegalCopyrightCopyright" "FileDescription[A-Z]"; do
        grep -aq "$entry" <<<"$resources" || fail "$name: version resource lacks $entry"
    done
    if [[ $name == *.exe ]]; then
        grep -aq 'requestedExecutionLevel level="asInvoker"' <<<"$resources" ||
            fail "$name: no manifest asking for asInvoker"
        grep -aq 'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' <<<"$resources" ||
            fail "$name: the manifest declares no supported Windows 10"
    fi
}

check() {
    local dir=$1 arch bin crypto file
    for arch in "${arches[@]}"; do
        objdump=$arch-w64-mingw32-objdump
        objcopy=$arch-w64-mingw32-objcopy
        [[ $arch == i686 ]] && format=pei-i386 || format=pei-x86-64
        [[ $arch == i686 ]] && crypto=libcrypto-3.dll || crypto=libcrypto-3-x64.dll
        bin=$dir/$arch/bin
        echo "== checks $arch"
        for file in pincheck.exe carddata.exe cardread.dll tokenapi.dll servicectl.exe $crypto; do
            [[ -f $bin/$file ]] || fail "$bin/$file missing"
        done
        ((failures == 0)) || continue

        check_header "$bin/pincheck.exe" 3 no
        check_exports "$bin/pincheck.exe" "$token_exports"
        check_imports "$bin/pincheck.exe" "$runtime $crypto" "${pincheck_calls//libcrypto/$crypto}"

        # The token API for other programs: the same seventeen names, the same crypto DLL.
        check_header "$bin/tokenapi.dll" 3 yes
        check_exports "$bin/tokenapi.dll" "$token_exports"
        check_imports "$bin/tokenapi.dll" "$runtime $crypto" "${tokenapi_calls//libcrypto/$crypto}"
        [[ -f $dir/$arch/pincheck/token/libtokenapi.dll.a ]] ||
            fail "$dir/$arch: no import library of tokenapi.dll"

        check_header "$bin/carddata.exe" 3 no
        check_exports "$bin/carddata.exe" ""
        check_imports "$bin/carddata.exe" "$runtime cardread.dll" "cardread.dll:readUserData $erase_calls"

        check_header "$bin/cardread.dll" 3 yes
        check_exports "$bin/cardread.dll" readUserData
        # bcrypt: the random bytes of secure messaging.
        check_imports "$bin/cardread.dll" "$runtime winscard.dll scarddlg.dll bcrypt.dll" \
            "$cardread_calls"

        check_header "$bin/servicectl.exe" 2 no
        check_exports "$bin/servicectl.exe" ""
        check_imports "$bin/servicectl.exe" "$runtime user32.dll shell32.dll advapi32.dll" \
            "$servicectl_calls"

        for file in pincheck.exe carddata.exe cardread.dll tokenapi.dll servicectl.exe; do
            check_version_resource "$bin/$file"
        done

        # The crypto DLL itself needs only system DLLs.
        check_imports "$bin/$crypto" "$runtime advapi32.dll user32.dll ws2_32.dll crypt32.dll" ""
        # Any user may create such a folder on the current drive and plant a configuration.
        strings -a "$bin/$crypto" | grep -E '^(OPENSSLDIR|ENGINESDIR|MODULESDIR): "/|/var/cache' |
            sed "s|^|FAIL: $bin/$crypto names a Unix folder: |" | grep . &&
            failures=$((failures + 1))

        for file in pincheck.exe carddata.exe cardread.dll tokenapi.dll servicectl.exe $crypto; do
            check_protections "$bin/$file"
            check_no_link_time "$bin/$file"
        done
    done
    if ((failures)); then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}

(($# >= 1)) || usage
case $1 in
    deps)
        (($# == 1)) || usage
        bash "$root/scripts/mingw-deps.sh" "${arches[@]}"
        ;;
    build)
        (($# >= 2)) || usage
        shift
        build "$@"
        ;;
    check)
        (($# == 2)) || usage
        check "$2"
        ;;
    -*) usage ;;
    *)
        (($# == 1)) || usage
        bash "$root/scripts/mingw-deps.sh" "${arches[@]}"
        build "$1"
        check "$1"
        ;;
esac
