# Shared by the packaging checks, sourced first: strict mode, the argument check, a fresh work
# folder, the count of failed checks and the verdict.
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND"' ERR

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# abort MESSAGE: a failure that ends the check at once.
abort() {
    echo "FAIL: $*"
    exit 1
}
# usage COUNT "ARGUMENTS" "$@": exits with status 2 unless COUNT arguments follow.
usage() { (($# == $1 + 2)) || { echo "usage: $0 $2" >&2 && exit 2; }; }
# fresh_work DIR: empties DIR and sets work to its absolute path.
fresh_work() { rm -rf "$1" && mkdir -p "$1" && work=$(cd "$1" && pwd); }
# logged LOG WHAT COMMAND...: runs COMMAND with its output in $work/LOG, shown when it fails.
logged() { "${@:3}" >"$work/$1" 2>&1 || { cat "$work/$1" && abort "$2"; }; }
# the_debs DIR: sets debs to the packages in DIR; ends the check unless there are three.
the_debs() {
    shopt -s nullglob
    debs=("$1"/*.deb)
    ((${#debs[@]} == 3)) || abort "expected three .deb files in $1, found ${#debs[@]}"
}
is_elf() { [[ -f $1 && ! -L $1 && $(head -c 4 "$1" | od -An -c | tr -d ' ') == '177ELF' ]]; }
# finish MESSAGE: ends with status 1 after any failed check, else prints MESSAGE.
finish() {
    ((failures == 0)) || { echo "$failures check(s) failed" && exit 1; }
    echo "$1"
}
