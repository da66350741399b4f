# Two builds of one commit give the same bytes, whatever folder they are made in and whenever:
#   - no absolute path of the source or build folder in any object (file names of __FILE__ and
#     of the debug information): both are written as ".";
#   - MinGW: no link time in the PE header (TimeDateStamp 0; GNU ld writes none into a debug
#     directory, as it makes none without --build-id);
#   - the packages take their time stamps from SOURCE_DATE_EPOCH, which cpack sets from the last
#     commit when the environment does not (cmake/SourceDateEpoch.cmake, run by the CPack
#     project files of packaging/debian and cmake/WindowsPackageGenerator.cmake).
# scripts/check-reproducible.sh checks it.
if(MSVC)
    return()
endif()
# The build folder comes last: GCC applies the last matching map, and the build folder may lie
# inside the source folder. Only for the compilers: windres takes no such option.
add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")
if(MINGW)
    add_link_options(-Wl,--no-insert-timestamp)
endif()
# Folders made by an install get the same rights whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
