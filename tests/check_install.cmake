# Installs the build into a fresh prefix, runs the installed imgtext tool from
# there, then builds and runs two consumers against it: one with
# find_package, one with pkg-config.
# Usage: cmake -DBUILD_DIR=<build> -DSOURCE_DIR=<tests/consumers> -DWORK=<dir> -P check_install.cmake
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
    endif()
    message(STATUS "${out}")
endfunction()

file(REMOVE_RECURSE "${WORK}")
set(prefix "${WORK}/prefix")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

# The licence and the third-party notices travel with the library: in the
# documentation folder and beside the CMake package.
foreach(folder "share/doc/quendal-imgtext" "lib/cmake/quendal-imgtext" "lib64/cmake/quendal-imgtext")
    if(folder MATCHES "^lib" AND NOT EXISTS "${prefix}/${folder}")
        continue()
    endif()
    foreach(notice LICENSE THIRD-PARTY-NOTICES.md)
        if(NOT EXISTS "${prefix}/${folder}/${notice}")
            message(FATAL_ERROR "the install lacks ${folder}/${notice}")
        endif()
    endforeach()
endforeach()
file(STRINGS "${prefix}/share/doc/quendal-imgtext/THIRD-PARTY-NOTICES.md" _named REGEX "^## (Caladea|stb|HarfBuzz)")
list(LENGTH _named _named_count)
if(NOT _named_count EQUAL 3)
    message(FATAL_ERROR "the third-party notices name ${_named_count} of Caladea, stb and HarfBuzz")
endif()

# The prefix is on no loader path: the tool must find the library by itself.
run("${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH "${prefix}/bin/imgtext" --version)
run("${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH "${prefix}/bin/imgtext" create --text Installed --width 80
    --height 30 -o "${WORK}/from-tool.png")

# find_package
run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/cmake" -B "${WORK}/cmake-build" "-DCMAKE_PREFIX_PATH=${prefix}")
run("${CMAKE_COMMAND}" --build "${WORK}/cmake-build")
run("${WORK}/cmake-build/consumer" "${WORK}/from-cmake.png")

# pkg-config
file(GLOB pc_file "${prefix}/lib*/pkgconfig/quendal-imgtext.pc" "${prefix}/lib/*/pkgconfig/quendal-imgtext.pc")
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
execute_process(COMMAND pkg-config --cflags --libs quendal-imgtext OUTPUT_VARIABLE flags RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know quendal-imgtext")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(cc "${SOURCE_DIR}/consumer.c" ${flags} "-Wl,-rpath,${pc_dir}/.." -o "${WORK}/pkgconfig-consumer")
run("${WORK}/pkgconfig-consumer" "${WORK}/from-pkgconfig.png")
