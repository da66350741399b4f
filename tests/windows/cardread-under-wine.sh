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
mkdir -p "$2/bin"
work=$(cd "$2" && pwd)

cp "$cross/bin/cardread.dll" "$cross/tools/readuserdata_probe.exe" "$work/bin/"

wine_prefix "$work" "mscoree,mshtml=" "-all,fixme+winscard,fixme+scarddlg"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Standard error joins standard output so the trace lines sit between the probe's own lines.
status=0
output=$(cd "$work/bin" && wine ./readuserdata_probe.exe cardread.dll "No Such Reader 00 00" 2>&1) ||
    status=$?
echo "$output"
if ((status != 0)); then
    echo "FAIL: probe exited with $status"
    exit 1
fi

# case  expected status (regex)  expected length  PC/SC reached
expectations="
null-pin             0xFFFFFFFF        0x5A5A5A5A  no
zero-pin-length      0xFFFFFFFF        0x5A5A5A5A  no
null-record-key      0xFFFFFFFF        0x5A5A5A5A  no
null-length          0xFFFFFFFF        0x5A5A5A5A  no
size-query           0x8010[0-9A-F]{4} 0x5A5A5A5A  yes
no-reader-size-query 0x8010[0-9A-F]{4} 0x5A5A5A5A  yes
read                 0x8010[0-9A-F]{4} 0x000003E8  yes"

declare -A seen_status seen_length seen_pcsc
pcsc=no
loaded=no
freed=no
while IFS= read -r line; do
    line=${line%$'\r'}  # the probe's text-mode output ends its lines with CR LF
    if [[ $line == *":fixme:winscard:"* || $line == *":fixme:scarddlg:"* ]]; then
        pcsc=yes
    elif [[ $line =~ ^([a-z-]+)\ status=(0x[0-9A-F]{8})\ length=(0x[0-9A-F]{8})$ ]]; then
        name=${BASH_REMATCH[1]}
        seen_status[$name]=${BASH_REMATCH[2]}
        seen_length[$name]=${BASH_REMATCH[3]}
        seen_pcsc[$name]=$pcsc
        pcsc=no
    elif [[ $line == loaded ]]; then
        loaded=yes
    elif [[ $line == "freed 1" ]]; then
        freed=yes
    fi
done <<<"$output"

[[ $loaded == yes ]] || fail "cardread.dll or its readUserData export was not reached"
while read -r name want_status want_length want_pcsc; do
    [[ -n $name ]] || continue
    if [[ -z ${seen_status[$name]+x} ]]; then
        fail "$name: no reply"
        continue
    fi
    [[ ${seen_status[$name]} =~ ^${want_status}$ ]] ||
        fail "$name: status ${seen_status[$name]}, expected $want_status"
    [[ ${seen_length[$name]} == "$want_length" ]] ||
        fail "$name: length word ${seen_length[$name]}, expected $want_length"
    [[ ${seen_pcsc[$name]} == "$want_pcsc" ]] ||
        fail "$name: PC/SC reached: ${seen_pcsc[$name]}, expected $want_pcsc"
done <<<"$expectations"
[[ $freed == yes ]] || fail "FreeLibrary of cardread.dll failed"

finish "all checks passed"
