# The Windows test drivers: GoogleTest programs that run under Wine.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's libgtest-dev)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The end-to-end driver: starts the real tarnwick.exe and works its window.
add_executable(tarnwick_e2e
  tests/e2e/Driver.cpp
  tests/e2e/WindowTest.cpp
  tests/e2e/PatchTest.cpp
  tests/e2e/WebLinkTest.cpp)
target_include_directories(tarnwick_e2e PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(tarnwick_e2e PRIVATE gtest gtest_main shell32 user32 gdi32 ole32)
target_link_options(tarnwick_e2e PRIVATE -static)
add_dependencies(tarnwick_e2e tarnwick)

# The Win32 platform services on the real (Wine) file system.
add_executable(tarnwick_platform_tests
  tests/win32/Win32FileSystemTest.cpp)
target_include_directories(tarnwick_platform_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(tarnwick_platform_tests PRIVATE tarnwick_win32 gtest gtest_main)
target_link_options(tarnwick_platform_tests PRIVATE -static)

# For the run script: a picture of the window without a display of one's own.
add_executable(tarnwick_show tests/e2e/Show.cpp tests/e2e/Driver.cpp)
target_include_directories(tarnwick_show PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(tarnwick_show PRIVATE gtest shell32 user32 gdi32 ole32)
target_link_options(tarnwick_show PRIVATE -static -municode)
add_dependencies(tarnwick_show tarnwick)

# Benchmarks: the yardstick window and the timing program (scripts/bench.sh).
add_executable(tarnwick_baseline WIN32 tests/bench/Baseline.cpp)
target_link_options(tarnwick_baseline PRIVATE -static -municode -s)
add_executable(tarnwick_bench tests/bench/Benchmark.cpp tests/e2e/Driver.cpp)
target_include_directories(tarnwick_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(tarnwick_bench PRIVATE gtest shell32 user32 gdi32 ole32 psapi)
target_link_options(tarnwick_bench PRIVATE -static -municode)
add_dependencies(tarnwick_bench tarnwick tarnwick_baseline)
