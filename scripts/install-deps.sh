#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need (run as root). Quiet when
# everything is already there, so repeated runs cost a second.
set -euo pipefail

packages=(
    cmake g++ make pkg-config clang-format
    libssl-dev libjsoncpp-dev libpcsclite-dev libp11-kit-dev
    libgtest-dev libgmock-dev
    pcscd vsmartcard-vpcd pcsc-tools
    softhsm2 opensc gnutls-bin
    mingw-w64 wine64 wine locales nsis unzip
    clang libclang-rt-14-dev
    util-linux procps
    dpkg-dev devscripts lintian osslsigncode
    diffoscope-minimal faketime git
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
