# The MinGW cross toolchain of one architecture (CARD_MINGW_ARCH: i686 or x86_64), set by the
# toolchain file of that architecture.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${CARD_MINGW_ARCH})
set(CMAKE_C_COMPILER ${CARD_MINGW_ARCH}-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${CARD_MINGW_ARCH}-w64-mingw32-g++)
set(CMAKE_RC_COMPILER ${CARD_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${CARD_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The cross-built OpenSSL and JsonCpp (scripts/mingw-deps.sh) are found under their cache prefix.
if(DEFINED ENV{CARD_MINGW_DEPS})
    set(CARD_MINGW_DEPS "$ENV{CARD_MINGW_DEPS}")
else()
    set(CARD_MINGW_DEPS /var/cache/card-programs/mingw)
endif()
# Each recipe of the script has a folder of its own (see its top comment); the number is read
# from the script, so the two never disagree.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../scripts/mingw-deps.sh card_mingw_recipe REGEX "^recipe=")
string(REGEX REPLACE "^recipe=" "" card_mingw_recipe "${card_mingw_recipe}")
list(APPEND CMAKE_FIND_ROOT_PATH ${CARD_MINGW_DEPS}/r${card_mingw_recipe}/${CARD_MINGW_ARCH})
