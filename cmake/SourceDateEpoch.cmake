# Run by cpack (from the CPack project files): the packages' time stamps. SOURCE_DATE_EPOCH from
# the environment wins; otherwise it is the commit time of the source tree's last commit, so
# every build of one commit stamps the same time, wherever and whenever it is made. The
# variable stays set for everything cpack starts (dpkg-deb, makensis, the post-build scripts).
# Without either, the packages carry the time they were made, and a warning says so.
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
        message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a number of seconds: $ENV{SOURCE_DATE_EPOCH}")
    endif()
    return()
endif()
find_program(CARD_GIT git)
set(card_epoch "")
if(CARD_GIT)
    execute_process(COMMAND ${CARD_GIT} -C ${CPACK_CARD_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE card_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE card_status ERROR_QUIET)
    if(card_status)
        set(card_epoch "")
    endif()
endif()
if(card_epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${card_epoch})
else()
    message(WARNING "No SOURCE_DATE_EPOCH and no git history in ${CPACK_CARD_SOURCE_DIR}: the "
                    "packages carry the time they are made and are not reproducible")
endif()
