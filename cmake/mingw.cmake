# What both Windows cross builds share; cmake/mingw-i686.cmake and cmake/mingw-x86_64.cmake set
# TOOLCHAIN_PREFIX and WINE_LOADER_NAMES, then include this file. MinGW-w64's posix thread model, for
# std::thread.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The program is one static file: take zlib's static library, not the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

# Tests run under Wine through CTest, in a Wine prefix inside the build directory (made on first use). A
# build that only makes the program (-DUPDATER_TESTS=OFF) needs no Wine.
find_program(WINE_EXECUTABLE NAMES ${WINE_LOADER_NAMES} PATHS /usr/lib/wine)
if(WINE_EXECUTABLE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${WINE_EXECUTABLE} ${CMAKE_BINARY_DIR}/wineprefix)
endif()
