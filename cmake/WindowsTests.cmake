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
  tests/e2e/WebLinkTest.cpp
  tests/e2e/TreeTest.cpp)
target_include_directories(tarnwick_e2e PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(tarnwick_e2e PRIVATE gtest gtest_main shell32 user32 gdi32 ole32 oleaut32 oleacc)
target_link_options(tarnwick_e2e PRIVATE -static)
add_dependencies(tarnwick_e2e tarnwick tarnwick_planted reference_pictures)
# The window's pictures as it has always looked, beside the driver as
# bitmaps, which Windows reads by itself.
set(reference_bitmaps)
foreach(name window-96dpi window-144dpi window-dark-96dpi)
  set(picture ${PROJECT_SOURCE_DIR}/tests/e2e/reference/${name}.png)
  set(bitmap ${CMAKE_BINARY_DIR}/reference/${name}.bmp)
  add_custom_command(OUTPUT ${bitmap}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/reference
    COMMAND ${IMAGEMAGICK_CONVERT} ${picture} -type TrueColor BMP3:${bitmap}
    DEPENDS ${picture} VERBATIM)
  list(APPEND reference_bitmaps ${bitmap})
endforeach()
add_custom_target(reference_pictures DEPENDS ${reference_bitmaps})

# A library that writes down each process that loads it: the e2e tests plant
# copies beside the program under the names of system libraries.
add_library(tarnwick_planted SHARED tests/e2e/Planted.cpp)
set_target_properties(tarnwick_planted PROPERTIES PREFIX "" OUTPUT_NAME planted)
target_link_options(tarnwick_planted PRIVATE -static -s)

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

# Benchmarks (scripts/bench.sh): the yardsticks, one plain and one with the
# program's own manifest; the program built again with its start-up
# milestones timed; and the timing program.
foreach(yardstick baseline baseline_manifested)
  set(sources tests/bench/Baseline.cpp tests/bench/StageRecorder.cpp)
  if(yardstick STREQUAL "baseline_manifested")
    list(APPEND sources tests/bench/BaselineManifest.rc)
  endif()
  add_executable(tarnwick_${yardstick} WIN32 ${sources})
  target_include_directories(tarnwick_${yardstick} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(tarnwick_${yardstick} PRIVATE TARNWICK_TIME_STAGES)
  target_link_options(tarnwick_${yardstick} PRIVATE -static -municode -s)
endforeach()
# The window is compiled again here: the library's copy leaves nothing out.
add_executable(tarnwick_timed WIN32 app/Main.cpp app/Form1Window.cpp platform/win32/LeanRuntime.cpp
               tests/bench/StageRecorder.cpp resources/tarnwick.rc)
target_compile_definitions(tarnwick_timed PRIVATE TARNWICK_TIME_STAGES)
target_link_libraries(tarnwick_timed PRIVATE tarnwick_win32)
add_dependencies(tarnwick_timed logo_bitmap)
target_link_options(tarnwick_timed PRIVATE ${TARNWICK_PROGRAM_LINK})
add_executable(tarnwick_bench tests/bench/Benchmark.cpp tests/e2e/Driver.cpp)
target_include_directories(tarnwick_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(tarnwick_bench PRIVATE gtest shell32 user32 gdi32 ole32 psapi)
target_link_options(tarnwick_bench PRIVATE -static -municode)
add_dependencies(tarnwick_bench tarnwick tarnwick_timed tarnwick_baseline tarnwick_baseline_manifested)

# Stand-ins for the browser's program file, laid out as firefox.exe by the
# end-to-end tests: resource-only images, no code, no imports.
set(STAND_INS ${CMAKE_BINARY_DIR}/stand-ins)
file(MAKE_DIRECTORY ${STAND_INS})
set(stand_in_files)
foreach(version 45.0.2 46.0 133.0.3 unversioned)
  set(image ${STAND_INS}/firefox-${version}.exe)
  if(version STREQUAL "unversioned")
    set(define)
  else()
    string(REPLACE "." "," numbers "${version}")
    string(REGEX MATCHALL "," commas "${numbers}")
    list(LENGTH commas parts)
    while(parts LESS 3)
      string(APPEND numbers ",0")
      math(EXPR parts "${parts} + 1")
    endwhile()
    set(define -DSTAND_IN_VERSION=${numbers})
  endif()
  add_custom_command(OUTPUT ${image}
    COMMAND ${CMAKE_RC_COMPILER} ${define} -I${PROJECT_SOURCE_DIR}
            ${PROJECT_SOURCE_DIR}/tests/e2e/StandIn.rc -O coff -o ${image}.res.o
    COMMAND ${TOOLCHAIN_PREFIX}-ld --dll -e 0 -o ${image} ${image}.res.o
    DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/StandIn.rc VERBATIM)
  list(APPEND stand_in_files ${image})
endforeach()
add_custom_target(browser_stand_ins ALL DEPENDS ${stand_in_files})
add_dependencies(tarnwick_e2e browser_stand_ins)
