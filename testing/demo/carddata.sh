#!/usr/bin/env bash
# Card data reads with the carddata binary of a built tree ($1): a private pcscd with a vpcd
# reader, a simulated main-kind card with three records, then a good request, a wrong PIN, and
# a request with the card taken out. Stops everything it started, also on failure.
set -euo pipefail
build=${1:?usage: carddata.sh BUILD_DIR}
build=$(cd "$build" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
carddata="$build/carddata/carddata"
cardsim="$build/testing/cardsim/cardsim"
fixture="$root/testing/pcsc/pcscd-fixture.sh"
for f in "$carddata" "$cardsim"; do
    [[ -x $f ]] || { echo "carddata.sh: missing $f" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/carddata-demo.XXXXXX")
sim=""
cleanup() {
    if [[ -n $sim ]]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
    bash "$fixture" stop "$work" || true
    rm -rf "$work"
}
trap cleanup EXIT

read -r socket port < <(bash "$fixture" start "$work" "" "Demo Reader")
export "$socket"
reader="Demo Reader 00 00"

# The card: PIN 1234, three tries, records AC01..AC03 under the record key "DEMO".
"$cardsim" --port "$port" --kind main --records 3 --entry DEMO=07 --pin 1234 --tries 3 \
    --log "$work/apdu.log" &
sim=$!
sleep 1  # pcscd polls its readers about every 0.4 s before it reports the card

echo "-- good request (PIN 1234, SNO DEMO, reader \"$reader\")"
"$carddata" "{\"UserPIN\":\"1234\",\"SNO\":\"DEMO\",\"ReaderSlot\":\"$reader\"}"
echo "-- wrong PIN (the card answers 63C2: two tries left)"
"$carddata" '{"UserPIN":"9999","SNO":"DEMO"}'
echo "-- card taken out"
kill "$sim"
wait "$sim" || true
sim=""
sleep 1  # until pcscd notices the empty reader
"$carddata" "{\"UserPIN\":\"1234\",\"SNO\":\"DEMO\",\"ReaderSlot\":\"$reader\"}"
echo "-- $(grep -vc '^#' "$work/apdu.log") command APDUs reached the card"
