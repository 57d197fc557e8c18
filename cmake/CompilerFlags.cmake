# Flags every translation unit gets, stb's included (it is compiled inside
# the library's own sources).
#
# Output bytes are part of the contract: blending, glyph coverage and the JPEG
# writer's DCT are single-precision arithmetic in a fixed order, so fused
# multiply-add contraction is off and fast-math is never used. That keeps -O0
# and -O3 -march=native bit-identical.

option(IMGTEXT_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(IMGTEXT_SANITIZE_THREAD "Build everything with ThreadSanitizer" OFF)
option(IMGTEXT_NATIVE "Tune for this machine's processor (-march=native)" OFF)
option(IMGTEXT_WERROR "Treat warnings as errors" OFF)
option(IMGTEXT_FUZZ "Build the libFuzzer targets (clang; implies coverage instrumentation)" OFF)

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    add_compile_options(-ffp-contract=off -fno-fast-math -Wall -Wextra -Wpedantic)
    if(IMGTEXT_WERROR)
        add_compile_options(-Werror)
    endif()
    if(IMGTEXT_NATIVE)
        add_compile_options(-march=native)
    endif()
    if(IMGTEXT_FUZZ)
        add_compile_options(-fsanitize=fuzzer-no-link)
    endif()
    if(IMGTEXT_SANITIZE)
        set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
        add_compile_options(${_san})
        add_link_options(${_san})
    endif()
    if(IMGTEXT_SANITIZE_THREAD)
        add_compile_options(-fsanitize=thread)
        add_link_options(-fsanitize=thread)
    endif()
else()
    message(WARNING "Untested compiler ${CMAKE_CXX_COMPILER_ID}: make sure floating-point "
                    "contraction is off, or output bytes may differ.")
endif()
