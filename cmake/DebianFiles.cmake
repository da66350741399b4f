# The files Debian asks of every package: the copyright file and the changelog in the package's
# own documentation folder, the manual pages, compressed as dpkg and lintian expect (gzip -9n: no
# name or time in the header, so the same text gives the same bytes). The sources are in
# packaging/debian.
set(card_debian_source ${PROJECT_SOURCE_DIR}/packaging/debian)
set(card_debian_out ${CMAKE_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${card_debian_out})

function(card_debian_gzip source target)
    execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${target} RESULT_VARIABLE status)
    if(status)
        message(FATAL_ERROR "gzip ${source} failed")
    endif()
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

card_debian_gzip(${card_debian_source}/changelog ${card_debian_out}/changelog.gz)

# card_debian_docs(COMPONENT PACKAGE): copyright and changelog into /usr/share/doc/PACKAGE.
function(card_debian_docs component package)
    install(FILES ${card_debian_source}/copyright ${card_debian_out}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

foreach(program pincheck carddata)
    if(TARGET ${program})
        card_debian_gzip(${card_debian_source}/${program}.1 ${card_debian_out}/${program}.1.gz)
        install(FILES ${card_debian_out}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
                COMPONENT programs)
    endif()
endforeach()

# The shared library's package runs ldconfig through dpkg's trigger rather than through
# maintainer scripts; CPack writes such scripts for any library under /usr/lib. Once CPack has
# made the packages, each is rebuilt with fixed times and rights, the library's without those
# scripts (packaging/debian/rebuild-packages.cmake).
file(WRITE ${card_debian_out}/runtime/triggers "activate-noawait ldconfig\n")
set(CARD_DEBIAN_RUNTIME_CONTROL_EXTRA ${card_debian_out}/runtime/triggers)
set(CARD_DEBIAN_POST_BUILD ${card_debian_source}/rebuild-packages.cmake)
