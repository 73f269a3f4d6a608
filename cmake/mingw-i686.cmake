# Cross build of the 32-bit Windows program with Debian's MinGW-w64 (posix threads).
set(mingw_processor i686)
set(mingw_wine wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
