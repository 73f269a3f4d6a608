# Test helpers shared by every folder.
#
# varmex_add_unit_test(NAME SOURCES... LIBS ...) builds one GoogleTest program and
# registers its tests with CTest under the label "unit". In the Windows build the
# same program is built for Windows and run under Wine (label "wine").

if(VARMEX_WINDOWS)
  if(NOT TARGET gtest)
    # Debian ships GoogleTest sources; build them with the cross compiler.
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
  set(VARMEX_GTEST_LIBS gtest gtest_main gmock)
else()
  find_package(GTest REQUIRED)
  set(VARMEX_GTEST_LIBS GTest::gtest GTest::gtest_main GTest::gmock)
endif()

include(GoogleTest)

# Which Wine runs this build's tests: the 32-bit program under the 32-bit loader, the
# 64-bit test build under the 64-bit one (scripts/wine-env.sh reads the variable).
if(VARMEX_WINDOWS)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VARMEX_WINE_ARCH win64)
  else()
    set(VARMEX_WINE_ARCH win32)
  endif()
endif()

# varmex_wine_test(NAME LABELS...) marks a test that runs under Wine: its labels
# ("wine" first) and the Wine of this build.
function(varmex_wine_test name)
  list(JOIN ARGN ";" labels)
  set_tests_properties(${name} PROPERTIES LABELS "wine;${labels}"
                       ENVIRONMENT "VARMEX_WINE_ARCH=${VARMEX_WINE_ARCH}")
endfunction()

function(varmex_add_unit_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${VARMEX_GTEST_LIBS})
  if(VARMEX_WINDOWS)
    # Run under Wine with the shared prefix that the test script prepares.
    add_test(NAME ${name}
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${name}>)
    varmex_wine_test(${name} unit)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${name} PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
