# Fails if the README's committed pictures differ from what the gallery
# example writes now, so the pictures always show the library's real output.
# Usage: cmake -DGALLERY=<exe> -DWORK=<dir> -DEXPECTED=<docs/images> [-DEMULATOR=wine]
#        [-DNAMES=<pictures> -DARGUMENT=<what to pass, default WORK>] -P check_gallery.cmake
if(NOT DEFINED NAMES)
    set(NAMES input add add_boxed centered create watermark title_shadow caption_box utf8)
endif()
if(NOT DEFINED ARGUMENT)
    set(ARGUMENT "${WORK}")
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND ${EMULATOR} "${GALLERY}" "${ARGUMENT}" RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gallery failed (${status})")
endif()
foreach(name IN LISTS NAMES)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/${name}.png" "${EXPECTED}/${name}.png"
                    RESULT_VARIABLE differs)
    if(differs)
        message(FATAL_ERROR "${EXPECTED}/${name}.png is out of date: run the gallery example into docs/images")
    endif()
endforeach()
