#!/usr/bin/env bash
# The x86_64 setup program under Wine, in a prefix of its own: a silent install puts exactly the
# files of the ZIP package into one folder under Program Files and registers the uninstaller
# with the version, and a second one over it uninstalls the first; the installed carddata.exe and pincheck.exe answer requests from that folder
# as the Linux builds do; a silent uninstall removes every file and the registry entry.
#
#   installer-under-wine.sh SETUP_EXE ZIP LINUX_CARDDATA LINUX_PINCHECK WORK_DIR
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
usage 5 "SETUP_EXE ZIP LINUX_CARDDATA LINUX_PINCHECK WORK_DIR" "$@"
setup=$1 zip=$2 carddata=$3 pincheck=$4
fresh_work "$5"

wine_prefix "$work" "winedbg.exe=d;mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot -i >/dev/null 2>&1
# wineboot's server is still stopping the prefix's services when it returns; wait for it, then keep
# one server up for the whole test, so no step starts while services are being torn down.
wineserver -w
wineserver -p300

folder_name="Card Programs"
folder=$WINEPREFIX/drive_c/Program\ Files/$folder_name
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Card Programs'

# What the ZIP holds under its one top folder: the files the setup must install.
mapfile -t packaged < <(unzip -Z1 "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | sort)
((${#packaged[@]} > 0)) || fail "the ZIP package is empty"
for file in pincheck.exe carddata.exe cardread.dll servicectl.exe README.md; do
    printf '%s\n' "${packaged[@]}" | grep -qx "$file" || fail "the package lacks $file"
done
printf '%s\n' "${packaged[@]}" | grep -qx 'libcrypto-3.*\.dll' || fail "the package lacks libcrypto"

echo "== silent install"
cp "$setup" "$work/setup.exe"
(cd "$work" && wine setup.exe /S) || fail "setup.exe /S exited with $?"
echo "== silent install over the installed version"
# The installed version's uninstaller runs first: it takes the uninstall entry away (with a value
# added here), and the new version writes its own. Everything below checks the second install.
wine reg add "$key" /v EarlierInstall /d yes /f >/dev/null 2>&1 || fail "cannot mark the entry"
(cd "$work" && wine setup.exe /S) || fail "setup.exe /S over the installed version exited with $?"
if wine reg query "$key" /v EarlierInstall >/dev/null 2>&1; then
    fail "the installed version was not uninstalled first"
fi
installed=$(cd "$folder" 2>/dev/null && find . -type f | sed 's|^\./||' | sort) || true
expected=$(printf '%s\n' "${packaged[@]}" Uninstall.exe | sort)
[[ $installed == "$expected" ]] ||
    fail "installed files differ from the package: $(diff <(echo "$expected") <(echo "$installed") | tr '\n' ' ')"

echo "== uninstall entry"
entry=$(wine reg query "$key" 2>/dev/null | tr -d '\r') || fail "no uninstall entry $key"
grep -Eq '^ +DisplayVersion +REG_SZ +1\.0\.4$' <<<"$entry" || fail "DisplayVersion is not 1.0.4"
grep -Eq '^ +UninstallString +REG_SZ +.*Uninstall\.exe' <<<"$entry" || fail "no UninstallString"

echo "== installed programs answer"
# The same request to the installed Windows program and to the Linux build must give the same
# reply: carddata without a PIN (cardread.dll loads from the folder), pincheck without the card
# module (libcrypto loads from the folder, the module is missing on both).
while IFS='|' read -r program linux request; do
    [[ -n $program ]] || continue
    want=$(env -u LD_LIBRARY_PATH "$linux" "$request" 2>&1; echo "exit=$?")
    got=$(cd "$work" && wine "C:\\Program Files\\$folder_name\\$program" "$request" 2>&1
        echo "exit=$?")
    [[ $got == "$want" ]] || fail "$program answers [$got], the Linux build [$want]"
done <<EOF
carddata.exe|$carddata|{"SNO":"ABCD"}
pincheck.exe|$pincheck|{"CA_Function":"checkPin","sPin":"1234","slotID":"-1"}
EOF

echo "== silent uninstall"
# The uninstaller copies itself away and returns at once; its copy does the work, and it
# removes the program folder before the Start Menu folder: wait for everything named after the
# product to go, not just the first folder (on a busy machine the check came between the two).
(cd "$work" && wine "C:\\Program Files\\$folder_name\\Uninstall.exe" /S) ||
    fail "Uninstall.exe /S exited with $?"
# The copy may remove the program folder before the Start Menu folder: wait for both.
for _ in $(seq 1 600); do
    [[ -e $folder || -n $(find "$WINEPREFIX/drive_c" -iname "*$folder_name*") ]] || break
    sleep 0.1
done
[[ ! -e $folder ]] || fail "left behind: $(cd "$folder" && find . | tr '\n' ' ')"
# Nor anything else named after the product (the Start Menu folder with its uninstall link).
left=$(find "$WINEPREFIX/drive_c" -iname "*$folder_name*")
[[ -z $left ]] || fail "left behind: $left"
if wine reg query "$key" >/dev/null 2>&1; then fail "the uninstall entry is still there"; fi

finish "all checks passed"
