# Run by CPack after the Debian packages are made (CPACK_POST_BUILD_SCRIPTS): the shared library's
# package gets dpkg's ldconfig trigger, so the postinst and postrm that only call ldconfig, which
# CPack adds to every package with a library under /usr/lib, are taken out again.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "/libtokenapi1_[^/]*\\.deb$")
        continue()
    endif()
    set(tree ${package}.tree)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb -R ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    foreach(script postinst postrm)
        if(EXISTS ${tree}/DEBIAN/${script})
            file(READ ${tree}/DEBIAN/${script} text)
            if(NOT text MATCHES "ldconfig")
                message(FATAL_ERROR "${package}: ${script} does more than ldconfig")
            endif()
            file(REMOVE ${tree}/DEBIAN/${script})
        endif()
    endforeach()
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -b ${tree} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
    # CPack wrote the checksum of the package before this script ran.
    if(EXISTS ${package}.sha256)
        file(SHA256 ${package} sum)
        get_filename_component(name ${package} NAME)
        file(WRITE ${package}.sha256 "${sum}  ${name}\n")
    endif()
endforeach()
