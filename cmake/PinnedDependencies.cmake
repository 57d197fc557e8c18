# Locates the pinned third-party files the library is built from and refuses
# anything else: output bytes depend on the exact stb releases and font.
# scripts/setup.sh fetches them into .deps/; a user may point the cache
# variables below at their own copies, which must match the same SHA-256.

set(IMGTEXT_STB_INCLUDE_DIR "${PROJECT_SOURCE_DIR}/.deps/stb" CACHE PATH
    "Folder holding stb_image.h 2.30, stb_image_write.h 1.16 and stb_truetype.h 1.26")
set(IMGTEXT_FONT_FILE "${PROJECT_SOURCE_DIR}/.deps/font/Caladea-Regular.ttf" CACHE FILEPATH
    "Caladea Regular TrueType font, Version 1.002 (58,964 bytes)")

set(_imgtext_pins "${PROJECT_SOURCE_DIR}/scripts/pinned.sha256")
file(STRINGS "${_imgtext_pins}" _imgtext_pin_lines)

# Expected SHA-256 of a pinned file, by its name in scripts/pinned.sha256.
function(imgtext_pinned_sha256 name out_var)
    foreach(line IN LISTS _imgtext_pin_lines)
        if(line MATCHES "^([0-9a-f]+)  .*/${name}$")
            set(${out_var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
            return()
        endif()
    endforeach()
    message(FATAL_ERROR "${name} has no entry in ${_imgtext_pins}")
endfunction()

function(imgtext_require_pinned path name description cache_var)
    imgtext_pinned_sha256("${name}" expected)
    set(remedy "Run scripts/setup.sh to fetch it, or set ${cache_var} to a copy of exactly that release.")
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "Missing ${description}: no file at ${path}.\n${remedy}")
    endif()
    file(SHA256 "${path}" actual)
    if(NOT actual STREQUAL expected)
        message(FATAL_ERROR "${path} is not ${description}: its SHA-256 is ${actual}, "
                            "expected ${expected}.\n${remedy}")
    endif()
    # Re-check whenever the file changes.
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
endfunction()

set(_imgtext_stb_package "Debian libstb-dev 0.0~git20241109.5c20573+ds-1")
imgtext_require_pinned("${IMGTEXT_STB_INCLUDE_DIR}/stb_image.h" stb_image.h
    "stb_image 2.30 (${_imgtext_stb_package})" IMGTEXT_STB_INCLUDE_DIR)
imgtext_require_pinned("${IMGTEXT_STB_INCLUDE_DIR}/stb_image_write.h" stb_image_write.h
    "stb_image_write 1.16 (${_imgtext_stb_package})" IMGTEXT_STB_INCLUDE_DIR)
imgtext_require_pinned("${IMGTEXT_STB_INCLUDE_DIR}/stb_truetype.h" stb_truetype.h
    "stb_truetype 1.26 (${_imgtext_stb_package})" IMGTEXT_STB_INCLUDE_DIR)
imgtext_require_pinned("${IMGTEXT_FONT_FILE}" Caladea-Regular.ttf
    "Caladea Regular Version 1.002 (Debian fonts-crosextra-caladea 20130214-2.1)" IMGTEXT_FONT_FILE)
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_imgtext_pins}")

# One fix to stb_image 2.30, applied to a copy in the build tree: removing the
# white matte from a partly transparent PSD pixel converts a negative float to
# unsigned char, which is undefined (the byte then depends on compiler and
# optimisation level). The fixed copy clamps at 0; every value that was
# defined before is unchanged.
set(_stb_fixed_dir "${CMAKE_BINARY_DIR}/stb-fixed")
file(READ "${IMGTEXT_STB_INCLUDE_DIR}/stb_image.h" _stb_image)
foreach(channel 0 1 2)
    set(_unfixed "pixel[${channel}] = (unsigned char) (pixel[${channel}]*ra + inv_a);")
    set(_fixed "pixel[${channel}] = (unsigned char) ((pixel[${channel}]*ra + inv_a) > 0.0f ? (pixel[${channel}]*ra + inv_a) : 0.0f);")
    string(FIND "${_stb_image}" "${_unfixed}" _at)
    if(_at EQUAL -1)
        message(FATAL_ERROR "stb_image.h does not contain the PSD matte code this build fixes")
    endif()
    string(REPLACE "${_unfixed}" "${_fixed}" _stb_image "${_stb_image}")
endforeach()
file(WRITE "${_stb_fixed_dir}/stb_image.h.in" "${_stb_image}")
# Rewrites the header only when it changed, so builds stay incremental.
configure_file("${_stb_fixed_dir}/stb_image.h.in" "${_stb_fixed_dir}/stb_image.h" COPYONLY)

