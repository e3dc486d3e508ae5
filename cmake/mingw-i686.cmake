# Cross build for 32-bit Windows, the program that ships: MinGW-w64's i686 toolchain, tested under Wine's
# 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(WINE_LOADER_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
