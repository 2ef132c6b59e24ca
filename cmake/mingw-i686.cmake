# Cross-build for 32-bit Windows with Debian's MinGW-w64 i686 toolchain.
# Its programs start through Debian's `wine` wrapper, which takes Wine's
# 32-bit loader for them.
set(QUILLON_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILLON_PE_MACHINE i386)
find_program(QUILLON_WINE_LOADER wine REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
