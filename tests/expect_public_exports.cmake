# The one list of the library's public functions, shared by the export-table
# checks of every platform.
function(expect_public_exports found what)
    set(expected imgtext_add imgtext_add_boxed imgtext_centered imgtext_cleanup imgtext_create
                 imgtext_init imgtext_last_error)
    list(SORT found)
    if(NOT found STREQUAL expected)
        message(FATAL_ERROR "${what} differ.\n  expected: ${expected}\n  found:    ${found}")
    endif()
endfunction()
