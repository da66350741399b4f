# Sourced by the test scripts here: the failure count and its report, and the Wine prefix of a
# test of its own.
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Ends the script: the count of failed checks and status 1, or MESSAGE (all checks passed).
finish() {
    if ((failures)); then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "${1:-all checks passed}"
}

# wine_prefix DIR DLLOVERRIDES [WINEDEBUG]: a prefix in DIR/prefix with no display, so nothing
# can wait for a user; no debug channel unless WINEDEBUG names some.
wine_prefix() {
    export WINEPREFIX=$1/prefix WINEDLLOVERRIDES=$2 WINEDEBUG=${3:--all}
    unset DISPLAY WAYLAND_DISPLAY
}
