# Cross build of the 64-bit Windows test build with Debian's MinGW-w64 (posix threads):
# the same sources as the 32-bit program, run under the 64-bit Wine where 32-bit
# programs cannot run.
set(mingw_processor x86_64)
set(mingw_wine /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
