# Run by CPack for each Windows package (WindowsPackage.cmake): before packing
# (CPACK_PRE_BUILD_SCRIPTS) it signs every staged .exe and .dll, so the setup and the ZIP carry
# signed files; after (CPACK_POST_BUILD_SCRIPTS, CPACK_PACKAGE_FILES set) it signs the setup
# program. The certificate and key are the ones the tree was configured with (CARD_SIGN_CERT,
# CARD_SIGN_KEY, ...) or, when it was configured without, the same names in the environment of
# the cpack run. Neither: the packages stay unsigned.
foreach(name CERT KEY PASSWORD_FILE TIMESTAMP)
    if(NOT "${CPACK_CARD_SIGN_${name}}" STREQUAL "")
        set(ENV{CARD_SIGN_${name}} "${CPACK_CARD_SIGN_${name}}")
    endif()
endforeach()
if("$ENV{CARD_SIGN_CERT}" STREQUAL "" AND "$ENV{CARD_SIGN_KEY}" STREQUAL "")
    return()
endif()

if(DEFINED CPACK_PACKAGE_FILES)
    set(files "")
    foreach(package IN LISTS CPACK_PACKAGE_FILES)
        if(package MATCHES "\\.exe$")
            list(APPEND files ${package})
        endif()
    endforeach()
else()
    file(GLOB_RECURSE files LIST_DIRECTORIES false ${CPACK_TEMPORARY_DIRECTORY}/*.exe
         ${CPACK_TEMPORARY_DIRECTORY}/*.dll)
    if(NOT files)
        message(FATAL_ERROR "no .exe or .dll staged in ${CPACK_TEMPORARY_DIRECTORY} to sign")
    endif()
endif()
if(NOT files)
    return()
endif()
execute_process(COMMAND bash ${CPACK_CARD_SIGN_SCRIPT} ${files} COMMAND_ERROR_IS_FATAL ANY)

include(${CMAKE_CURRENT_LIST_DIR}/PackageChecksum.cmake)
foreach(package IN LISTS files)
    card_refresh_checksum(${package})
endforeach()
