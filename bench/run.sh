#!/usr/bin/env bash
# Per-request latency and peak memory of pincheck and carddata, measured in one run against
# peers and floor programs, interleaved (A,B,C,A,B,C,...), with medians and ratios.
#
#   bench/run.sh [--rounds N] [--warmup W] [--out FILE]
#
# Three groups, each interleaved on its own (bench/README.md lists their programs): pin
# (pincheck on a SoftHSM2 token, pkcs11-tool, p11floor), card (carddata through a private pcscd,
# vpcd and the card simulator, apdufloor in its three connection patterns) and startup.
#
# Builds a Release tree in build/bench. Writes the report (Markdown) to FILE (default
# build/bench/bench/results.md) and the raw samples beside it. Benchmarks only: nothing here
# is part of the test suite.
set -euo pipefail

rounds=100
warmup=3
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
out=""
while (($#)); do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        --warmup) warmup=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        *) echo "usage: $0 [--rounds N] [--warmup W] [--out FILE]" >&2; exit 2 ;;
    esac
done
bin="$build/bench"
out=${out:-$bin/results.md}

# Every case sets the loader path it needs; none inherits one.
unset LD_LIBRARY_PATH

if [[ $(id -u) -eq 0 ]]; then bash "$root/scripts/install-deps.sh"; fi

# --- build ---------------------------------------------------------------------------------
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCARD_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target pincheck carddata cardread cardsim >/dev/null
mkdir -p "$bin"
compile() { local out=$1; shift; cc -O2 -Wall -Wextra -o "$bin/$out" "$@"; }
compile harness "$root/bench/harness.c"
compile trivial "$root/bench/floor/trivial.c"
compile p11floor -I/usr/include/p11-kit-1 "$root/bench/floor/p11floor.c" -ldl
# shellcheck disable=SC2046
compile apdufloor -I"$root/cardread" $(pkg-config --cflags libpcsclite) \
    "$root/bench/floor/apdufloor.c" "$root/bench/floor/des_block.c" $(pkg-config --libs libpcsclite)

pincheck="$build/pincheck/pincheck"
carddata="$build/carddata/carddata"
cardsim="$build/testing/cardsim/cardsim"
p11tool=$(command -v pkcs11-tool)
fixture="$root/testing/pcsc/pcscd-fixture.sh"
keyfile="$root/cardread/keys/test-issuer-keys.txt"

work=$(mktemp -d "${TMPDIR:-/tmp}/bench.XXXXXX")
sim=""
cleanup() {
    if [[ -n $sim ]]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
    bash "$fixture" stop "$work/pcsc" || true
    rm -rf "$work"
}
trap cleanup EXIT

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# --- pin: a SoftHSM2 token under the card module's plain file name ---------------------------
pin=246810
# shellcheck source=../testing/softhsm-token.sh
source "$root/testing/softhsm-token.sh"
softhsm_token "$work/softhsm" "bench card" "$pin"

pin_request="{\"CA_Function\":\"checkPin\",\"sPin\":\"$pin\",\"slotID\":\"-1\"}"
reply=$(LD_LIBRARY_PATH="$work/softhsm/module" "$pincheck" "$pin_request")
[[ $reply == '{"func":"checkPin","ret_code":0,"message":""}' ]] ||
    { echo "pincheck did not accept the PIN: $reply" >&2; exit 1; }
LD_LIBRARY_PATH="$work/softhsm/module" "$bin/p11floor" ZarqoPKCS11.so "$pin"
"$p11tool" --module "$work/softhsm/module/ZarqoPKCS11.so" --login --pin "$pin" --test >/dev/null 2>&1 ||
    { echo "pkcs11-tool --test failed on the token" >&2; exit 1; }

# One case of a group's case file (the harness's format): name, @VAR=VALUE settings, command.
case_line() { local group=$1; shift; (IFS=$'\t'; echo "$*") >>"$work/$group.cases"; }
module_path="@LD_LIBRARY_PATH=$work/softhsm/module"
case_line pin pincheck "$module_path" "$pincheck" "$pin_request"
case_line pin pkcs11-tool "$p11tool" --module "$work/softhsm/module/ZarqoPKCS11.so" --login --pin "$pin" --test
case_line pin p11floor "$module_path" "$bin/p11floor" ZarqoPKCS11.so "$pin"

# --- card: private pcscd, vpcd reader, simulated main-kind card with three records ---------
read -r socket port < <(bash "$fixture" start "$work/pcsc" "" "Bench Reader")
export "${socket?}"
reader="Bench Reader 00 00"
"$cardsim" --port "$port" --kind main --records 3 --entry DEMO=07 --pin 1234 --tries 3 \
    --log "$work/apdu.log" &
sim=$!
card_request="{\"UserPIN\":\"1234\",\"SNO\":\"DEMO\",\"ReaderSlot\":\"$reader\"}"
for _ in $(seq 1 50); do  # until pcscd has seen the card
    reply=$("$carddata" "$card_request")
    [[ $reply == *'"ret_code":0,'* ]] && break
    sleep 0.1
done
msg=${reply#\{\"msg\":\"}
msg=${msg%%\"*}
[[ $reply == *'"ret_code":0,'* && ${#msg} -eq 4000 ]] ||
    { echo "carddata did not read 3 records: $reply" >&2; exit 1; }

# The command sequence of one good read, from the simulator's log of a run of its own (the log
# is opened for appending, so emptying it restarts it), with "--" where the library's second
# call (the read after the size query) begins: after the first READ BINARY, the index read.
: >"$work/apdu.log"
"$carddata" "$card_request" >/dev/null
grep -v '^#' "$work/apdu.log" | awk '{ print } /^80B0/ && !split_done { print "--"; split_done = 1 }' \
    >"$work/read.apdu"
apdu_count=$(grep -vc -- '^--' "$work/read.apdu")
authkey=$(awk -F= '/^auth_key/ { gsub(/[ \t]/, "", $2); print $2 }' "$keyfile")
case_line card carddata "$carddata" "$card_request"
for mode in "" --per-call --one-per-call; do
    floor=("$bin/apdufloor" "$reader" "$work/read.apdu" "$authkey" ${mode:+"$mode"})
    "${floor[@]}"
    case_line card "apdufloor${mode#-}" "${floor[@]}"
done

# --- startup --------------------------------------------------------------------------------
# No module anywhere on the loader's search path (and no LD_LIBRARY_PATH to search first).
reply=$(env -u LD_LIBRARY_PATH "$pincheck" "$pin_request")
[[ $reply == *'"ret_code":3657433094,'* ]] || { echo "pincheck found a module: $reply" >&2; exit 1; }
reply=$("$carddata" 'not json')
[[ $reply == '{"msg":"JSON Format Error","ret_code":1979711499,"version":"1.0.4"}' ]] ||
    { echo "carddata: unexpected reply $reply" >&2; exit 1; }
case_line startup trivial "$bin/trivial"
case_line startup pincheck-no-module "$pincheck" "$pin_request"
case_line startup carddata-not-json "$carddata" "not json"

# --- measure ---------------------------------------------------------------------------------
for group in pin card startup; do
    echo "measuring $group ($rounds rounds)..." >&2
    "$bin/harness" --rounds "$rounds" --warmup "$warmup" --samples "$bin/$group.samples.csv" \
        "$work/$group.cases" >"$bin/$group.summary"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# --- report ------------------------------------------------------------------------------------
awk -v rounds="$rounds" -v cpu_model="$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')" \
    -v cores="$(nproc)" -v kernel="$(uname -srm)" -v load_before="$load_before" \
    -v load_after="$load_after" -v cc_version="$(cc --version | head -1)" \
    -v apdus="$apdu_count" -v date="$(date -u '+%Y-%m-%d %H:%M UTC')" '
    $1 == "case" { med[$2] = $8; q1[$2] = $10; q3[$2] = $12; mn[$2] = $14; rss[$2] = $16; cpu[$2] = $20; fail[$2] = $6; runs[$2] = $4
                   order[++n] = $2 }
    $1 == "harness_rss" { harness = $2 }
    function ms(us) { return sprintf("%.2f", us / 1000) }
    function row(name) {
        printf "| %s | %s | %s–%s | %s | %s | %d | %d/%d |\n", name, ms(med[name]), ms(q1[name]), ms(q3[name]),
               ms(mn[name]), ms(cpu[name]), rss[name], runs[name], runs[name] + fail[name]
    }
    function verdict(ok) { return ok ? "holds" : "**missed**" }
    END {
        printf "Measured %s on %s (%d cores), %s; %s. Release build. Load average %s before, %s after.\n\n",
               date, cpu_model, cores, kernel, cc_version, load_before, load_after
        printf "Each figure is the median of %d interleaved runs per group (fork to reap, as the service sees a run), with quartiles and the fastest run beside it; CPU is the median of the child'\''s user plus system time; peak RSS is the child'\''s maxrss from wait4 in KiB (the harness itself: %d KiB).\n\n", rounds, harness
        printf "| Program | Median ms | Q1–Q3 ms | Min ms | CPU ms | Peak RSS KiB | Runs ok |\n|---|---:|---:|---:|---:|---:|---:|\n"
        for (i = 1; i <= n; ++i) row(order[i])
        r_floor = med["pincheck"] / med["p11floor"]
        r_tool = med["pincheck"] / med["pkcs11-tool"]
        r_card = med["carddata"] / med["apdufloor"]
        r_card_pc = med["carddata"] / med["apdufloor-per-call"]
        r_card_one = med["carddata"] / med["apdufloor-one-per-call"]
        d_pin = (med["pincheck-no-module"] - med["trivial"]) / 1000
        d_card = (med["carddata-not-json"] - med["trivial"]) / 1000
        c_pin = (cpu["pincheck-no-module"] - cpu["trivial"]) / 1000
        c_card = (cpu["carddata-not-json"] - cpu["trivial"]) / 1000
        printf "\nCard read: %d commands per run (size query and read).\n\n", apdus
        printf "| Goal | Measured | Verdict |\n|---|---|---|\n"
        printf "| pincheck ≤ 1.25 × its floor | %.2f × p11floor | %s |\n", r_floor, verdict(r_floor <= 1.25)
        printf "| pincheck faster than pkcs11-tool | %.2f × pkcs11-tool | %s |\n", r_tool, verdict(r_tool < 1)
        printf "| carddata ≤ 1.25 × its floor | %.2f × apdufloor (%.2f × the library-pattern floor, %.2f × one connection per call) | %s |\n", r_card, r_card_pc, r_card_one, verdict(r_card <= 1.25)
        printf "| pincheck start-up within 2 ms of a trivial program | +%.2f ms (CPU +%.2f ms) | %s |\n", d_pin, c_pin, verdict(d_pin <= 2)
        printf "| carddata start-up within 2 ms of a trivial program | +%.2f ms (CPU +%.2f ms) | %s |\n", d_card, c_card, verdict(d_card <= 2)
        printf "| pincheck peak RSS below pkcs11-tool | %d vs %d KiB | %s |\n", rss["pincheck"], rss["pkcs11-tool"], verdict(rss["pincheck"] < rss["pkcs11-tool"])
        printf "| carddata peak RSS below pkcs11-tool | %d vs %d KiB | %s |\n", rss["carddata"], rss["pkcs11-tool"], verdict(rss["carddata"] < rss["pkcs11-tool"])
    }' "$bin/pin.summary" "$bin/card.summary" "$bin/startup.summary" >"$out"
cat "$out"
