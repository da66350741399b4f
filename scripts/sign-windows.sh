#!/usr/bin/env bash
# Signs Windows files in place with Authenticode (SHA-256) through osslsigncode, with an RFC 3161
# time stamp when a time-stamp address is given. The Windows packages call it on the staged
# programs and DLLs before packing them and on the setup program once it is written
# (cmake/WindowsSign.cmake); it also signs a folder laid out by hand.
#
#   sign-windows.sh FILE...
#   sign-windows.sh --if-key FILE...   the same, but nothing to do without a certificate and key
#
# From the environment (the key stays outside the tree; only file names are passed around):
#   CARD_SIGN_CERT           the code-signing certificate, with its chain (PEM or DER)
#   CARD_SIGN_KEY            its private key (PEM or DER)
#   CARD_SIGN_PASSWORD_FILE  optional: a file holding the key's passphrase
#   CARD_SIGN_TIMESTAMP      optional: the address of an RFC 3161 time-stamp service
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
if [[ ${1:-} == --if-key ]]; then
    shift
    [[ -z ${CARD_SIGN_CERT:-}${CARD_SIGN_KEY:-} ]] && exit 0
fi
(($#)) || {
    sed -n '7,8p' "$0" >&2
    exit 2
}
: "${CARD_SIGN_CERT:?no certificate (CARD_SIGN_CERT)}" "${CARD_SIGN_KEY:?no key (CARD_SIGN_KEY)}"
for file in "$CARD_SIGN_CERT" "$CARD_SIGN_KEY" ${CARD_SIGN_PASSWORD_FILE:+"$CARD_SIGN_PASSWORD_FILE"}; do
    [[ -r $file ]] || {
        echo "sign-windows.sh: cannot read $file" >&2
        exit 1
    }
done

# The passphrase is read from its file by osslsigncode itself: never on a command line.
options=(-h sha256 -certs "$CARD_SIGN_CERT" -key "$CARD_SIGN_KEY" -n "Card Programs")
[[ -n ${CARD_SIGN_PASSWORD_FILE:-} ]] && options+=(-readpass "$CARD_SIGN_PASSWORD_FILE")
[[ -n ${CARD_SIGN_TIMESTAMP:-} ]] && options+=(-ts "$CARD_SIGN_TIMESTAMP")

for file in "$@"; do
    # A partly written file never replaces the unsigned one.
    rm -f "$file.signing"
    if ! osslsigncode sign "${options[@]}" -in "$file" -out "$file.signing" >"$file.signing.log" 2>&1; then
        cat "$file.signing.log" >&2
        rm -f "$file.signing" "$file.signing.log"
        echo "sign-windows.sh: could not sign $file" >&2
        exit 1
    fi
    chmod --reference="$file" "$file.signing"
    mv -f "$file.signing" "$file"
    rm -f "$file.signing.log"
    echo "signed $file"
done
