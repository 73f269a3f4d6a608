# The cross build with Debian's MinGW-w64 (posix threads) for the target that the
# including toolchain file names: mingw_processor (i686, x86_64) and mingw_wine (the
# Wine loader that runs its programs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${mingw_processor})
set(CMAKE_C_COMPILER ${mingw_processor}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_processor}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_processor}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_processor}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${mingw_wine})
