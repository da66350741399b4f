# Run by CPack after the Debian packages are made (CPACK_POST_BUILD_SCRIPTS): each package is
# unpacked and built again with dpkg-deb, so that the same commit gives the same bytes:
#   - every file and folder gets the time SOURCE_DATE_EPOCH (cmake/SourceDateEpoch.cmake), and
#     dpkg-deb stamps the ar members with it; CPack would keep the times of the build;
#   - folders 0755, files 0755 when executable and 0644 otherwise, whatever the build's umask;
#   - dpkg-deb sorts the members and writes them as root:root.
# The shared library's package also gets dpkg's ldconfig trigger in place of the postinst and
# postrm that only call ldconfig, which CPack adds to every package with a library under
# /usr/lib: they are taken out here.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/PackageChecksum.cmake)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "\\.deb$")
        continue()
    endif()
    set(tree ${package}.tree)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb -R ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    if(package MATCHES "/libtokenapi1_[^/]*\\.deb$")
        foreach(script postinst postrm)
            if(EXISTS ${tree}/DEBIAN/${script})
                file(READ ${tree}/DEBIAN/${script} text)
                if(NOT text MATCHES "ldconfig")
                    message(FATAL_ERROR "${package}: ${script} does more than ldconfig")
                endif()
                file(REMOVE ${tree}/DEBIAN/${script})
            endif()
        endforeach()
    endif()
    execute_process(COMMAND find ${tree} -type d -exec chmod 0755 {} +
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND find ${tree} -type f -perm /111 -exec chmod 0755 {} +
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND find ${tree} -type f ! -perm /111 -exec chmod 0644 {} +
                    COMMAND_ERROR_IS_FATAL ANY)
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
        execute_process(COMMAND find ${tree} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -b ${tree} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
    card_refresh_checksum(${package})
endforeach()
