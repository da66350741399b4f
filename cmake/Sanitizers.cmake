# One switch for the whole tree, so the programs, the test tools they load and the tests all run
# instrumented together (a half-instrumented process reports false positives).
option(CARD_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(CARD_SANITIZE)
    if(MSVC OR WIN32)
        message(FATAL_ERROR "CARD_SANITIZE is supported with GCC or Clang on Linux only")
    endif()
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
endif()
