# Cross build of the same sources for 64-bit Windows, tested under Wine's 64-bit loader in a 64-bit prefix:
# the Windows tests' build on machines that cannot execute 32-bit programs (README, "Which Windows build the
# tests run").
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(WINE_LOADER_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
