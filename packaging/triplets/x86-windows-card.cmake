# Static libraries and the static C runtime, except OpenSSL: libcrypto is a DLL beside
# pincheck.exe, shared with every caller of the token API (GetCert's X509 is freed with the
# caller's X509_free), as the MinGW build ships it.
set(VCPKG_TARGET_ARCHITECTURE x86)
set(VCPKG_CRT_LINKAGE static)
set(VCPKG_LIBRARY_LINKAGE static)
if(PORT STREQUAL "openssl")
    set(VCPKG_LIBRARY_LINKAGE dynamic)
endif()
