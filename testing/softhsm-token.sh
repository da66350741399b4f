# Sourced by the demo and the benchmark. softhsm_token DIR LABEL PIN makes a SoftHSM2 token in a
# private token folder under DIR (its configuration exported as SOFTHSM2_CONF) and links the
# SoftHSM2 module as DIR/module/ZarqoPKCS11.so, the card module's plain file name.
softhsm_token() {
    local dir=$1 label=$2 pin=$3
    mkdir -p "$dir/tokens" "$dir/module"
    cat >"$dir/softhsm2.conf" <<CONF
directories.tokendir = $dir/tokens
objectstore.backend = file
log.level = ERROR
CONF
    export SOFTHSM2_CONF="$dir/softhsm2.conf"
    softhsm2-util --init-token --free --label "$label" --pin "$pin" --so-pin 13579111 >/dev/null
    ln -s /usr/lib/softhsm/libsofthsm2.so "$dir/module/ZarqoPKCS11.so"
}
