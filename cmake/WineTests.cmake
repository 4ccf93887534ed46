# Cross-builds the Windows program and its drivers as a sub-build, and runs
# them under Wine on an Xvfb display that the rig starts and stops itself.
include(ExternalProject)

# The moment the shipped files are stamped with (scripts/source-date-epoch.sh),
# read at every configure: the test and release scripts always configure.
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/source-date-epoch.sh
                OUTPUT_VARIABLE TARNWICK_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)

# One Windows build in `folder` with the given toolchain; the rest of the
# arguments, if any, replace the build command.
function(windows_build name folder toolchain)
  ExternalProject_Add(${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${folder}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${toolchain}
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DTARNWICK_SOURCE_DATE_EPOCH=${TARNWICK_SOURCE_DATE_EPOCH}
    ${ARGN}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
endfunction()

set(TARNWICK_WINDOWS_BUILD ${CMAKE_BINARY_DIR}/windows)
windows_build(windows_build ${TARNWICK_WINDOWS_BUILD} mingw-w64-x86_64.cmake)

# The same program for 32-bit Windows. Wine runs it only through its 32-bit
# loader (wine32), an i386 Linux program, so only on a machine that runs i386
# code: the 32-bit suites run where that loader really starts, unless
# TARNWICK_X86_RUN is "no". Elsewhere the 32-bit image is built and checked,
# not run, and only the program itself is built; the test script says so.
set(x86_run_default auto)
if(DEFINED ENV{TARNWICK_X86_RUN})
  set(x86_run_default "$ENV{TARNWICK_X86_RUN}")
endif()
set(TARNWICK_X86_RUN ${x86_run_default} CACHE STRING "Run the 32-bit image under Wine: auto or no")
if(NOT TARNWICK_X86_RUN MATCHES "^(auto|no)$")
  message(FATAL_ERROR "TARNWICK_X86_RUN is auto or no, not '${TARNWICK_X86_RUN}'")
endif()
set(TARNWICK_WINE32 /usr/lib/wine/wine)
set(TARNWICK_RUN_X86 OFF)
set(x86_not_run_reason "TARNWICK_X86_RUN is no")
if(TARNWICK_X86_RUN STREQUAL "auto")
  execute_process(COMMAND ${TARNWICK_WINE32} --version RESULT_VARIABLE wine32_result
                  OUTPUT_QUIET ERROR_QUIET)
  set(x86_not_run_reason "Wine's 32-bit loader does not run on this machine")
  if(wine32_result EQUAL 0)
    set(TARNWICK_RUN_X86 ON)
    set(x86_not_run_reason "")
  endif()
endif()
set(TARNWICK_X86_NOT_RUN "${x86_not_run_reason}" CACHE INTERNAL "Why the 32-bit image is not run")
set(TARNWICK_WINDOWS_X86_BUILD ${CMAKE_BINARY_DIR}/windows-x86)
if(TARNWICK_RUN_X86)
  windows_build(windows_build_x86 ${TARNWICK_WINDOWS_X86_BUILD} mingw-w64-i686.cmake)
else()
  include(ProcessorCount)
  ProcessorCount(cores)
  windows_build(windows_build_x86 ${TARNWICK_WINDOWS_X86_BUILD} mingw-w64-i686.cmake
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target tarnwick --parallel ${cores})
endif()

# The Windows Installer package of each image, in the image's folder.
# Remade at every build, like the images: it takes a second.
set(TARNWICK_MSI ${TARNWICK_WINDOWS_BUILD}/tarnwick.msi)
set(build_msi ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TARNWICK_SOURCE_DATE_EPOCH}
    ${PROJECT_SOURCE_DIR}/installer/build-msi.sh ${PROJECT_VERSION})
add_custom_target(installer ALL
  COMMAND ${build_msi} x64 ${TARNWICK_WINDOWS_BUILD}/tarnwick.exe ${TARNWICK_MSI}
  COMMAND ${build_msi} x86
          ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick.exe ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick.msi
  VERBATIM)
add_dependencies(installer windows_build windows_build_x86)

# The shipped files built again by the release script in a folder of
# their own, compared with these; then signed with a throwaway key.
set(TARNWICK_RELEASE ${CMAKE_BINARY_DIR}/release)
set(release_test ${PROJECT_SOURCE_DIR}/tests/release/release-test.sh)
add_test(NAME release.reproducible COMMAND ${release_test} reproducible ${CMAKE_BINARY_DIR})
set_tests_properties(release.reproducible PROPERTIES FIXTURES_SETUP release TIMEOUT 1800)
add_test(NAME release.signed COMMAND ${release_test} signed ${CMAKE_BINARY_DIR})
set_tests_properties(release.signed PROPERTIES FIXTURES_REQUIRED "release;wine" FIXTURES_SETUP signed
                     RESOURCE_LOCK wine TIMEOUT 900)

# Both images, checked as they are built and as they are shipped, signed.
foreach(arch x64 x86)
  set(image ${TARNWICK_WINDOWS_BUILD}/tarnwick.exe)
  if(arch STREQUAL "x86")
    set(image ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick.exe)
  endif()
  add_test(NAME image.${arch} COMMAND ${PROJECT_SOURCE_DIR}/tests/image/check-image.sh ${image} ${arch}
                                      ${TARNWICK_RELEASE}/signed/${arch}/tarnwick.exe)
  set_tests_properties(image.${arch} PROPERTIES FIXTURES_REQUIRED signed)
endforeach()

# The version reader, built here, on what those builds link: the browser
# stand-ins and both images. It depends on them so that it never runs alone
# on stale or missing files.
add_executable(tarnwick_image_version tests/image/VersionTest.cpp)
target_compile_definitions(tarnwick_image_version PRIVATE
  TARNWICK_X64_BUILD="${TARNWICK_WINDOWS_BUILD}" TARNWICK_X86_BUILD="${TARNWICK_WINDOWS_X86_BUILD}"
  TARNWICK_SIGNED="${TARNWICK_RELEASE}/signed")
target_link_libraries(tarnwick_image_version PRIVATE tarnwick_core GTest::gtest_main)
add_dependencies(tarnwick_image_version windows_build windows_build_x86)
add_test(NAME image.version COMMAND tarnwick_image_version)
set_tests_properties(image.version PROPERTIES FIXTURES_REQUIRED signed)

set(RIG ${PROJECT_SOURCE_DIR}/tests/rig/wine-rig.sh)
set(RIG_DIR ${CMAKE_BINARY_DIR}/rig)

add_test(NAME wine.rig.start COMMAND ${RIG} start ${RIG_DIR})
set_tests_properties(wine.rig.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
add_test(NAME wine.rig.stop COMMAND ${RIG} stop ${RIG_DIR})
set_tests_properties(wine.rig.stop PROPERTIES FIXTURES_CLEANUP wine)
# As 32-bit Windows: a rig and prefix of their own, made 32-bit.
if(TARNWICK_RUN_X86)
  set(RIG_WIN32_DIR ${CMAKE_BINARY_DIR}/rig-win32)
  add_test(NAME wine.win32.rig.start COMMAND ${RIG} start ${RIG_WIN32_DIR} win32)
  set_tests_properties(wine.win32.rig.start PROPERTIES FIXTURES_SETUP wine_win32 TIMEOUT 180)
  add_test(NAME wine.win32.rig.stop COMMAND ${RIG} stop ${RIG_WIN32_DIR})
  set_tests_properties(wine.win32.rig.stop PROPERTIES FIXTURES_CLEANUP wine_win32)
endif()

# One driver run, at a DPI and colour scheme (normal unless SCHEME) that
# the rig sets first; in the 32-bit prefix with WIN32.
function(wine_test name dpi)
  cmake_parse_arguments(ARG "WIN32" "SCHEME;LOADER" "COMMAND" ${ARGN})
  set(rig ${RIG_DIR})
  set(fixture wine)
  if(ARG_WIN32)
    set(rig ${RIG_WIN32_DIR})
    set(fixture wine_win32)
  endif()
  if(NOT ARG_SCHEME)
    set(ARG_SCHEME normal)
  endif()
  if(NOT ARG_LOADER)
    set(ARG_LOADER /usr/lib/wine/wine64)
  endif()
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -E env TARNWICK_EXPECT_DPI=${dpi} TARNWICK_SCHEME=${ARG_SCHEME}
                   TARNWICK_WINE=${ARG_LOADER}
                   ${PROJECT_SOURCE_DIR}/tests/rig/run-at-dpi.sh ${rig} ${dpi} ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${fixture} RESOURCE_LOCK wine TIMEOUT 900)
endfunction()

wine_test(wine.platform 96 COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_platform_tests.exe)
wine_test(wine.e2e.96dpi 96 COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_e2e.exe)
wine_test(wine.e2e.144dpi 144
          COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_e2e.exe --gtest_filter=Window*:Marker*:Colours*)
if(TARNWICK_RUN_X86)
  # The 32-bit image in the 64-bit prefix, as on x64 Windows: everything.
  wine_test(wine.platform.x86 96 LOADER ${TARNWICK_WINE32}
            COMMAND ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick_platform_tests.exe)
  wine_test(wine.e2e.x86 96 LOADER ${TARNWICK_WINE32}
            COMMAND ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick_e2e.exe)
  # On 32-bit Windows, what differs there: the window starts, one known
  # folder only, and libraries planted beside the program.
  wine_test(wine.win32.e2e 96 WIN32 LOADER ${TARNWICK_WINE32}
            COMMAND ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick_e2e.exe
            --gtest_filter=Marker/*/MarkerAbsent:Switched/*/Patch:Switched/*/NoBrowser:X86.ItsMarker*:Planted.*)
endif()
# White window text on black windows, as many high-contrast users have it.
wine_test(wine.e2e.dark 96 SCHEME dark
          COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_e2e.exe --gtest_filter=Colours*:WebLinkKeys*:Window.LooksAsItDid*)

# The installer package under Wine's msiexec: its tables, then install,
# upgrade, uninstall, rollbacks and the launch condition, on a rig and
# prefix of its own (build/host/rig-msi), since it installs and uninstalls;
# where the 32-bit image is run, also the x86 package's whole cycle in a
# 32-bit prefix (build/host/rig-msi-win32), and nothing 32-bit elsewhere.
add_test(NAME wine.msi COMMAND ${PROJECT_SOURCE_DIR}/tests/installer/msi-test.sh ${CMAKE_BINARY_DIR}
                               ${TARNWICK_RUN_X86})
set_tests_properties(wine.msi PROPERTIES RESOURCE_LOCK wine TIMEOUT 900)
