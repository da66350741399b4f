#!/usr/bin/env bash
# The main job on the built-in demo setup: installs what it needs, builds, then checks PINs with
# pincheck against a simulated token and reads card data with carddata from a simulated card
# through a private pcscd.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

build="$root/build/demo"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

echo "== pincheck: PIN checks through a PKCS#11 module"
bash "$root/testing/demo/pincheck.sh" "$build"
echo
echo "== carddata: card holder data from a simulated card through pcscd"
bash "$root/testing/demo/carddata.sh" "$build"
