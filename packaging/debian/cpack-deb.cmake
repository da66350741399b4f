# CPack project settings of the Linux packages. The packages' time stamps come from
# SOURCE_DATE_EPOCH, set from the last commit unless given (cmake/SourceDateEpoch.cmake).
include(${CPACK_CARD_SOURCE_DATE_EPOCH_SCRIPT})
# For a Debian package CPack puts the common summary
# in front of each component's description; each package has a synopsis of its own (the first line
# of its description), so the common one is left out there.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
endif()
