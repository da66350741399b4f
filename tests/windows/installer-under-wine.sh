#!/usr/bin/env bash
# The x86_64 setup program under Wine, in a prefix of its own: a silent install puts exactly the
# files of the ZIP package into one folder under Program Files and registers the uninstaller with
# the version, and a second one over it uninstalls the first; the installed carddata.exe and
# pincheck.exe answer as the Linux builds do; a silent uninstall removes every file and the entry.
#
#   installer-under-wine.sh SETUP_EXE ZIP LINUX_CARDDATA LINUX_PINCHECK WORK_DIR
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
usage 5 "SETUP_EXE ZIP LINUX_CARDDATA LINUX_PINCHECK WORK_DIR" "$@"
setup=$1 zip=$2 carddata=$3 pincheck=$4
fresh_work "$5"

wine_prefix "$work" "winedbg.exe=d;mscoree,mshtml="
wine_boot 300

folder_name="Card Programs"
folder=$WINEPREFIX/drive_c/Program\ Files/$folder_name
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Card Programs'

# What the ZIP holds under its one top folder: the files the setup must install.
mapfile -t packaged < <(unzip -Z1 "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | sort)
# (windows-packages.sh, this test's fixture, checked what it holds.)
((${#packaged[@]} > 0)) || fail "the ZIP package is empty"

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
# product to go (the Start Menu folder with its uninstall link too), not just the first folder.
(cd "$work" && wine "C:\\Program Files\\$folder_name\\Uninstall.exe" /S) ||
    fail "Uninstall.exe /S exited with $?"
for _ in $(seq 1 600); do
    left=$(find "$WINEPREFIX/drive_c" -iname "*$folder_name*")
    [[ -n $left ]] || break
    sleep 0.1
done
[[ -z $left ]] || fail "left behind: $left"
if wine reg query "$key" >/dev/null 2>&1; then fail "the uninstall entry is still there"; fi

finish "all checks passed"
