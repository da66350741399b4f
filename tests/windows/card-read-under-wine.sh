#!/usr/bin/env bash
# carddata.exe with cardread.dll (x86_64) under Wine reads simulated cards through the test-only
# WinSCard bridge: winscard.dll beside the program, chosen over Wine's stub, hands every call to
# winscard-bridge, which makes it with pcsc-lite against a private pcscd with a vpcd reader. Each
# case's card and request go to the Linux build, then to the Windows one: the same reply byte for
# byte, and the same commands to the card (commands() says what may differ). Last, a request
# without a reader name goes through Wine's card dialog.
#
#   card-read-under-wine.sh CARDDATA CARDSIM BRIDGE WINDOWS_BIN WINSCARD_DLL WORK_DIR
#
# CARDDATA, CARDSIM and BRIDGE are the Linux programs; WINDOWS_BIN holds carddata.exe and
# cardread.dll, WINSCARD_DLL is the bridge's Windows end.
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
usage 6 "CARDDATA CARDSIM BRIDGE WINDOWS_BIN WINSCARD_DLL WORK_DIR" "$@"
carddata=$1 cardsim=$2 bridge=$3 windows_bin=$4 winscard_dll=$5
fixture=$(cd "$(dirname "$0")/../../testing/pcsc" && pwd)/pcscd-fixture.sh
fresh_work "$6" && mkdir "$work/bin"

cp "$windows_bin/carddata.exe" "$windows_bin/cardread.dll" "$winscard_dll" "$work/bin/"

# A prefix of this test's own with no debugger; the server stays up between the runs (each run
# then takes well under a second).
wine_prefix "$work" "winscard=n;winedbg.exe=d;mscoree,mshtml="
cardsim_pid=
bridge_pid=
cleanup() {
    [[ -z $cardsim_pid ]] || kill "$cardsim_pid" 2>/dev/null || true
    [[ -z $bridge_pid ]] || kill "$bridge_pid" 2>/dev/null || true
    wine_stop
    bash "$fixture" stop "$work/pcscd"
}
trap cleanup EXIT

read -r socket port < <(bash "$fixture" start "$work/pcscd" "" "Sim Reader")
export "${socket?}"
reader="Sim Reader 00 00"

"$bridge" --port-file "$work/bridge.port" --lifetime 900 --trace "$work/bridge.trace" &
bridge_pid=$!
for _ in $(seq 1 100); do
    [[ -s $work/bridge.port ]] && break
    sleep 0.05
done
export WINSCARD_BRIDGE_PORT
WINSCARD_BRIDGE_PORT=$(cat "$work/bridge.port")
wine_boot 900

# Puts a card with the simulator's options into the first reader (none for "-"), logging its
# commands to $1.
insert() {
    local log=$1
    shift
    [[ $1 == - ]] && return 0
    "$cardsim" --port "$port" --log "$log" "$@" &
    cardsim_pid=$!
    "$bridge" --wait-card "$reader" || fail "the simulated card did not come up: $*"
}
pull() {
    [[ -n $cardsim_pid ]] || return 0
    kill "$cardsim_pid"
    wait "$cardsim_pid" || true
    cardsim_pid=
    "$bridge" --wait-empty "$reader" || fail "the reader did not empty"
}

# with_card BASE CARD COMMAND...: runs COMMAND with CARD (the simulator's options, "-" for none)
# in the reader; its output goes to BASE.out and BASE.err, its exit status to status, the card's
# commands to BASE.log.
with_card() {
    local base=$1 card=$2
    shift 2
    # shellcheck disable=SC2086  # the simulator's options are words
    insert "$base.log" $card
    status=0
    "$@" >"$base.out" 2>"$base.err" || status=$?
    pull
}
windows_carddata() { (cd "$work/bin" && wine ./carddata.exe "$1"); }

# The protected VERIFY carries the host's random block and the card authentication answers the
# card's challenge: of those two only the header and length can match.
commands() {
    sed -E 's/^(8C20|8082)([0-9A-F]{6})[0-9A-F]*$/\1\2 (random)/' "$1"
}

# case               ret_code    PIN  SNO   card (simulator options)
cases="
main-three-records   0           1234 ABCD  --kind main --records 6 --entry ABCD=07
wrong-pin            25538       9999 ABCD  --kind main --records 6 --entry ABCD=07
no-card              1979711494  1234 ABCD  -
starcos-two-chunks   0           1234 ABCD  --kind starcos --records 6 --entry ABCD=06 --record-size 2=300
unknown-record-key   1998585873  1234 QQQQ  --kind main --records 6 --entry ABCD=07"

while read -r name code pin sno card; do
    [[ -n $name ]] || continue
    echo "== $name"
    request="{\"UserPIN\":\"$pin\",\"SNO\":\"$sno\",\"ReaderSlot\":\"$reader\"}"
    with_card "$work/$name.linux" "$card" "$carddata" "$request"
    ((status == 0)) || fail "$name: the Linux build exited with $status"
    with_card "$work/$name.windows" "$card" windows_carddata "$request"

    grep -q "^{\"msg\":\"[^\"]*\",\"ret_code\":$code,\"version\":\"1.0.4\"}\$" \
        "$work/$name.linux.out" || fail "$name: Linux reply is not ret_code $code"
    ((status == 0)) || fail "$name: carddata.exe exited with $status"
    cmp -s "$work/$name.linux.out" "$work/$name.windows.out" ||
        fail "$name: Windows reply differs: $(head -c 200 "$work/$name.windows.out")"
    [[ ! -s $work/$name.windows.err ]] ||
        fail "$name: Windows standard error: $(head -c 300 "$work/$name.windows.err")"
    if [[ $card != - ]]; then
        [[ -s $work/$name.linux.log ]] || fail "$name: the card got no command"
        diff <(commands "$work/$name.linux.log") <(commands "$work/$name.windows.log") ||
            fail "$name: the card got other commands from the Windows build"
    fi
done <<<"$cases"

# No reader name: cardread asks Wine's card dialog, whose GetOpenCardNameA Wine 8 does not
# implement at all. The program dies in that call; the card is never reached.
echo "== card-dialog"
with_card "$work/dialog" "--kind main --records 6 --entry ABCD=07" \
    windows_carddata '{"UserPIN":"1234","SNO":"ABCD"}'
((status != 0)) || fail "card-dialog: carddata.exe exited with 0"
[[ ! -s $work/dialog.out ]] || fail "card-dialog: a reply: $(cat "$work/dialog.out")"
grep -q "unimplemented function scarddlg.dll.GetOpenCardNameA" "$work/dialog.err" ||
    fail "card-dialog: not the missing dialog: $(head -c 300 "$work/dialog.err")"
[[ ! -s $work/dialog.log ]] || fail "card-dialog: the card got commands"

if ((failures)); then
    echo "the bridge's calls:"
    tail -n 40 "$work/bridge.trace"
fi
finish "all checks passed"
