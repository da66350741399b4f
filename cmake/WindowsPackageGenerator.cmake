# Read by cpack once per generator of the Windows packages (WindowsPackage.cmake): the ZIP's
# components unpack into one folder named after the package.
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
