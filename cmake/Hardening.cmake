# The protections a Debian package's code is built with (bookworm's dpkg-buildflags with
# hardening=+all, plus the stack-clash and control-flow protection newer releases default to),
# for the whole tree: the programs and libraries that ship, the static libraries they are made
# of, and the tests and tools that run the same code. One place, so the plain tree, the .deb
# (packed from it) and the benchmark tree (bench/run.sh configures its own) are all built alike.
#
# _FORTIFY_SOURCE only works with optimisation (glibc warns without it, and -Werror trees fail)
# and the sanitizers replace the same libc functions with checks of their own: it is defined in
# optimised builds without CARD_SANITIZE and CARD_COVERAGE. CARD_HARDENING_FORTIFY says whether
# it is, for the test that checks the installed files (packaging/tests).
include(CheckCXXCompilerFlag)

set(CARD_HARDENING_FORTIFY OFF)
if(MSVC)
    return()
endif()

# Flags not every compiler or target has (-fcf-protection is x86 only, for instance).
function(card_hardening_optional_flags)
    foreach(flag ${ARGN})
        string(MAKE_C_IDENTIFIER "card_has${flag}" var)
        check_cxx_compiler_flag(${flag} ${var})
        if(${var})
            add_compile_options(${flag})
        endif()
    endforeach()
endfunction()

add_compile_options(-fstack-protector-strong)
if(MINGW)
    # The MinGW runtime has no stack protector of its own: the flag on the link line makes gcc
    # link libssp for it, statically here since the whole tree links with -static (no libssp DLL
    # beside the programs).
    add_link_options(-fstack-protector-strong)
    return()
endif()

add_compile_options(-Wformat -Werror=format-security)
card_hardening_optional_flags(-fstack-clash-protection -fcf-protection)
# Relocations read-only after start-up and resolved at start-up (no lazy binding, whose resolver
# leaves registers, among them argument bytes, on the stack). -O1 sorts the dynamic hash tables
# and --as-needed keeps libraries nothing uses out of the start-up.
add_link_options(-Wl,-z,relro -Wl,-z,now -Wl,-O1 -Wl,--as-needed)

string(TOUPPER "${CMAKE_BUILD_TYPE}" card_build_type)
if(card_build_type MATCHES "^(RELEASE|RELWITHDEBINFO|MINSIZEREL)$" AND NOT CARD_SANITIZE
   AND NOT CARD_COVERAGE)
    set(CARD_HARDENING_FORTIFY ON)
    # A compiler that already defines it (some distributions do) would warn about the redefinition.
    add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3)
endif()
