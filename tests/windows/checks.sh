# shellcheck shell=bash
# Sourced first by the test scripts here: the packaging checks' shared part (strict mode, the
# argument check, a fresh work folder, the failure count and the verdict), and a Wine prefix of
# the test's own.
# shellcheck source=../../packaging/tests/check-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../packaging/tests/check-common.sh"

# wine_prefix DIR DLLOVERRIDES [WINEDEBUG]: a prefix in DIR/prefix with no display, so nothing
# can wait for a user; no debug channel unless WINEDEBUG names some. Its server ends with the script.
wine_prefix() {
    export WINEPREFIX=$1/prefix WINEDLLOVERRIDES=$2 WINEDEBUG=${3:--all}
    unset DISPLAY WAYLAND_DISPLAY
    trap wine_stop EXIT
}
wine_stop() { wineserver -k >/dev/null 2>&1 || true; }

# wine_boot SECONDS: makes the prefix, then keeps one server up until SECONDS after its last
# program. wineboot returns while its server still stops the prefix's services: waiting for that
# one first means no step starts while services are being torn down.
wine_boot() {
    wineboot -i >/dev/null 2>&1
    wineserver -w
    wineserver -p"$1"
}
