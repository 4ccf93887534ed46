# Windows build: the program and its test drivers.
enable_language(RC)
if(MSVC)
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} /I${PROJECT_SOURCE_DIR} /c65001")
else()
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${PROJECT_SOURCE_DIR} --codepage=65001")
endif()

# Every image is stamped with the moment of its sources, not of its build:
# binutils' PE linker takes the time stamp from SOURCE_DATE_EPOCH when that
# is in its environment, so two builds of one commit are the same bytes.
set(TARNWICK_SOURCE_DATE_EPOCH "" CACHE STRING "Seconds since 1970 that images are stamped with")
if(TARNWICK_SOURCE_DATE_EPOCH AND NOT MSVC)
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TARNWICK_SOURCE_DATE_EPOCH})
endif()

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _WIN32_WINNT=0x0601 WINVER=0x0601 NTDDI_VERSION=0x06010000)
if(NOT MSVC)
  # Statically linked: the program needs no DLL beyond Windows' own.
  set(TARNWICK_STATIC_LINK -static -static-libgcc -static-libstdc++ -municode)
  # How the program is linked; its timed build for the benchmarks links the same way.
  # --tsaware: no compatibility shims under Remote Desktop / terminal servers.
  # DEP and ASLR (with the relocations ASLR needs) on every image; a 32-bit
  # one may use all 4 GiB of a 64-bit Windows, a 64-bit one all of its space.
  set(TARNWICK_PROGRAM_LINK ${TARNWICK_STATIC_LINK} -Wl,--gc-sections -Wl,--tsaware
      -Wl,--nxcompat -Wl,--dynamicbase $<$<CONFIG:Release,MinSizeRel>:-s>)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND TARNWICK_PROGRAM_LINK -Wl,--large-address-aware)
  else()
    list(APPEND TARNWICK_PROGRAM_LINK -Wl,--high-entropy-va)
  endif()
endif()

add_library(tarnwick_win32 STATIC
  platform/win32/Win32Platform.cpp
  platform/win32/Win32FileSystem.cpp
  platform/win32/Win32HeldTree.cpp
  platform/win32/Win32RunLock.cpp
  platform/win32/Win32RunLog.cpp
  platform/win32/Win32TreeRemoval.cpp
  platform/win32/Win32Watchdog.cpp
  platform/win32/NtFiles.cpp
  platform/win32/ShellOpen.cpp
  platform/win32/AccessibleLink.cpp
  platform/win32/Win32Output.cpp
  app/Form1Window.cpp)
# Windows' Known DLLs only: comctl32 is loaded by the program itself, once
# it has set where libraries come from.
target_link_libraries(tarnwick_win32 PUBLIC tarnwick_core user32 gdi32 advapi32)

# The logo decoded at build time, so the window draws it without a JPEG
# decoder (and without OLE) at start-up; the JPEG itself stays in the exe.
# 256 colours take a third of the room of 24-bit ones. Undithered, so pure
# white stays white against the window's ground; uncompressed, because
# ImageMagick would otherwise write RLE8, which is larger for this picture
# and which LoadImage is not documented to turn into a DIB section.
find_program(IMAGEMAGICK_CONVERT convert REQUIRED)
set(TARNWICK_LOGO_BITMAP ${CMAKE_BINARY_DIR}/logo.bmp)
add_custom_command(OUTPUT ${TARNWICK_LOGO_BITMAP}
  COMMAND ${IMAGEMAGICK_CONVERT} ${PROJECT_SOURCE_DIR}/resources/logo.jpg +dither -colors 256
          -type Palette -compress None BMP3:${TARNWICK_LOGO_BITMAP}
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/logo.jpg VERBATIM)
add_custom_target(logo_bitmap DEPENDS ${TARNWICK_LOGO_BITMAP})
if(MSVC)
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} /I${CMAKE_BINARY_DIR}")
else()
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_BINARY_DIR}")
endif()

# The version block's numbers and text from the project's version: 1.0.0 is
# "1.00", the way the program has always written it; a third field, when
# there is one, follows as "1.00.1".
string(LENGTH "${PROJECT_VERSION_MINOR}" minor_digits)
set(TARNWICK_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
if(minor_digits EQUAL 1)
  set(TARNWICK_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
endif()
if(NOT PROJECT_VERSION_PATCH EQUAL 0)
  string(APPEND TARNWICK_VERSION_TEXT ".${PROJECT_VERSION_PATCH}")
endif()
configure_file(resources/Version.h.in ${CMAKE_BINARY_DIR}/Version.h @ONLY)

add_executable(tarnwick WIN32 app/Main.cpp platform/win32/LeanRuntime.cpp resources/tarnwick.rc)
add_dependencies(tarnwick logo_bitmap)
target_link_libraries(tarnwick PRIVATE tarnwick_win32)
if(NOT MSVC)
  target_link_options(tarnwick PRIVATE ${TARNWICK_PROGRAM_LINK})
else()
  target_link_options(tarnwick PRIVATE /TSAWARE)
endif()
set_property(SOURCE resources/tarnwick.rc APPEND PROPERTY OBJECT_DEPENDS
  ${PROJECT_SOURCE_DIR}/resources/tarnwick.ico
  ${PROJECT_SOURCE_DIR}/resources/logo.jpg
  ${TARNWICK_LOGO_BITMAP}
  ${CMAKE_BINARY_DIR}/Version.h
  ${PROJECT_SOURCE_DIR}/resources/tarnwick.manifest)

# The test drivers need GoogleTest's sources (Debian's libgtest-dev) and
# mingw-w64's tools; elsewhere only the program is built.
if(NOT MSVC)
  include(cmake/WindowsTests.cmake)
endif()
