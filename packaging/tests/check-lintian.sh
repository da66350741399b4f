#!/usr/bin/env bash
# Runs lintian on the Debian packages that packaging.deb made and fails on any error or warning,
# and on any informational tag that packaging/debian/lintian-info.txt does not name with its
# reason. The hardening tags (hardening-no-bindnow, hardening-no-fortify-functions) are only
# informational in this lintian but are not named there: they go away when the tree is built with
# the hardening flags, and until then this test fails on them.
#
#   check-lintian.sh DEB_DIR
set -euo pipefail
(($# == 1)) || {
    echo "usage: $0 DEB_DIR" >&2
    exit 2
}
shopt -s nullglob
debs=("$1"/*.deb)
if ((${#debs[@]} != 3)); then
    echo "FAIL: expected three .deb files in $1, found ${#debs[@]}"
    exit 1
fi
status=0
# Root is only warned about on stderr, which is not a tag.
output=$(lintian --display-info --fail-on error,warning "${debs[@]}" 2>/dev/null) || status=$?
echo "$output"
if ((status != 0)); then
    echo "FAIL: lintian reports errors or warnings (exit status $status)"
    exit 1
fi
allowed=$(grep -o '^[a-z][a-z0-9-]*' "$(dirname "$0")/../debian/lintian-info.txt" | sort -u)
unexplained=$(sed -n 's/^I: [^:]*: \([a-z0-9-]*\).*/\1/p' <<<"$output" | sort -u |
    comm -23 - <(echo "$allowed"))
if [[ -n $unexplained ]]; then
    echo "FAIL: informational tags without a reason in lintian-info.txt: $unexplained"
    exit 1
fi
echo "lintian: no error, no warning, no unexplained informational tag"
