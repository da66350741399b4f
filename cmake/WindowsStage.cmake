# Run by CPack before it packs each Windows package (CPACK_PRE_BUILD_SCRIPTS, after the signing
# step): the staged files get the time SOURCE_DATE_EPOCH (cmake/SourceDateEpoch.cmake) and fixed
# rights, since the setup program keeps each file's time to restore it on install and the ZIP
# keeps times and rights. So one commit gives the same setup and ZIP whenever and wherever it is
# built. Unix hosts only (the MinGW cross build); an MSVC build packs the times of its build.
if(NOT CMAKE_HOST_UNIX OR "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    return()
endif()
set(tree ${CPACK_TEMPORARY_DIRECTORY})
execute_process(COMMAND find ${tree} -type d -exec chmod 0755 {} + COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find ${tree} -type f -perm /111 -exec chmod 0755 {} +
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find ${tree} -type f ! -perm /111 -exec chmod 0644 {} +
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find ${tree} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
                COMMAND_ERROR_IS_FATAL ANY)
