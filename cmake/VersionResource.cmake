# card_add_version_resource(TARGET DESCRIPTION): on Windows, gives TARGET's file a version resource
# (file and product version from the project, product name, description, original file name,
# copyright) and, for a program, the manifest of packaging/windows/program.manifest (runs as the
# caller, declares the supported Windows versions). windres compiles it (CMake's RC language).
set(CARD_COPYRIGHT "Copyright (C) 2026 Card programs developers"
    CACHE STRING "Copyright line of the Windows version resources")

function(card_add_version_resource target description)
    if(NOT WIN32)
        return()
    endif()
    get_target_property(type ${target} TYPE)
    set(card_rc_version "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
    set(card_rc_description "${description}")
    set(card_rc_name ${target})
    set(card_rc_manifest "")
    if(type STREQUAL "EXECUTABLE")
        set(card_rc_type VFT_APP)
        set(card_rc_file ${target}.exe)
        set(card_rc_manifest
            "1 24 \"${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest\"")
    else()
        set(card_rc_type VFT_DLL)
        set(card_rc_file ${target}.dll)
    endif()
    set(CPACK_PACKAGE_VENDOR "Card programs developers")
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc PROPERTIES
        OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest)
    if(MSVC AND type STREQUAL "EXECUTABLE")
        # The manifest comes from the resource; the linker's own would be a second one.
        target_link_options(${target} PRIVATE /MANIFEST:NO)
    endif()
endfunction()
