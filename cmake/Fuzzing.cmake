# The fuzz targets (fuzz/) link the tree's own libraries, so every object carries libFuzzer's
# coverage instrumentation and the sanitizers, as one switch for the whole build. Clang only:
# libFuzzer is part of its runtime.
option(CARD_FUZZ "Build the libFuzzer targets (needs clang++)" OFF)
if(CARD_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "the fuzz targets need clang++ (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer -g -O1)
    add_link_options(-fsanitize=address,undefined)
endif()
