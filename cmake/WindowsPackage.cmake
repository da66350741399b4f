# The Windows packages of the install tree: a setup program (NSIS, made with Debian's makensis as
# well) and a ZIP of the same folder. Everything lands in one folder under Program Files: the
# programs, the DLLs they load (cardread, libcrypto, and whatever else the runtime parts install)
# and the README. The setup registers its uninstaller in Add/Remove Programs under the product's
# name with the version; the uninstaller removes every file and that entry.
# Included by Install.cmake after every install rule, before CPack.
set(CPACK_GENERATOR NSIS ZIP)

# What a user runs, not what a developer builds against: every install component but the
# development one (headers, import libraries, package files).
get_cmake_property(card_components COMPONENTS)
list(REMOVE_ITEM card_components development)
set(CPACK_COMPONENTS_ALL ${card_components})
# The ZIP takes the same components, all in one archive (a plain archive would hold every
# component), with the folder on top (set at package time: the setup must not get that folder).
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/WindowsPackageGenerator.cmake)

set(CARD_WINDOWS_PRODUCT "Card Programs")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "${CARD_WINDOWS_PRODUCT}")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${CARD_WINDOWS_PRODUCT}")
set(CPACK_NSIS_DISPLAY_NAME "${CARD_WINDOWS_PRODUCT}")
set(CPACK_NSIS_PACKAGE_NAME "${CARD_WINDOWS_PRODUCT} ${PROJECT_VERSION}")
set(CPACK_NSIS_CONTACT "${CARD_PACKAGE_CONTACT}")
# No licence text of our own to show, and the default one is CMake's.
set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
# Console programs that the service starts: nothing to put on the PATH.
set(CPACK_NSIS_MODIFY_PATH OFF)

# The x64 setup is itself a 64-bit program: it installs under the 64-bit Program Files and writes
# its entry into the 64-bit registry view, where Add/Remove Programs lists 64-bit software. The
# script's target goes in on the compressor's line: the one global line CPack leaves to the
# project whatever the components (it rewrites its defines line when there are components).
# No file's time goes into the setup (SetDateSave off: installed files get the time they are
# installed): CPack writes a file of its own next to the script when it packs, whose time would
# differ from build to build, so the same commit would give another setup each time.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_NSIS_COMPRESSOR "lzma\n  SetDateSave off\n  Target amd64-unicode")
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    set(card_windows_arch win64)
else()
    set(CPACK_NSIS_COMPRESSOR "lzma\n  SetDateSave off\n  Target x86-unicode")
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES")
    set(card_windows_arch win32)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CARD_PACKAGE_NAME}-${PROJECT_VERSION}-${card_windows_arch})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

# An upgrade first runs the installed version's uninstaller (silently too: /S answers yes), so
# no file of the old version stays behind.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The programs load DLLs from their own folder first, so only administrators may change what is
# in it, wherever it is put: a /D= folder a user made (and owns) keeps that user's rights
# otherwise. Before any file is copied: Administrators own the folder and everything already in
# it, every explicit right is dropped, and the folder keeps only full control for Administrators
# and SYSTEM and read and run for Users, which every file in it inherits. SIDs, since the group
# names differ by language. If that fails the setup stops rather than fill an open folder.
# Backslashes and quotes are escaped twice: CPack copies the text into a CMake file of its own.
set(card_icacls "nsExec::ExecToLog '\\\"$SYSDIR\\\\icacls.exe\\\" \\\"$INSTDIR\\\"")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "
  ${card_icacls} /setowner *S-1-5-32-544 /T /C /Q'
  Pop $0
  StrCmp $0 0 0 card_acl_failed
  ${card_icacls} /reset /T /C /Q'
  Pop $0
  StrCmp $0 0 0 card_acl_failed
  ${card_icacls} /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /C /Q'
  Pop $0
  StrCmp $0 0 card_acl_done
  card_acl_failed:
    MessageBox MB_OK|MB_ICONSTOP \\\"The access rights of $INSTDIR could not be set.\\\" /SD IDOK
    Abort
  card_acl_done:")

# Authenticode signatures (SHA-256, osslsigncode): with a certificate and its key, every .exe and
# .dll is signed in the staging folder before NSIS or ZIP packs it, and the setup program once it
# is written. Only file names go into the cache; the key itself stays wherever the release
# machine keeps it. Left empty, the same names in the environment of the cpack run count, and
# with neither the packages stay unsigned.
set(CARD_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate with its chain (PEM or DER)")
set(CARD_SIGN_KEY "" CACHE FILEPATH "Private key of the code-signing certificate")
set(CARD_SIGN_PASSWORD_FILE "" CACHE FILEPATH "Optional file holding the key's passphrase")
set(CARD_SIGN_TIMESTAMP "" CACHE STRING "Optional address of an RFC 3161 time-stamp service")
if(CARD_SIGN_CERT OR CARD_SIGN_KEY)
    find_program(CARD_OSSLSIGNCODE osslsigncode)
    if(NOT CARD_SIGN_CERT OR NOT CARD_SIGN_KEY OR NOT CARD_OSSLSIGNCODE)
        message(FATAL_ERROR "Signing needs CARD_SIGN_CERT, CARD_SIGN_KEY and osslsigncode "
                            "(Debian package osslsigncode)")
    endif()
endif()
foreach(name CERT KEY PASSWORD_FILE TIMESTAMP)
    set(CPACK_CARD_SIGN_${name} "${CARD_SIGN_${name}}")
endforeach()
set(CPACK_CARD_SIGN_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/sign-windows.sh)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/WindowsSign.cmake
                            ${CMAKE_CURRENT_LIST_DIR}/WindowsStage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/WindowsSign.cmake)
# makensis writes the uninstaller into the setup itself; it is signed there, before it is packed,
# by the same script (the environment the pre-build step set up). The compressor's line again;
# no double quotes, which CPack copies into a CMake file of its own unescaped.
if(CMAKE_HOST_UNIX)
    string(APPEND CPACK_NSIS_COMPRESSOR
           "\n  !uninstfinalize `bash '${CPACK_CARD_SIGN_SCRIPT}' --if-key '%1'` = 0")
endif()
