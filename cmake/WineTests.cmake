# Cross-builds the Windows program and its drivers as a sub-build, and runs
# them under Wine on an Xvfb display that the rig starts and stops itself.
include(ExternalProject)

set(TARNWICK_WINDOWS_BUILD ${CMAKE_BINARY_DIR}/windows)
ExternalProject_Add(windows_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${TARNWICK_WINDOWS_BUILD}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  USES_TERMINAL_BUILD ON)

set(RIG ${PROJECT_SOURCE_DIR}/tests/rig/wine-rig.sh)
set(RIG_DIR ${CMAKE_BINARY_DIR}/rig)

add_test(NAME wine.rig.start COMMAND ${RIG} start ${RIG_DIR})
set_tests_properties(wine.rig.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
add_test(NAME wine.rig.stop COMMAND ${RIG} stop ${RIG_DIR})
set_tests_properties(wine.rig.stop PROPERTIES FIXTURES_CLEANUP wine)

# One driver run, at a DPI and colour scheme (normal unless SCHEME) that
# the rig sets first.
function(wine_test name dpi)
  cmake_parse_arguments(ARG "" "SCHEME" "COMMAND" ${ARGN})
  if(NOT ARG_SCHEME)
    set(ARG_SCHEME normal)
  endif()
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -E env TARNWICK_EXPECT_DPI=${dpi} TARNWICK_SCHEME=${ARG_SCHEME}
                   ${PROJECT_SOURCE_DIR}/tests/rig/run-at-dpi.sh ${RIG_DIR} ${dpi} ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine TIMEOUT 900)
endfunction()

wine_test(wine.platform 96 COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_platform_tests.exe)
wine_test(wine.e2e.96dpi 96 COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_e2e.exe)
wine_test(wine.e2e.144dpi 144
          COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_e2e.exe --gtest_filter=Window*:Marker*:Colours*)
# White window text on black windows, as many high-contrast users have it.
wine_test(wine.e2e.dark 96 SCHEME dark
          COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_e2e.exe --gtest_filter=Colours*)
