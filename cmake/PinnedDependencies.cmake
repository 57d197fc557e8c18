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

# Fixes to stb_image 2.30, applied to a copy in the build tree. Each is an
# exact replacement of code that must occur once in the pinned header, so a
# different header stops the configure instead of building unfixed. Every
# value a valid file decoded to before is unchanged.
set(_stb_fixed_dir "${CMAKE_BINARY_DIR}/stb-fixed")
file(READ "${IMGTEXT_STB_INCLUDE_DIR}/stb_image.h" _stb_image)

# Replaces `unfixed` with `fixed` in the copy being built (_stb_image).
function(imgtext_fix_stb unfixed fixed)
    string(FIND "${_stb_image}" "${unfixed}" first)
    string(FIND "${_stb_image}" "${unfixed}" last REVERSE)
    if(first EQUAL -1 OR NOT first EQUAL last)
        message(FATAL_ERROR "stb_image.h does not contain exactly once the code this build fixes:\n${unfixed}")
    endif()
    string(REPLACE "${unfixed}" "${fixed}" fixed_image "${_stb_image}")
    set(_stb_image "${fixed_image}" PARENT_SCOPE)
endfunction()

# Removing the white matte from a partly transparent PSD pixel converts a
# negative float to unsigned char, which is undefined (the byte then depends
# on compiler and optimisation level). Clamp at 0.
foreach(channel 0 1 2)
    set(_value "pixel[${channel}]*ra + inv_a")
    imgtext_fix_stb("pixel[${channel}] = (unsigned char) (${_value});"
                    "pixel[${channel}] = (unsigned char) ((${_value}) > 0.0f ? (${_value}) : 0.0f);")
endforeach()

# A BMP's pixels may use palette indices past the end of the palette the file
# gives (a 1-entry palette with indices up to 255): those entries were never
# written, so stack memory went into the picture. They read as zero.
imgtext_fix_stb([=[unsigned int mr=0,mg=0,mb=0,ma=0, all_a;
   stbi_uc pal[256][4];]=] [=[unsigned int mr=0,mg=0,mb=0,ma=0, all_a;
   stbi_uc pal[256][4] = {{0}};]=])

# The same in PNG: a palette image's indices may pass the end of its PLTE
# chunk, and the rest of the palette was stack memory. It reads as zero
# (transparent black, as in GIF).
imgtext_fix_stb([=[stbi_uc palette[1024], pal_img_n=0;]=] [=[stbi_uc palette[1024] = {0}, pal_img_n=0;]=])

# A flat (not run-length) Radiance HDR file cut short: each missing pixel's
# four bytes were left as they were, uninitialised for the first. Read them a
# byte at a time instead, so bytes past the end read as zero, as everywhere
# else in the decoder.
imgtext_fix_stb([=[            stbi__getn(s, rgbe, 4);]=]
                [=[            rgbe[0] = stbi__get8(s); rgbe[1] = stbi__get8(s); rgbe[2] = stbi__get8(s); rgbe[3] = stbi__get8(s);]=])

file(WRITE "${_stb_fixed_dir}/stb_image.h.in" "${_stb_image}")
# Rewrites the header only when it changed, so builds stay incremental.
configure_file("${_stb_fixed_dir}/stb_image.h.in" "${_stb_fixed_dir}/stb_image.h" COPYONLY)

# Include path for stb: the fixed stb_image.h first, then the pinned folder.
set(IMGTEXT_STB_INCLUDE_DIRS "${_stb_fixed_dir}" "${IMGTEXT_STB_INCLUDE_DIR}")
