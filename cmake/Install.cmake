# Install rules and packages of the deliverables this build makes. Included by the top level after
# every deliverable's folder, so the targets exist; each rule is skipped where its target is not
# built (servicectl on Linux, pincheck or carddata where their libraries are missing).
include(GNUInstallDirs)

set(CARD_PACKAGE_NAME card-programs)
if(WIN32)
    set(CARD_DOC_DIR .)  # the README beside the programs
else()
    set(CARD_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CARD_PACKAGE_NAME})
endif()

set(card_installed_programs "")
foreach(program pincheck carddata servicectl)
    if(TARGET ${program})
        list(APPEND card_installed_programs ${program})
    endif()
endforeach()

if(card_installed_programs)
    install(TARGETS ${card_installed_programs}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
endif()
if(TARGET cardread)
    # On Windows the DLL goes beside the programs (the loader looks there first); its import
    # library is of no use to anyone running them and is left out.
    install(TARGETS cardread
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT programs)
endif()
if(NOT WIN32 AND TARGET carddata)
    # carddata finds libcardread relative to itself, wherever the tree is installed. pincheck
    # gets no search path: it would also widen where the card's PKCS#11 module is looked for.
    file(RELATIVE_PATH card_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
    set_target_properties(carddata PROPERTIES INSTALL_RPATH "$ORIGIN/${card_bin_to_lib}")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CARD_DOC_DIR} COMPONENT programs)

set(CPACK_PACKAGE_NAME ${CARD_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Card programs developers")
set(CARD_PACKAGE_CONTACT "Card programs developers <card-programs@localhost>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${CARD_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Card programs behind the local browser-to-smart-card service")
set(CPACK_PACKAGE_DESCRIPTION
    "pincheck checks a card PIN through the card's PKCS#11 module; carddata reads the card \
holder data through libcardread, which talks to the card over PC/SC.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)

if(WIN32)
    include(WindowsPackage)
else()
    set(CPACK_GENERATOR DEB TGZ)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    # dpkg-shlibdeps turns the linked libraries (libcrypto, libjsoncpp, libpcsclite, the C++
    # runtime) into the package's dependencies, with the versions this build was made against.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # pcsc-lite's client library reaches cards only through its daemon.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pcscd)
endif()
include(CPack)

if(CARD_BUILD_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/packaging/tests/CMakeLists.txt)
    add_subdirectory(${PROJECT_SOURCE_DIR}/packaging/tests ${CMAKE_BINARY_DIR}/packaging/tests)
endif()
