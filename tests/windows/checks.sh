# shellcheck shell=bash
# Sourced first by the test scripts here: the packaging checks' shared part (strict mode, the
# argument check, a fresh work folder, the failure count and the verdict), and a Wine prefix of
# the test's own.
# shellcheck source=../../packaging/tests/check-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../packaging/tests/check-common.sh"

# wine_prefix DIR DLLOVERRIDES [WINEDEBUG]: a prefix in DIR/prefix with no display, so nothing
# can wait for a user; no debug channel unless WINEDEBUG names some.
wine_prefix() {
    export WINEPREFIX=$1/prefix WINEDLLOVERRIDES=$2 WINEDEBUG=${3:--all}
    unset DISPLAY WAYLAND_DISPLAY
}
