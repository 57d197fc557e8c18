# Cross-builds the 64-bit Windows DLL on Debian with MinGW-w64; tests run
# under Wine. The -posix compilers are named explicitly: with both thread
# models installed the unsuffixed names follow the alternatives system, and
# the -win32 model lacks std::mutex, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the DLL and test programs need no libstdc++-6.dll,
# libgcc_s_seh-1.dll or libwinpthread-1.dll beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

find_program(IMGTEXT_WINE NAMES wine wine64)
if(IMGTEXT_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${IMGTEXT_WINE}")
endif()
