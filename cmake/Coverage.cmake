# gcov instrumentation for the coverage report (scripts/coverage.sh). Like the sanitizer switch it
# covers the whole tree, so a test tool loading a program's library sees the same build.
option(CARD_COVERAGE "Build with gcov instrumentation (GCC)" OFF)
if(CARD_COVERAGE)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        message(FATAL_ERROR "CARD_COVERAGE needs GCC (gcov)")
    endif()
    add_compile_options(--coverage)
    add_link_options(--coverage)
endif()
