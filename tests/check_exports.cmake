# Fails unless the shared library's dynamic symbol table defines exactly the
# public header's functions: everything else, stb included, must stay hidden.
# Usage: cmake -DLIBRARY=<path> -DNM=<nm> -P check_exports.cmake
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE table RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[0-9a-fA-F]+ [A-Za-z] [^\n]+" entries "${table}")
set(exported "")
foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$" "\\1;\\2" parts "${entry}")
    list(GET parts 0 type)
    list(GET parts 1 name)
    # Linker-made markers and version nodes are not code anyone can call.
    if(type MATCHES "^[TtDdBbRrWwVviu]$" AND NOT name MATCHES "^(_init|_fini|_edata|_end|__bss_start)$")
        list(APPEND exported "${name}")
    endif()
endforeach()
include("${CMAKE_CURRENT_LIST_DIR}/expect_public_exports.cmake")
expect_public_exports("${exported}" "exported symbols")
message(STATUS "exactly the public functions are exported")
