# Read by cpack once per generator of the Windows packages (WindowsPackage.cmake). The packages'
# time stamps come from SOURCE_DATE_EPOCH, set from the last commit unless given
# (cmake/SourceDateEpoch.cmake).
include(${CPACK_CARD_SOURCE_DATE_EPOCH_SCRIPT})
# The ZIP's components unpack into one folder named after the package. Its entries' times are
# local times (MS-DOS format), written in UTC so that the ZIP does not depend on the time zone of
# the build.
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
    set(ENV{TZ} UTC)
endif()
