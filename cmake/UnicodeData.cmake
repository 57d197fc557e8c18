# Unicode's data files, from the pinned unicode-data release: the build
# generates the library's property tables from them (Python scripts in
# src/text/unicode/, run at build time, their output never committed), and
# the conformance tests read Unicode's own test files from the same release,
# so tables and tests always agree on one version of the standard.

set(IMGTEXT_UNICODE_DATA_DIR "${PROJECT_SOURCE_DIR}/.deps/unicode" CACHE PATH
    "Folder holding Unicode 15.1.0's data files (Debian unicode-data 15.1.0-1)")
set(IMGTEXT_UNICODE_VERSION "15.1.0")

set(_imgtext_unicode_files
    UnicodeData.txt DerivedBidiClass.txt BidiBrackets.txt BidiMirroring.txt LineBreak.txt EastAsianWidth.txt
    GraphemeBreakProperty.txt emoji-data.txt DerivedCoreProperties.txt DerivedGeneralCategory.txt Scripts.txt
    BidiTest.txt BidiCharacterTest.txt LineBreakTest.txt GraphemeBreakTest.txt emoji-test.txt)
foreach(_file IN LISTS _imgtext_unicode_files)
    imgtext_require_pinned("${IMGTEXT_UNICODE_DATA_DIR}/${_file}" ${_file}
        "Unicode ${IMGTEXT_UNICODE_VERSION} ${_file} (Debian unicode-data 15.1.0-1)" IMGTEXT_UNICODE_DATA_DIR)
endforeach()

# The generators run on the build machine, also when cross-building. Debian's
# own interpreter first: the tests run the bindings with it, where
# scripts/setup.sh installed numpy and Pillow.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 COMPONENTS Interpreter REQUIRED)

set(IMGTEXT_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")

# imgtext_unicode_table(OUTPUT <header> GENERATOR <script.py> DATA <file>...)
# Runs `python3 <script> <data dir> <header>` whenever the script, the shared
# reader (ucd.py) or one of the named data files changes.
function(imgtext_unicode_table)
    cmake_parse_arguments(T "" "OUTPUT;GENERATOR" "DATA" ${ARGN})
    set(_inputs)
    foreach(_file IN LISTS T_DATA)
        list(APPEND _inputs "${IMGTEXT_UNICODE_DATA_DIR}/${_file}")
    endforeach()
    add_custom_command(
        OUTPUT "${T_OUTPUT}"
        COMMAND Python3::Interpreter "${T_GENERATOR}" "${IMGTEXT_UNICODE_DATA_DIR}" "${T_OUTPUT}"
        DEPENDS "${T_GENERATOR}" "${PROJECT_SOURCE_DIR}/src/text/unicode/ucd.py" ${_inputs}
        COMMENT "Generating ${T_OUTPUT} from Unicode ${IMGTEXT_UNICODE_VERSION}"
        VERBATIM)
endfunction()
