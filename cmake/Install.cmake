# cmake --install: the library, its header, the imgtext tool, a CMake package
# (find_package(quendal-imgtext) -> quendal::imgtext), a pkg-config file, and
# the licence with the notices of what the library contains.
include(CMakePackageConfigHelpers)
set(_cmake_dir "${CMAKE_INSTALL_LIBDIR}/cmake/quendal-imgtext")

set_target_properties(quendal-imgtext PROPERTIES EXPORT_NAME imgtext)
install(TARGETS quendal-imgtext EXPORT quendal-imgtext-targets
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(FILES include/quendal_imgtext.h DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(EXPORT quendal-imgtext-targets NAMESPACE quendal:: DESTINATION "${_cmake_dir}")
set(_imgtext_notices LICENSE THIRD-PARTY-NOTICES.md)
install(FILES ${_imgtext_notices} DESTINATION "${CMAKE_INSTALL_DOCDIR}")
install(FILES ${_imgtext_notices} DESTINATION "${_cmake_dir}")

configure_package_config_file(cmake/quendal-imgtext-config.cmake.in
    "${CMAKE_CURRENT_BINARY_DIR}/quendal-imgtext-config.cmake" INSTALL_DESTINATION "${_cmake_dir}")
# 0.x releases may change the interface between minor versions.
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/quendal-imgtext-config-version.cmake"
    COMPATIBILITY SameMinorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/quendal-imgtext-config.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/quendal-imgtext-config-version.cmake"
        DESTINATION "${_cmake_dir}")

file(RELATIVE_PATH IMGTEXT_PC_TO_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" IMGTEXT_PC_TO_PREFIX "${IMGTEXT_PC_TO_PREFIX}")
configure_file(cmake/quendal-imgtext.pc.in "${CMAKE_CURRENT_BINARY_DIR}/quendal-imgtext.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/quendal-imgtext.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
