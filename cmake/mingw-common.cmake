# What both MinGW-w64 cross-builds share. The toolchain file of each target
# sets QUILLON_MINGW_TRIPLET, QUILLON_PE_MACHINE (the machine name that PE
# tools report and that llvm-dlltool takes with -m) and QUILLON_WINE_LOADER
# (the Wine program that starts the target's programs), then includes this.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${QUILLON_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLON_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${QUILLON_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLON_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine through the emulator.
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLON_WINE_LOADER})
