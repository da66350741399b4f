#!/usr/bin/env bash
# PIN checks with the pincheck binary of a built tree ($1): against a temporary SoftHSM2 token and
# against the project's scriptable test module, each placed under the card module's plain name.
set -euo pipefail
build=${1:?usage: pincheck.sh BUILD_DIR}
build=$(cd "$build" && pwd)
pincheck="$build/pincheck/pincheck"
mock="$build/testing/p11mock/libp11mock.so"
softhsm=/usr/lib/softhsm/libsofthsm2.so
for f in "$pincheck" "$mock" "$softhsm"; do
    [[ -e $f ]] || { echo "pincheck.sh: missing $f" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/pincheck-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A SoftHSM2 token with the PIN 246810, in a private token folder.
# shellcheck source=../softhsm-token.sh
source "$(dirname "$0")/../softhsm-token.sh"
softhsm_token "$work/softhsm" "demo card" 246810

# The test module: a reader with a card that reports two tries left after a wrong PIN, and a
# reader with no card in it.
mkdir -p "$work/mock"
ln -s "$mock" "$work/mock/ZarqoPKCS11.so"
cat >"$work/mock/card.txt" <<'SCRIPT'
slot 1 description="Demo reader" label="demo card"
pin "1234"
device-error 0x63C2
SCRIPT
cat >"$work/mock/empty.txt" <<'SCRIPT'
slot 1 description="Demo reader" token=no
SCRIPT

run() {  # module folder, request
    LD_LIBRARY_PATH="$1" "$pincheck" "$2"
}

echo "-- SoftHSM2 token, right PIN (246810):"
run "$work/softhsm/module" '{"CA_Function":"checkPin","sPin":"246810","slotID":"-1"}'
echo "-- SoftHSM2 token, wrong PIN (111111):"
run "$work/softhsm/module" '{"CA_Function":"checkPin","sPin":"111111","slotID":"-1"}'
echo "-- test module, card that reports two tries left, wrong PIN (0000):"
P11MOCK_SCRIPT="$work/mock/card.txt" \
    run "$work/mock" '{"CA_Function":"checkPin","sPin":"0000","slotID":"-1"}'
echo "-- test module, reader without a card:"
P11MOCK_SCRIPT="$work/mock/empty.txt" \
    run "$work/mock" '{"CA_Function":"checkPin","sPin":"1234","slotID":"-1"}'
