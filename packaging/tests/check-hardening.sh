#!/usr/bin/env bash
# Checks the protections the Linux files are built with: hardening-check passes every ELF file of
# the tree installed into a staging folder (cmake --install), and no RUNPATH or RPATH of those
# files or of the build tree's programs and libraries has an empty entry (the current folder) or a
# relative one other than $ORIGIN-based ones.
#
#   check-hardening.sh BUILD_DIR WORK_DIR FORTIFY(ON|OFF)
#
# Two hardening-check verdicts are vague and are judged here instead:
#   - "Fortify Source functions: no, only unprotected functions found!": its table of fortifiable
#     functions is older than glibc's (explicit_bzero is missing) and a copy the compiler proves
#     in bounds stays a plain call. Accepted when the file imports a fortified entry of glibc or
#     every source of the tree was compiled with _FORTIFY_SOURCE (compile_commands.json).
#   - "Control flow integrity: no": the linker marks a file only when all its objects are marked,
#     the C library's start files included. Accepted when a trivial program linked here with
#     -fcf-protection is not marked either.
source "$(dirname "$0")/check-common.sh"
usage 3 "BUILD_DIR WORK_DIR FORTIFY(ON|OFF)" "$@"
build=$(cd "$1" && pwd)
fresh_work "$2"
fortify=$3
logged install.log "cmake --install" cmake --install "$build" --prefix "$work/stage"

all_fortified=no
[[ $fortify == ON ]] && ! grep '"command":' "$build/compile_commands.json" |
    grep -qv -- '-D_FORTIFY_SOURCE=[23] ' && all_fortified=yes
echo 'int main(void) { return 0; }' >"$work/trivial.c"
cc -fcf-protection -o "$work/trivial" "$work/trivial.c"
cet_possible=no
readelf -n "$work/trivial" | grep -q 'x86 feature: IBT, SHSTK' && cet_possible=yes

installed=()
while IFS= read -r file; do
    is_elf "$file" && installed+=("$file")
done < <(find "$work/stage" -type f | sort)
((${#installed[@]} >= 4)) || fail "only ${#installed[@]} ELF files installed: ${installed[*]}"

for file in "${installed[@]}"; do
    name=${file#"$work/stage/"}
    while IFS= read -r line; do
        case $line in
            *': no, '*'(ignored)'*) ;;
            *'Fortify Source functions: no, only unprotected functions found!'*)
                [[ $fortify == ON ]] || continue
                nm -D --undefined-only "$file" | grep -v __stack_chk_fail | grep -q '__[a-z_]*_chk@' ||
                    [[ $all_fortified == yes ]] || fail "$name: $line"
                ;;
            *'Fortify Source functions: no'*) [[ $fortify == OFF ]] || fail "$name: $line" ;;
            *'Control flow integrity: no'*) [[ $cet_possible == no ]] || fail "$name: $line" ;;
            *': no'*) fail "$name: $line" ;;
        esac
    done < <(hardening-check "$file" | tail -n +2)
done
[[ $cet_possible == yes ]] ||
    echo "note: the C library's start files carry no control-flow marking; that check is skipped"

# The build tree's programs and libraries (the test programs among them) and the installed ones.
while IFS= read -r file; do
    is_elf "$file" || continue
    path=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p')
    [[ -n $path ]] || continue
    IFS=: read -r -a entries <<<"$path:"
    for entry in "${entries[@]}"; do
        if [[ -z $entry ]]; then
            fail "${file#"$build/"}: empty entry in search path [$path]"
        elif [[ $entry != /* && $entry != '$ORIGIN' && $entry != '$ORIGIN/'* ]]; then
            fail "${file#"$build/"}: relative entry '$entry' in search path [$path]"
        fi
    done
done < <(find "$build" "$work/stage" -path "$build/windows" -prune -o -path '*/CMakeFiles' -prune \
    -o -type f \( -perm -u+x -o -name '*.so*' \) -print)

finish "all checks passed (${#installed[@]} installed ELF files)"
