# CPack writes a package's checksum file before its post-build scripts run; a script that
# rewrites or signs the package calls this afterwards so that the checksum fits the final bytes.
function(card_refresh_checksum package)
    if(EXISTS ${package}.sha256)
        file(SHA256 ${package} sum)
        get_filename_component(name ${package} NAME)
        file(WRITE ${package}.sha256 "${sum}  ${name}\n")
    endif()
endfunction()
