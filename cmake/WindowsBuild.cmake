# Windows build: the program and its test drivers.
enable_language(RC)
if(MSVC)
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} /I${PROJECT_SOURCE_DIR} /c65001")
else()
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${PROJECT_SOURCE_DIR} --codepage=65001")
endif()

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _WIN32_WINNT=0x0601 WINVER=0x0601 NTDDI_VERSION=0x06010000)
if(NOT MSVC)
  # Statically linked: the program needs no DLL beyond Windows' own.
  set(TARNWICK_STATIC_LINK -static -static-libgcc -static-libstdc++ -municode)
  add_compile_options($<$<CONFIG:Release,MinSizeRel>:-Os> -ffunction-sections -fdata-sections)
endif()

add_library(tarnwick_win32 STATIC
  platform/win32/Win32Platform.cpp
  platform/win32/Win32FileSystem.cpp
  platform/win32/ShellOpen.cpp
  platform/win32/Win32Output.cpp
  app/Form1Window.cpp)
target_link_libraries(tarnwick_win32 PUBLIC tarnwick_core
  comctl32 ole32 oleaut32 user32 gdi32 advapi32)

add_executable(tarnwick WIN32 app/Main.cpp platform/win32/TerminateHandler.cpp resources/tarnwick.rc)
target_link_libraries(tarnwick PRIVATE tarnwick_win32)
if(NOT MSVC)
  # --tsaware: no compatibility shims under Remote Desktop / terminal servers.
  target_link_options(tarnwick PRIVATE ${TARNWICK_STATIC_LINK} -Wl,--gc-sections -Wl,--tsaware
                      $<$<CONFIG:Release,MinSizeRel>:-s>)
else()
  target_link_options(tarnwick PRIVATE /TSAWARE)
endif()
set_property(SOURCE resources/tarnwick.rc APPEND PROPERTY OBJECT_DEPENDS
  ${PROJECT_SOURCE_DIR}/resources/tarnwick.ico
  ${PROJECT_SOURCE_DIR}/resources/logo.jpg
  ${PROJECT_SOURCE_DIR}/resources/tarnwick.manifest)

# The test drivers need GoogleTest's sources (Debian's libgtest-dev) and
# mingw-w64's tools; elsewhere only the program is built.
if(NOT MSVC)
  include(cmake/WindowsTests.cmake)
endif()
