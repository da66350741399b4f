#!/usr/bin/env bash
# Makes the Windows packages of a cross build with CPack (the NSIS setup program and the ZIP) and
# checks them: the setup is a Windows program of the build's architecture, and the ZIP holds one
# folder with exactly the programs, the DLLs they load and the README, none of which needs a DLL
# that neither Windows nor the folder has.
#
#   windows-packages.sh BUILD_DIR ARCH     BUILD_DIR/ARCH is the arch's configured cross build
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR
(($# == 2)) || {
    sed -n '7p' "$0" >&2
    exit 2
}
build=$1/$2 arch=$2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ $arch == x86_64 ]] && suffix=win64 format=pei-x86-64 crypto=libcrypto-3-x64.dll ||
    suffix=win32 format=pei-i386 crypto=libcrypto-3.dll
base=$build/packages/card-programs-$version-$suffix
objdump=$arch-w64-mingw32-objdump

rm -f "$base.exe" "$base.zip"
(cd "$build" && cpack -C Release) >"$build/cpack.log" 2>&1 || {
    tail -n 30 "$build/cpack.log"
    exit 1
}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

[[ -f $base.exe ]] || fail "no setup program $base.exe"
[[ -f $base.zip ]] || fail "no ZIP $base.zip"
if ((failures == 0)); then
    header=$("$objdump" -f "$base.exe")
    grep -q "file format $format\$" <<<"$header" || fail "the setup program is not $format"

    want=$(printf '%s\n' README.md carddata.exe cardread.dll "$crypto" pincheck.exe \
        servicectl.exe)
    listed=$(unzip -Z1 "$base.zip" | grep -v '/$')
    [[ $(cut -d/ -f1 <<<"$listed" | sort -u) == "card-programs-$version-$suffix" ]] ||
        fail "the ZIP holds more than one folder"
    got=$(cut -d/ -f2- <<<"$listed" | sort)
    # DLLs that other parts of the build install for users (a library of their own) count too.
    want=$( (echo "$want"; grep '\.dll$' <<<"$got") | sort -u)
    [[ $got == "$want" ]] ||
        fail "the ZIP holds [$(tr '\n' ' ' <<<"$got")], expected [$(tr '\n' ' ' <<<"$want")]"

    # The setup's script: an upgrade runs the old uninstaller first (yes when silent), and the
    # folder's rights are set, by SID, before the first file is copied into it.
    nsi=$build/packages/_CPack_Packages/$suffix/NSIS/project.nsi
    sed -n '/^Function .onInit/,/^inst:/p' "$nsi" | tr -s ' ' | grep -q 'StrCmp "ON" "ON" 0 inst' ||
        fail "the setup does not uninstall an installed version first"
    core=$(sed -n '/^Section "-Core installation"/,/^SectionEnd/p' "$nsi" | sed '/^ *File /q')
    icacls="nsExec::ExecToLog '\"\$SYSDIR\\icacls.exe\" \"\$INSTDIR\" "
    for rights in "/setowner *S-1-5-32-544 /T /C /Q" "/reset /T /C /Q" \
        "/inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /C /Q"; do
        grep -qF "$icacls$rights'" <<<"$core" ||
            fail "the setup does not run icacls $rights before copying files"
    done
    grep -q '^ *Abort' <<<"$core" || fail "the setup goes on when the rights cannot be set"

    # Every DLL a packaged file imports is a Windows one or in the folder.
    rm -rf "$build/packages/unpacked" && mkdir -p "$build/packages/unpacked"
    unzip -q "$base.zip" -d "$build/packages/unpacked"
    system=" kernel32.dll msvcrt.dll user32.dll advapi32.dll shell32.dll ws2_32.dll bcrypt.dll \
crypt32.dll winscard.dll scarddlg.dll "
    for file in "$build"/packages/unpacked/*/*.{exe,dll}; do
        for dll in $("$objdump" -p "$file" | sed -n 's/^\tDLL Name: //p'); do
            [[ $system == *" ${dll,,} "* ]] && continue
            [[ -n $(find "$(dirname "$file")" -maxdepth 1 -iname "$dll") ]] ||
                fail "$(basename "$file") needs $dll, which is neither Windows' nor packaged"
        done
    done
fi

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "packages of $arch: $(basename "$base.exe") $(basename "$base.zip")"
