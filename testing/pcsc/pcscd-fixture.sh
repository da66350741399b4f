#!/usr/bin/env bash
# Private pcscd for scripts and hand testing: one vpcd entry (readers "<name> 00 00" on PORT and
# "<name> 00 01" on PORT+1), run in its own mount namespace so its socket sits in DIR/run and
# the system's daemon is never touched.
#
#   pcscd-fixture.sh start DIR [PORT] [NAME]   starts it, waits until it is ready; prints
#                                               "PCSCLITE_CSOCK_NAME=DIR/run/pcscd.comm PORT"
#   pcscd-fixture.sh stop DIR                  stops it (its whole process group)
#   pcscd-fixture.sh run DIR PORT NAME         runs it in the foreground (the C++ fixture's way)
#
# Clients reach it with PCSCLITE_CSOCK_NAME=DIR/run/pcscd.comm in their environment.
set -euo pipefail

driver=/usr/lib/pcsc/drivers/serial/libifdvpcd.so

listening() {  # port in LISTEN state, from /proc/net/tcp (connecting would insert a card)
    local hex
    hex=$(printf ':%04X' "$1")
    awk -v p="$hex" 'NR > 1 && $4 == "0A" && substr($2, length($2) - 4) == p { f = 1 }
                     END { exit !f }' /proc/net/tcp
}

free_port_pair() {
    local port
    for _ in $(seq 1 50); do
        port=$((20000 + (RANDOM % 20000) * 2))
        if ! listening "$port" && ! listening $((port + 1)); then
            echo "$port"
            return
        fi
    done
    echo "no free port pair found" >&2
    return 1
}

run() {
    local dir=$1 hexport flags=-Urm
    hexport=$(printf '0x%04X' "$2")
    mkdir -p "$dir/run" "$dir/readers.d"
    cat >"$dir/readers.d/vpcd" <<CONF
FRIENDLYNAME "$3"
DEVICENAME /dev/null:$hexport
LIBPATH $driver
CHANNELID $hexport
CONF
    unshare -Urm true 2>/dev/null || flags=-m  # no user namespaces here: plain one as root
    # Without /run/pcscd a private tmpfs over /run (inside the namespace only) provides one.
    exec unshare "$flags" sh -c '
        set -e
        if [ ! -d /run/pcscd ]; then mount -t tmpfs -o mode=755 pcsctest /run; mkdir /run/pcscd; fi
        mount --bind "$1/run" /run/pcscd
        exec pcscd -f -c "$1/readers.d"' pcsctest "$dir"
}

start() {
    local dir=$1 port=${2:-} name=${3:-Sim Reader}
    [[ -n $port ]] || port=$(free_port_pair)
    mkdir -p "$dir"
    setsid bash "$0" run "$dir" "$port" "$name" >"$dir/pcscd.log" 2>&1 &
    echo $! >"$dir/pcscd.pid"
    for _ in $(seq 1 300); do
        if [[ -S $dir/run/pcscd.comm ]] && listening "$port" && listening $((port + 1)); then
            echo "PCSCLITE_CSOCK_NAME=$dir/run/pcscd.comm $port"
            return 0
        fi
        kill -0 "$(cat "$dir/pcscd.pid")" 2>/dev/null || break
        sleep 0.05
    done
    echo "private pcscd did not come up; its log:" >&2
    cat "$dir/pcscd.log" >&2
    stop "$dir"
    return 1
}

stop() {
    local dir=$1 pid
    [[ -f $dir/pcscd.pid ]] || return 0
    pid=$(cat "$dir/pcscd.pid")
    kill -TERM -- "-$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL -- "-$pid" 2>/dev/null || true
    rm -f "$dir/pcscd.pid"
}

case ${1:-} in
    start) shift; start "$@" ;;
    stop) shift; stop "$@" ;;
    run) shift; run "$@" ;;
    *) echo "usage: $0 start DIR [PORT] [NAME] | stop DIR | run DIR PORT NAME" >&2; exit 2 ;;
esac
