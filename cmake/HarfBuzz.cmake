# HarfBuzz 10.2.0, compiled into the library from its single-file build
# (src/harfbuzz.cc) as the OBJECT library imgtext_harfbuzz, whose objects go
# into the shared library and into the unit tests' static copy beside
# imgtext_objects'. scripts/setup.sh fetches the source; a user may point
# IMGTEXT_HARFBUZZ_SOURCE_DIR at their own copy of the same release.
#
# Only HarfBuzz's own OpenType code is built: no FreeType, glib, ICU,
# Graphite, Uniscribe, DirectWrite or CoreText (harfbuzz.cc compiles each
# of those only when its HAVE_* macro is defined, and none is). Its symbols
# stay inside the library: nothing of HarfBuzz is exported.

set(_imgtext_harfbuzz_default "${PROJECT_SOURCE_DIR}/.deps/harfbuzz/source")
set(IMGTEXT_HARFBUZZ_SOURCE_DIR "${_imgtext_harfbuzz_default}" CACHE PATH
    "HarfBuzz 10.2.0 source folder (holding src/harfbuzz.cc and src/hb-version.h)")
set(IMGTEXT_HARFBUZZ_VERSION "10.2.0")
set(IMGTEXT_HARFBUZZ_INCLUDE_DIR "${IMGTEXT_HARFBUZZ_SOURCE_DIR}/src")

# The release, from hb-version.h: HB_VERSION_MAJOR/MINOR/MICRO.
set(_hb_remedy "Run scripts/setup.sh to fetch it, or set IMGTEXT_HARFBUZZ_SOURCE_DIR to a copy of that release.")
set(_hb_version_header "${IMGTEXT_HARFBUZZ_INCLUDE_DIR}/hb-version.h")
if(NOT EXISTS "${_hb_version_header}" OR NOT EXISTS "${IMGTEXT_HARFBUZZ_INCLUDE_DIR}/harfbuzz.cc")
    message(FATAL_ERROR "No HarfBuzz source in ${IMGTEXT_HARFBUZZ_SOURCE_DIR} "
                        "(src/hb-version.h and src/harfbuzz.cc expected).\n${_hb_remedy}")
endif()
file(STRINGS "${_hb_version_header}" _hb_version_lines REGEX "^#define HB_VERSION_(MAJOR|MINOR|MICRO) +[0-9]+")
set(_hb_found "")
foreach(_part MAJOR MINOR MICRO)
    set(_value "?")
    foreach(_line IN LISTS _hb_version_lines)
        if(_line MATCHES "^#define HB_VERSION_${_part} +([0-9]+)")
            set(_value "${CMAKE_MATCH_1}")
        endif()
    endforeach()
    list(APPEND _hb_found "${_value}")
endforeach()
list(JOIN _hb_found "." _hb_found)
if(NOT _hb_found STREQUAL IMGTEXT_HARFBUZZ_VERSION)
    message(FATAL_ERROR "${IMGTEXT_HARFBUZZ_SOURCE_DIR} holds HarfBuzz ${_hb_found}, "
                        "not ${IMGTEXT_HARFBUZZ_VERSION}.\n${_hb_remedy}")
endif()
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_hb_version_header}")

# setup.sh leaves the release's .orig tarball and the Debian revision it
# unpacked beside the source folder. The tarball is the pin: required at the
# default location, and checked wherever that layout is found.
get_filename_component(_hb_beside "${IMGTEXT_HARFBUZZ_SOURCE_DIR}" DIRECTORY)
set(_hb_orig "harfbuzz_${IMGTEXT_HARFBUZZ_VERSION}.orig.tar.xz")
get_filename_component(_hb_dir_real "${IMGTEXT_HARFBUZZ_SOURCE_DIR}" REALPATH)
get_filename_component(_hb_default_real "${_imgtext_harfbuzz_default}" REALPATH)
if(_hb_dir_real STREQUAL _hb_default_real OR EXISTS "${_hb_beside}/${_hb_orig}")
    imgtext_require_pinned("${_hb_beside}/${_hb_orig}" "${_hb_orig}"
        "HarfBuzz ${IMGTEXT_HARFBUZZ_VERSION}'s source tarball (Debian harfbuzz ${IMGTEXT_HARFBUZZ_VERSION}-*)"
        IMGTEXT_HARFBUZZ_SOURCE_DIR)
endif()
set(_hb_origin "${IMGTEXT_HARFBUZZ_SOURCE_DIR}")
if(EXISTS "${_hb_beside}/debian-revision")
    file(STRINGS "${_hb_beside}/debian-revision" _hb_revision LIMIT_COUNT 1)
    set(_hb_origin "Debian revision ${_hb_revision}, ${IMGTEXT_HARFBUZZ_SOURCE_DIR}")
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_hb_beside}/debian-revision")
endif()
message(STATUS "HarfBuzz ${IMGTEXT_HARFBUZZ_VERSION} (${_hb_origin})")

# One compile per configuration, as a target of its own rather than a source
# of imgtext_objects: its flags differ from the library's (warnings off, no
# exceptions), and the library's own definitions and options (reference
# writers, the reference decoder) then do not rebuild it. Everything that
# decides results or safety comes from cmake/CompilerFlags.cmake as for every
# other unit: -ffp-contract=off, no fast-math, -march=native, the sanitizers
# and the fuzzers' coverage.
add_library(imgtext_harfbuzz OBJECT "${IMGTEXT_HARFBUZZ_INCLUDE_DIR}/harfbuzz.cc")
target_include_directories(imgtext_harfbuzz PRIVATE "${IMGTEXT_HARFBUZZ_INCLUDE_DIR}")
target_compile_definitions(imgtext_harfbuzz PRIVATE
    # Shaping must not depend on the environment: HB_OPTIONS could make it
    # Uniscribe bug-compatible and HB_SHAPER_LIST could pick the fallback
    # shaper.
    HB_NO_GETENV
    # Its own code, its own warnings: no pragma of HarfBuzz's turns a warning
    # back on, or into an error, under a compiler newer than it was tried with.
    HB_NO_PRAGMA_GCC_DIAGNOSTIC)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    # HarfBuzz neither throws nor uses RTTI and is built so upstream;
    # without them the object is smaller and faster to compile.
    target_compile_options(imgtext_harfbuzz PRIVATE -w -fno-exceptions -fno-rtti)
    if(MINGW)
        # The single unit has more sections than a COFF object allows.
        target_compile_options(imgtext_harfbuzz PRIVATE -Wa,-mbig-obj)
    endif()
endif()
# HB_EXTERN is a plain extern, so on ELF -fvisibility=hidden hides every hb_
# function (and the inline and template code with it). On Windows HarfBuzz
# marks nothing dllexport (only MSVC with HB_DLL_EXPORT does), and since the
# library's own functions are marked, MinGW's linker exports those alone
# rather than every global. tests/check_exports.cmake and
# tests/check_dll_tables.cmake hold both to it.
set_target_properties(imgtext_harfbuzz PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
