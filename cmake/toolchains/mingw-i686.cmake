# 32-bit Windows (the library's native target) with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUARN_MINGW_TRIPLE i686-w64-mingw32)
# Needs a 32-bit Wine, which this kind of machine cannot run (no i386
# support in the kernel): the tests are built, not run, unless
# QUARN_WINE_TESTS is switched on.
set(QUARN_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
