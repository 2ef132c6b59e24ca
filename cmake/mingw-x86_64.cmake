# Cross-build for 64-bit Windows with Debian's MinGW-w64 x86_64 toolchain.
# Its programs start through Wine's 64-bit loader itself: Debian's `wine`
# wrapper goes through the 32-bit loader when wine32 is installed, and that
# cannot start where the kernel runs no 32-bit programs.
set(QUILLON_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLON_PE_MACHINE i386:x86-64)
find_program(QUILLON_WINE_LOADER NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QUILLON_WINE_LOADER NAMES wine64 wine REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
