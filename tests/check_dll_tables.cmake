# Fails unless the DLL exports exactly the public functions and imports
# only from Windows system DLLs (no MinGW runtime DLLs to ship beside it).
# Usage: cmake -DLIBRARY=<dll> -DOBJDUMP=<objdump> -P check_dll_tables.cmake
execute_process(COMMAND "${OBJDUMP}" -p "${LIBRARY}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()

# Export names follow the "[Ordinal/Name Pointer] Table" heading as
# "[   n] name" lines.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
    message(FATAL_ERROR "no export table in ${LIBRARY}")
endif()
string(SUBSTRING "${dump}" ${at} -1 exports_part)
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" entries "${exports_part}")
set(exported "")
foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^\n\t\\[ *[0-9]+\\] " "" name "${entry}")
    list(APPEND exported "${name}")
endforeach()
include("${CMAKE_CURRENT_LIST_DIR}/expect_public_exports.cmake")
expect_public_exports("${exported}" "DLL exports")

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(entry IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: " "" dll "${entry}")
    string(TOLOWER "${dll}" dll)
    if(NOT dll MATCHES "^(kernel32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\\.dll$")
        message(FATAL_ERROR "the DLL imports ${dll}, which is not a Windows system DLL")
    endif()
endforeach()
message(STATUS "exports: ${exported}; imports: ${imports}")
