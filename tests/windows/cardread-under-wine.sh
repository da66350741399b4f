#!/usr/bin/env bash
# Loads the x86_64 cardread.dll under 64-bit Wine through the probe program and checks what
# readUserData answers. Wine's smart-card service reaches no card (its SCardEstablishContext is a
# stub that reports itself on the winscard debug channel), so:
#   - refused arguments give -1 before any PC/SC call (no winscard line before the reply),
#   - a reader name, or none (the card dialog path), gives a PC/SC error 0x8010xxxx after a
#     winscard call, and the length word is left as it was,
#   - the library unloads again, and nothing crashes.
#
#   cardread-under-wine.sh CROSS_X86_64_DIR WORK_DIR
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
usage 2 "CROSS_X86_64_DIR WORK_DIR" "$@"
cross=$1
fresh_work "$2" && mkdir "$work/bin"

cp "$cross/bin/cardread.dll" "$cross/tools/readuserdata_probe.exe" "$work/bin/"

wine_prefix "$work" "mscoree,mshtml=" "-all,fixme+winscard,fixme+scarddlg"

# Standard error joins standard output so the trace lines sit between the probe's own lines; the
# probe's text-mode output ends its lines with CR LF.
status=0
output=$(cd "$work/bin" && wine ./readuserdata_probe.exe cardread.dll "No Such Reader 00 00" 2>&1) ||
    status=$?
echo "$output"
((status == 0)) || abort "probe exited with $status"
output=$(tr -d '\r' <<<"$output")
grep -qx loaded <<<"$output" || fail "cardread.dll or its readUserData export was not reached"
grep -qx "freed 1" <<<"$output" || fail "FreeLibrary of cardread.dll failed"

# Each reply with whether a winscard or scarddlg line came between it and the one before.
declare -A seen
pcsc=no
while IFS= read -r line; do
    if [[ $line == *":fixme:winscard:"* || $line == *":fixme:scarddlg:"* ]]; then
        pcsc=yes
    elif [[ $line =~ ^([a-z-]+)\ (status=0x[0-9A-F]{8}\ length=0x[0-9A-F]{8})$ ]]; then
        seen[${BASH_REMATCH[1]}]="${BASH_REMATCH[2]} pcsc=$pcsc"
        pcsc=no
    fi
done <<<"$output"

# case               expected reply (regex) and whether PC/SC was reached
while read -r name want; do
    [[ -n $name ]] || continue
    got=${seen[$name]:-no reply}
    [[ $got =~ ^${want}$ ]] || fail "$name: $got, expected $want"
done <<<"
null-pin             status=0xFFFFFFFF length=0x5A5A5A5A pcsc=no
zero-pin-length      status=0xFFFFFFFF length=0x5A5A5A5A pcsc=no
null-record-key      status=0xFFFFFFFF length=0x5A5A5A5A pcsc=no
null-length          status=0xFFFFFFFF length=0x5A5A5A5A pcsc=no
size-query           status=0x8010[0-9A-F]{4} length=0x5A5A5A5A pcsc=yes
no-reader-size-query status=0x8010[0-9A-F]{4} length=0x5A5A5A5A pcsc=yes
read                 status=0x8010[0-9A-F]{4} length=0x000003E8 pcsc=yes"

finish "all checks passed"
