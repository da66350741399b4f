# Install rules and packages of the deliverables this build makes. Included by the top level after
# every deliverable's folder, so the targets exist; each rule is skipped where its target is not
# built (servicectl on Linux, pincheck or carddata where their libraries are missing).
# Libraries go to the multiarch folder (lib/x86_64-linux-gnu on Debian) whatever the prefix, so
# that the Debian packages, installed under /usr, have them where the distribution looks.
if(NOT WIN32 AND CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR})
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
        "Object code libraries (lib/<multiarch triplet>)")
endif()
include(GNUInstallDirs)

set(CARD_PACKAGE_NAME card-programs)
if(WIN32)
    set(CARD_DOC_DIR .)  # the README beside the programs
    set(CARD_PRIVATE_LIB_DIR ${CMAKE_INSTALL_LIBDIR})  # unused: cardread.dll goes to bin
else()
    set(CARD_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CARD_PACKAGE_NAME})
    # libcardread is carddata's own library, not an interface for other programs: it has no
    # SONAME and one caller, so it lives in a folder of the package's own, found through
    # carddata's run path, instead of being a versioned public library.
    set(CARD_PRIVATE_LIB_DIR ${CMAKE_INSTALL_LIBDIR}/${CARD_PACKAGE_NAME})
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
            LIBRARY DESTINATION ${CARD_PRIVATE_LIB_DIR} COMPONENT programs)
endif()
if(NOT WIN32 AND TARGET carddata)
    # carddata finds libcardread relative to itself, wherever the tree is installed. pincheck
    # gets no search path: it would also widen where the card's PKCS#11 module is looked for.
    # The build tree has the library at the same place relative to carddata, so the program is
    # linked with that path once and never rewritten: a path CMake rewrites at install time gets
    # an empty last entry in the build tree, and an empty entry is the current folder.
    file(RELATIVE_PATH card_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CARD_PRIVATE_LIB_DIR})
    set_target_properties(carddata PROPERTIES INSTALL_RPATH "$ORIGIN/${card_bin_to_lib}"
                                              BUILD_WITH_INSTALL_RPATH ON)
    get_target_property(card_carddata_dir carddata BINARY_DIR)
    get_filename_component(card_cardread_dir ${card_carddata_dir}/${card_bin_to_lib} ABSOLUTE)
    set_target_properties(cardread PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${card_cardread_dir})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CARD_DOC_DIR} COMPONENT programs)
if(NOT WIN32)
    include(DebianFiles)
    card_debian_docs(programs ${CARD_PACKAGE_NAME})
endif()

# The token access API for other programs. Component runtime: the shared library (on Windows the
# DLL goes to bin, beside the programs that load it). Component development: the header, the link
# files (libtokenapi.so, the import library), the pkg-config file and the CMake package.
if(TARGET tokenapi)
    include(CMakePackageConfigHelpers)
    get_target_property(tokenapi_version tokenapi VERSION)
    set(tokenapi_include_dir ${CMAKE_INSTALL_INCLUDEDIR}/tokenapi)
    set(tokenapi_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/TokenApi)
    set(tokenapi_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
    install(TARGETS tokenapi EXPORT TokenApiTargets
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                    NAMELINK_COMPONENT development
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
            INCLUDES DESTINATION ${tokenapi_include_dir})
    install(FILES ${PROJECT_SOURCE_DIR}/pincheck/token/token_api.h
            DESTINATION ${tokenapi_include_dir} COMPONENT development)
    if(WIN32)
        # Windows has no system copy of the standard PKCS#11 header that token_api.h includes.
        install(FILES ${PKCS11_INCLUDE_DIR}/p11-kit/pkcs11.h
                DESTINATION ${tokenapi_include_dir}/p11-kit COMPONENT development)
        set(tokenapi_pc_private "")
        set(tokenapi_pc_cflags " -DTOKEN_API_IMPORTS")
    else()
        set(tokenapi_pc_private "p11-kit-1")
        set(tokenapi_pc_cflags "")
    endif()
    install(EXPORT TokenApiTargets NAMESPACE TokenApi:: DESTINATION ${tokenapi_cmake_dir}
            COMPONENT development)
    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TokenApiConfig.cmake.in
        ${CMAKE_CURRENT_BINARY_DIR}/TokenApiConfig.cmake INSTALL_DESTINATION ${tokenapi_cmake_dir})
    write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/TokenApiConfigVersion.cmake
        VERSION ${tokenapi_version} COMPATIBILITY SameMajorVersion)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/TokenApiConfig.cmake
                  ${CMAKE_CURRENT_BINARY_DIR}/TokenApiConfigVersion.cmake
            DESTINATION ${tokenapi_cmake_dir} COMPONENT development)
    # The .pc file finds the prefix from its own place, so the tree works wherever it is put.
    file(RELATIVE_PATH tokenapi_pc_to_prefix /prefix/${tokenapi_pc_dir} /prefix)
    string(REGEX REPLACE "/$" "" tokenapi_pc_to_prefix ${tokenapi_pc_to_prefix})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/tokenapi.pc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/tokenapi.pc @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tokenapi.pc DESTINATION ${tokenapi_pc_dir}
            COMPONENT development)
