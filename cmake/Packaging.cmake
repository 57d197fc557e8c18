# Packages of what `cmake --install` puts in place, made by CPack (see
# scripts/package.sh): on Linux a .deb and a .tar.gz, for Windows a .zip.
# Binaries are stripped on the way in (CPACK_STRIP_FILES): the library's
# symbol table and debug sections are of no use to its users.
#
# For Windows the install also carries the .def the linker wrote and two
# import libraries: MinGW's quendal-imgtext.dll.a and quendal-imgtext.lib,
# made from the .def in the short import format that MSVC's lib.exe writes,
# so that link.exe takes it as its own.

if(WIN32 AND MINGW)
    set(_imgtext_def "${CMAKE_CURRENT_BINARY_DIR}/quendal-imgtext.def")
    set(_imgtext_msvc_lib "${CMAKE_CURRENT_BINARY_DIR}/quendal-imgtext.lib")
    # llvm-dlltool writes what lib.exe writes; binutils' dlltool, the
    # fallback, writes long-form import objects, which link.exe also reads.
    find_program(IMGTEXT_LLVM_DLLTOOL NAMES llvm-dlltool)
    if(IMGTEXT_LLVM_DLLTOOL)
        set(_imgtext_make_lib "${IMGTEXT_LLVM_DLLTOOL}" -m i386:x86-64 -d "${_imgtext_def}" -D quendal-imgtext.dll
                              -l "${_imgtext_msvc_lib}")
    else()
        set(_imgtext_make_lib "${CMAKE_DLLTOOL}" -d "${_imgtext_def}" -D quendal-imgtext.dll -l "${_imgtext_msvc_lib}")
    endif()
    add_custom_command(TARGET quendal-imgtext POST_BUILD
        COMMAND ${_imgtext_make_lib}
        COMMENT "Making the MSVC import library quendal-imgtext.lib"
        VERBATIM)
    install(FILES "${_imgtext_def}" "${_imgtext_msvc_lib}" DESTINATION "${CMAKE_INSTALL_LIBDIR}")
endif()

# On ELF platforms the library's unused functions and data (most of them
# HarfBuzz's, which the library calls only in part) are left out at link
# time: the stripped library is a fifth smaller. Code generation within a
# function is unchanged, so output bytes are too (the recorded digests check
# it). Not for Windows, where ld's section collection makes the DLL larger,
# nor for the fuzz build, whose coverage counters must all stay.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT WIN32 AND NOT APPLE AND NOT IMGTEXT_FUZZ)
    foreach(_imgtext_part imgtext_objects imgtext_harfbuzz)
        target_compile_options(${_imgtext_part} PRIVATE -ffunction-sections -fdata-sections)
    endforeach()
    target_link_options(quendal-imgtext PRIVATE -Wl,--gc-sections)
endif()

set(CPACK_PACKAGE_NAME quendal-imgtext)
set(CPACK_PACKAGE_VENDOR "the quendal-imgtext developers")
set(CPACK_PACKAGE_CONTACT "the quendal-imgtext developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win64)
else()
    set(CPACK_GENERATOR DEB TGZ)
    # One package: the library, what builds against it, and the tool.
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION libs)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends: from what the binaries link
    # Follows the summary line (CPACK_PACKAGE_DESCRIPTION_SUMMARY).
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "The shared library, its C header, a CMake package and a pkg-config file, and\nthe imgtext command-line tool.")
    # The .deb installs under /usr; the tarball unpacks into one folder.
    file(WRITE "${CMAKE_BINARY_DIR}/CPackProjectOptions.cmake"
         "if(CPACK_GENERATOR STREQUAL \"DEB\")\n    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)\nendif()\n")
    set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_BINARY_DIR}/CPackProjectOptions.cmake")
endif()
include(CPack)