# Replaces one exact piece of stb code in the variable named by text_var,
# failing the configure if the pinned file does not contain it.
function(imgtext_fix_stb text_var file unfixed fixed)
    string(FIND "${${text_var}}" "${unfixed}" _at)
    if(_at EQUAL -1)
        message(FATAL_ERROR "${file} does not contain the code this build changes:\n${unfixed}")
    endif()
    string(REPLACE "${unfixed}" "${fixed}" _text "${${text_var}}")
    set(${text_var} "${_text}" PARENT_SCOPE)
endfunction()

# Two changes to stb_truetype 1.26's rasteriser, applied to a copy in the
# build tree like the fix above:
# - A window. Text is clipped to the picture, yet the rasteriser fills every
#   row and column of a glyph's bitmap: 'M' at 60,000 px is 1.4 GB of
#   coverage, of which an 8 x 8 picture shows 64 bytes. The bitmap record
#   gains the window to keep (x0, y0 inclusive, x1, y1 exclusive; x1 = y1 = 0
#   keeps it all). Edges are still stepped through every row from the glyph's
#   top, and each kept row is still filled and summed from the glyph's left
#   edge, so every kept byte is the one the whole bitmap would hold: rows
#   above the window only skip their fill, and rows below it are not visited.
# - The scanline buffer's allocation is checked. Unchecked, a glyph wider
#   than 64 px crashes when memory runs out, where every other allocation in
#   the rasteriser already fails by leaving the glyph out.
file(READ "${IMGTEXT_STB_INCLUDE_DIR}/stb_truetype.h" _stb_truetype)
imgtext_fix_stb(_stb_truetype stb_truetype.h
    "   int w,h,stride;\n   unsigned char *pixels;\n} stbtt__bitmap;"
    "   int w,h,stride;\n   unsigned char *pixels;\n   int x0,y0,x1,y1;\n} stbtt__bitmap;")
imgtext_fix_stb(_stb_truetype stb_truetype.h
    "   stbtt__bitmap gbm;\n"
    "   stbtt__bitmap gbm = {0};\n")
imgtext_fix_stb(_stb_truetype stb_truetype.h
    "      scanline = scanline_data;\n\n   scanline2 = scanline + result->w;"
    "      scanline = scanline_data;\n   if (scanline == NULL) return;\n   int windowed = result->x1 > 0 || result->y1 > 0;\n   int row_end = windowed ? result->y1 : result->h;\n   int col_end = windowed ? result->x1 : result->w;\n\n   scanline2 = scanline + result->w;")
imgtext_fix_stb(_stb_truetype stb_truetype.h
    "   while (j < result->h) {\n      // find center of pixel for this scanline\n      float scan_y_top    = y + 0.0f;\n      float scan_y_bottom = y + 1.0f;\n      stbtt__active_edge **step = &active;\n\n      STBTT_memset(scanline , 0, result->w*sizeof(scanline[0]));\n      STBTT_memset(scanline2, 0, (result->w+1)*sizeof(scanline[0]));"
    "   while (j < row_end) {\n      // find center of pixel for this scanline\n      float scan_y_top    = y + 0.0f;\n      float scan_y_bottom = y + 1.0f;\n      stbtt__active_edge **step = &active;\n      int kept = !windowed || j >= result->y0;\n\n      if (kept) STBTT_memset(scanline , 0, result->w*sizeof(scanline[0]));\n      if (kept) STBTT_memset(scanline2, 0, (result->w+1)*sizeof(scanline[0]));")
imgtext_fix_stb(_stb_truetype stb_truetype.h
    "      if (active)\n         stbtt__fill_active_edges_new(scanline, scanline2+1, result->w, active, scan_y_top);\n\n      {\n         float sum = 0;\n         for (i=0; i < result->w; ++i) {"
    "      if (active && kept)\n         stbtt__fill_active_edges_new(scanline, scanline2+1, result->w, active, scan_y_top);\n\n      if (kept) {\n         float sum = 0;\n         for (i=0; i < col_end; ++i) {")
imgtext_fix_stb(_stb_truetype stb_truetype.h
    "            result->pixels[j*result->stride + i] = (unsigned char) m;"
    "            if (!windowed) result->pixels[j*result->stride + i] = (unsigned char) m;\n            else if (i >= result->x0) result->pixels[(j-result->y0)*result->stride + (i-result->x0)] = (unsigned char) m;")
file(WRITE "${_stb_fixed_dir}/stb_truetype.h.in" "${_stb_truetype}")
configure_file("${_stb_fixed_dir}/stb_truetype.h.in" "${_stb_fixed_dir}/stb_truetype.h" COPYONLY)

# Include path for stb: the fixed copies first, then the pinned folder.
set(IMGTEXT_STB_INCLUDE_DIRS "${_stb_fixed_dir}" "${IMGTEXT_STB_INCLUDE_DIR}")
