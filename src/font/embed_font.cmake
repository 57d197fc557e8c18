# Turns a font file into a C++ source defining the read-only array s_font_data.
# Usage: cmake -DINPUT=<font.ttf> -DOUTPUT=<font_data.cpp> -DEXPECTED_SHA256=<hash>
#        -P embed_font.cmake
# The hash is checked again here because the file may change after configuring.
file(SHA256 "${INPUT}" actual)
if(NOT actual STREQUAL EXPECTED_SHA256)
    message(FATAL_ERROR "${INPUT} is not Caladea Regular Version 1.002 "
                        "(SHA-256 ${actual}, expected ${EXPECTED_SHA256}); run scripts/setup.sh")
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
# 16 bytes a line keeps the generated file readable in a diff or debugger.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by embed_font.cmake; do not edit.
#include \"font/font_data.h\"

namespace imgtext {

static_assert(k_font_data_size == ${size}, \"embedded font has an unexpected size\");

const unsigned char s_font_data[k_font_data_size] = {
    ${bytes}
};

}  // namespace imgtext
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
