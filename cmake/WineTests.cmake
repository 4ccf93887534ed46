# Cross-builds the Windows program and its drivers as a sub-build, and runs
# them under Wine on an Xvfb display that the rig starts and stops itself.
include(ExternalProject)

# One Windows build in `folder` with the given toolchain; the rest of the
# arguments, if any, replace the build command.
function(windows_build name folder toolchain)
  ExternalProject_Add(${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${folder}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${toolchain}
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    ${ARGN}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
endfunction()

set(TARNWICK_WINDOWS_BUILD ${CMAKE_BINARY_DIR}/windows)
windows_build(windows_build ${TARNWICK_WINDOWS_BUILD} mingw-w64-x86_64.cmake)

# The same program for 32-bit Windows. Wine runs it only through its 32-bit
# loader, an i386 Linux program, so only on a machine that runs i386 code:
# the 32-bit suite runs where that loader really starts. Elsewhere (these
# project machines have the kernel's IA-32 emulation off) the 32-bit image
# is built and checked, not run, and only the program itself is built.
set(TARNWICK_WINE32 /usr/lib/wine/wine)
execute_process(COMMAND ${TARNWICK_WINE32} --version RESULT_VARIABLE wine32_result
                OUTPUT_QUIET ERROR_QUIET)
set(TARNWICK_WINDOWS_X86_BUILD ${CMAKE_BINARY_DIR}/windows-x86)
if(wine32_result EQUAL 0)
  set(TARNWICK_RUN_X86 ON)
  windows_build(windows_build_x86 ${TARNWICK_WINDOWS_X86_BUILD} mingw-w64-i686.cmake)
else()
  set(TARNWICK_RUN_X86 OFF)
  include(ProcessorCount)
  ProcessorCount(cores)
  windows_build(windows_build_x86 ${TARNWICK_WINDOWS_X86_BUILD} mingw-w64-i686.cmake
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target tarnwick --parallel ${cores})
endif()

# The Windows Installer package of each image, in the image's folder.
# Remade at every build, like the images: it takes a second.
set(TARNWICK_MSI ${TARNWICK_WINDOWS_BUILD}/tarnwick.msi)
add_custom_target(installer ALL
  COMMAND ${PROJECT_SOURCE_DIR}/installer/build-msi.sh ${PROJECT_VERSION} x64
          ${TARNWICK_WINDOWS_BUILD}/tarnwick.exe ${TARNWICK_MSI}
  COMMAND ${PROJECT_SOURCE_DIR}/installer/build-msi.sh ${PROJECT_VERSION} x86
          ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick.exe ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick.msi
  VERBATIM)
add_dependencies(installer windows_build windows_build_x86)

# Both images, checked as they are shipped.
foreach(arch x64 x86)
  set(image ${TARNWICK_WINDOWS_BUILD}/tarnwick.exe)
  if(arch STREQUAL "x86")
    set(image ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick.exe)
  endif()
  add_test(NAME image.${arch} COMMAND ${PROJECT_SOURCE_DIR}/tests/image/check-image.sh ${image} ${arch})
endforeach()

# The version reader, built here, on what those builds link: the browser
# stand-ins and both images. It depends on them so that it never runs alone
# on stale or missing files.
add_executable(tarnwick_image_version tests/image/VersionTest.cpp)
target_compile_definitions(tarnwick_image_version PRIVATE
  TARNWICK_X64_BUILD="${TARNWICK_WINDOWS_BUILD}" TARNWICK_X86_BUILD="${TARNWICK_WINDOWS_X86_BUILD}")
target_link_libraries(tarnwick_image_version PRIVATE tarnwick_core GTest::gtest_main)
add_dependencies(tarnwick_image_version windows_build windows_build_x86)
add_test(NAME image.version COMMAND tarnwick_image_version)

set(RIG ${PROJECT_SOURCE_DIR}/tests/rig/wine-rig.sh)
set(RIG_DIR ${CMAKE_BINARY_DIR}/rig)

add_test(NAME wine.rig.start COMMAND ${RIG} start ${RIG_DIR})
set_tests_properties(wine.rig.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
add_test(NAME wine.rig.stop COMMAND ${RIG} stop ${RIG_DIR})
set_tests_properties(wine.rig.stop PROPERTIES FIXTURES_CLEANUP wine)

# One driver run, at a DPI and colour scheme (normal unless SCHEME) that
# the rig sets first.
function(wine_test name dpi)
  cmake_parse_arguments(ARG "" "SCHEME;LOADER" "COMMAND" ${ARGN})
  if(NOT ARG_SCHEME)
    set(ARG_SCHEME normal)
  endif()
  if(NOT ARG_LOADER)
    set(ARG_LOADER /usr/lib/wine/wine64)
  endif()
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -E env TARNWICK_EXPECT_DPI=${dpi} TARNWICK_SCHEME=${ARG_SCHEME}
                   TARNWICK_WINE=${ARG_LOADER}
                   ${PROJECT_SOURCE_DIR}/tests/rig/run-at-dpi.sh ${RIG_DIR} ${dpi} ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine TIMEOUT 900)
endfunction()

wine_test(wine.platform 96 COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_platform_tests.exe)
wine_test(wine.e2e.96dpi 96 COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_e2e.exe)
wine_test(wine.e2e.144dpi 144
          COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_e2e.exe --gtest_filter=Window*:Marker*:Colours*)
if(TARNWICK_RUN_X86)
  wine_test(wine.e2e.x86 96 LOADER ${TARNWICK_WINE32}
            COMMAND ${TARNWICK_WINDOWS_X86_BUILD}/tarnwick_e2e.exe)
endif()
# White window text on black windows, as many high-contrast users have it.
wine_test(wine.e2e.dark 96 SCHEME dark
          COMMAND ${TARNWICK_WINDOWS_BUILD}/tarnwick_e2e.exe --gtest_filter=Colours*:WebLinkKeys*)

# The installer package under Wine's msiexec: its tables, then install,
# upgrade, uninstall, rollbacks and the launch condition, on a rig and
# prefix of its own (build/host/rig-msi), since it installs and uninstalls.
add_test(NAME wine.msi COMMAND ${PROJECT_SOURCE_DIR}/tests/installer/msi-test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(wine.msi PROPERTIES RESOURCE_LOCK wine TIMEOUT 900)
