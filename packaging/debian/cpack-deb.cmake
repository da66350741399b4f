# CPack project settings of the Linux packages. For a Debian package CPack puts the common summary
# in front of each component's description; each package has a synopsis of its own (the first line
# of its description), so the common one is left out there.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
endif()