endif()

set(CPACK_PACKAGE_NAME ${CARD_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Card programs developers")
# A tree configured before kept the old address, whose host mail cannot reach.
if(CARD_PACKAGE_CONTACT MATCHES "@localhost>$")
    unset(CARD_PACKAGE_CONTACT CACHE)
endif()
set(CARD_PACKAGE_CONTACT "Card Programs Maintainers <maintainers@card-programs.org>"
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
# Read by cmake/SourceDateEpoch.cmake at package time: the commit whose time the packages carry.
set(CPACK_CARD_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_CARD_SOURCE_DATE_EPOCH_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/SourceDateEpoch.cmake)

if(WIN32)
    include(WindowsPackage)
else()
    set(CPACK_GENERATOR DEB TGZ)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    # Debian descriptions: the synopsis, then the extended text in lines of at most 80 columns.
    set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/debian/cpack-deb.cmake)
    set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
pincheck checks a card PIN through the card's PKCS#11 module; carddata reads
the card holder data through its private library libcardread, which talks to
the card over PC/SC. Both are console programs that the local card service
starts once per request, with the request as their one argument, and that
answer with one JSON reply line.")
    # Fixed times and rights in every package (packaging/debian/rebuild-packages.cmake).
    set(CPACK_POST_BUILD_SCRIPTS ${CARD_DEBIAN_POST_BUILD})
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${CARD_PRIVATE_LIB_DIR})
    # dpkg-shlibdeps turns the linked libraries (libcrypto, libjsoncpp, libpcsclite, the C++
    # runtime) into the package's dependencies, with the versions this build was made against.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # pcsc-lite's client library reaches cards only through its daemon.
    set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS pcscd)
    if(TARGET tokenapi)
        # One package per component, as Debian splits a library: the programs, the token API's
        # shared library (named after its SONAME), and its development files.
        set(CPACK_DEB_COMPONENT_INSTALL ON)
        set(CPACK_COMPONENTS_ALL programs runtime development)
        set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME ${CARD_PACKAGE_NAME})
        set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtokenapi1)
        set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
        set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CARD_DEBIAN_RUNTIME_CONTROL_EXTRA})
        card_debian_docs(runtime libtokenapi1)
        card_debian_docs(development libtokenapi-dev)
        set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "token access API of pincheck as a shared library
The token access API of pincheck as a shared library for other programs.
Seventeen functions with C linkage bind a PKCS#11 module, list its slots and
tokens, log in, and open keys and certificates as OpenSSL objects.")
        # The shlibs file lets packages built against the library depend on it (libcardread is
        # private to carddata and left out of it).
        set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
        set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtokenapi-dev)
        set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
        set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "development files of the token access API library
Development files of libtokenapi: the header token_api.h, the link file, a
pkg-config file (tokenapi) and a CMake package (find_package(TokenApi)).")
        # The header includes the standard PKCS#11 header and hands out OpenSSL objects.
        set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
            "libtokenapi1 (= ${PROJECT_VERSION}), libssl-dev, libp11-kit-dev")
    endif()
endif()
include(CPack)

if(CARD_BUILD_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/packaging/tests/CMakeLists.txt)
    add_subdirectory(${PROJECT_SOURCE_DIR}/packaging/tests ${CMAKE_BINARY_DIR}/packaging/tests)
endif()
