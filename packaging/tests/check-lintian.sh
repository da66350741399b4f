#!/usr/bin/env bash
# Runs lintian on the Debian packages that packaging.deb made and fails on any error or warning,
# and on any informational tag that packaging/debian/lintian-info.txt does not name with its
# reason. The hardening tags (hardening-no-bindnow, hardening-no-fortify-functions) are only
# informational in this lintian but are not named there: they go away when the tree is built with
# the hardening flags, and until then this test fails on them.
#
#   check-lintian.sh DEB_DIR
source "$(dirname "$0")/check-common.sh"
usage 1 DEB_DIR "$@"
the_debs "$1"
status=0
# Root is only warned about on stderr, which is not a tag.
output=$(lintian --display-info --fail-on error,warning "${debs[@]}" 2>/dev/null) || status=$?
echo "$output"
((status == 0)) || abort "lintian reports errors or warnings (exit status $status)"
allowed=$(grep -o '^[a-z][a-z0-9-]*' "$(dirname "$0")/../debian/lintian-info.txt" | sort -u)
unexplained=$(sed -n 's/^I: [^:]*: \([a-z0-9-]*\).*/\1/p' <<<"$output" | sort -u |
    comm -23 - <(echo "$allowed"))
[[ -z $unexplained ]] || abort "informational tags without a reason in lintian-info.txt: $unexplained"
echo "lintian: no error, no warning, no unexplained informational tag"
