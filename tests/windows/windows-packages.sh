#!/usr/bin/env bash
# Makes the Windows packages of a cross build with CPack (the NSIS setup program and the ZIP) and
# checks them: the setup is a Windows program of the build's architecture, and the ZIP holds one
# folder with exactly the programs, the DLLs they load and the README, none of which needs a DLL
# that neither Windows nor the folder has. With SIGN_DIR, the packages are made there instead,
# signed as a release is with a throwaway code-signing CA made there too, and every signature is
# checked against that CA: the setup, its uninstaller, each .exe and .dll it and the ZIP pack. A
# byte changed after signing, an unsigned file and another CA must fail that check.
#
#   windows-packages.sh BUILD_DIR ARCH [SIGN_DIR]   BUILD_DIR/ARCH: the arch's configured cross build
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
(($# == 2 || $# == 3)) || {
    sed -n '10p' "$0" >&2
    exit 2
}
build=$1/$2 arch=$2 sign=${3:-}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ $arch == x86_64 ]] && suffix=win64 format=pei-x86-64 crypto=libcrypto-3-x64.dll ||
    suffix=win32 format=pei-i386 crypto=libcrypto-3.dll
packages=${sign:-$build}/packages
base=$packages/card-programs-$version-$suffix
objdump=$arch-w64-mingw32-objdump

rm -f "$base.exe" "$base.zip"
cpack=(cpack -C Release)
if [[ -n $sign ]]; then
    # A CA, a code-signing certificate it issued (its key under a passphrase), another CA.
    rm -rf "$sign" && mkdir -p "$sign/other"
    for ca in "$sign" "$sign/other"; do
        openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/ca.key" -out "$ca/ca.pem" -days 2 \
            -subj "/CN=Throwaway CA" -addext keyUsage=critical,keyCertSign 2>/dev/null
    done
    openssl rand -hex 16 >"$sign/passphrase"
    openssl req -newkey rsa:2048 -subj "/CN=Throwaway Signer" -passout "file:$sign/passphrase" \
        -keyout "$sign/sign.key" -out "$sign/sign.csr" 2>/dev/null
    printf '%s\n' keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning >"$sign/ext"
    openssl x509 -req -in "$sign/sign.csr" -CA "$sign/ca.pem" -CAkey "$sign/ca.key" -days 2 \
        -CAcreateserial -extfile "$sign/ext" -out "$sign/sign.pem" 2>/dev/null
    # The certificate and key as the configured options hand them to cpack, the passphrase file
    # from the environment of the run.
    export CARD_SIGN_PASSWORD_FILE=$sign/passphrase
    cpack+=(-B "$packages" -D "CPACK_CARD_SIGN_CERT=$sign/sign.pem"
        -D "CPACK_CARD_SIGN_KEY=$sign/sign.key")
fi
(cd "$build" && "${cpack[@]}") >"${sign:-$build}/cpack.log" 2>&1 || {
    tail -n 30 "${sign:-$build}/cpack.log"
    exit 1
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
    nsi=$packages/_CPack_Packages/$suffix/NSIS/project.nsi
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
    rm -rf "$packages/unpacked" && mkdir -p "$packages/unpacked"
    unzip -q "$base.zip" -d "$packages/unpacked"
    system=" kernel32.dll msvcrt.dll user32.dll advapi32.dll shell32.dll ws2_32.dll bcrypt.dll \
crypt32.dll winscard.dll scarddlg.dll "
    for file in "$packages"/unpacked/*/*.{exe,dll}; do
        for dll in $("$objdump" -p "$file" | sed -n 's/^\tDLL Name: //p'); do
            [[ $system == *" ${dll,,} "* ]] && continue
            [[ -n $(find "$(dirname "$file")" -maxdepth 1 -iname "$dll") ]] ||
                fail "$(basename "$file") needs $dll, which is neither Windows' nor packaged"
        done
    done
fi

# verify ok|bad FILE [CA]
verify() {
    local got=bad
    osslsigncode verify -CAfile "${3:-$sign/ca.pem}" -in "$2" >"$sign/verify.log" 2>&1 && got=ok
    [[ $got == "$1" ]] || fail "$2: signature check $got, expected $1: $(tail -n 3 "$sign/verify.log")"
}
if [[ -n $sign ]] && ((failures == 0)); then
    zipped=("$packages"/unpacked/*/*.{exe,dll})
    mapfile -t staged < <(find "$packages/_CPack_Packages/$suffix/NSIS/$(basename "$base")" \
        -name '*.exe' -o -name '*.dll')
    ((${#staged[@]} == ${#zipped[@]})) ||
        fail "the setup and the ZIP pack different numbers of programs and DLLs"
    for file in "$base.exe" "${zipped[@]}" "${staged[@]}"; do
        verify ok "$file"
    done
    (cd "$packages" && sha256sum --quiet -c "$(basename "$base").exe.sha256") ||
        fail "the setup's checksum file does not match the signed setup"
    # makensis shows the uninstaller's signing step only when it fails: its script once more.
    (cd "$(dirname "$nsi")" && CARD_SIGN_CERT=$sign/sign.pem CARD_SIGN_KEY=$sign/sign.key \
        makensis project.nsi) >"$sign/makensis.log" 2>&1 || fail "makensis failed on its own"
    grep -A1 '^UninstFinalize command: bash .*/sign-windows.sh' "$sign/makensis.log" |
        grep -q '^signed ' || fail "makensis did not sign the uninstaller"

    # A byte changed after signing (in a program, in the setup), a file of the build itself, the
    # right signature against another CA.
    for file in "$packages"/unpacked/*/pincheck.exe "$base.exe"; do
        cp "$file" "$sign/changed.exe"
        printf '\xA5' | dd of="$sign/changed.exe" bs=1 seek=2000 conv=notrunc status=none
        verify bad "$sign/changed.exe"
    done
    verify bad "$build/bin/pincheck.exe"
    verify bad "$base.exe" "$sign/other/ca.pem"
fi

finish "packages of $arch: $(basename "$base.exe") $(basename "$base.zip")"
