# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix).
#
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
#
# The posix thread model gives std::thread and std::mutex. Every executable is linked
# statically (libgcc, libstdc++, winpthread), so that it needs only the DLLs that ship with
# Windows. The header-only libraries the front ends use (CLI11, nlohmann-json) are found in the
# build machine's /usr; GoogleTest is built from Debian's source package by the test build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVEX_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${TARVEX_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TARVEX_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TARVEX_MINGW_PREFIX}-windres REQUIRED)

# Libraries and headers come from the MinGW tree only; programs (the test runner's helpers)
# from the build machine. The host's /usr is searched last for CMake package files of
# header-only libraries.
set(CMAKE_FIND_ROOT_PATH /usr/${TARVEX_MINGW_PREFIX} /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine.
find_program(TARVEX_WINE NAMES wine)
if(TARVEX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVEX_WINE})
endif()
