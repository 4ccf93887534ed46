# Host build: unit tests, artwork, and the Windows build with its Wine tests.
find_package(GTest REQUIRED)
include(GoogleTest)

add_executable(tarnwick_unit_tests
  tests/unit/Form1Test.cpp
  tests/unit/Module1Test.cpp
  tests/unit/PatchCommandTest.cpp
  tests/unit/ApplyPatchTest.cpp
  tests/unit/UnattendedTest.cpp
  tests/unit/SafetyTest.cpp
  tests/unit/BrowserVersionTest.cpp)
target_link_libraries(tarnwick_unit_tests PRIVATE tarnwick_core GTest::gtest_main)
gtest_discover_tests(tarnwick_unit_tests TEST_PREFIX "unit.")

add_subdirectory(resources/artwork)

# The README and its pages link up, and give the test command CI runs; needs
# no Windows build.
add_test(NAME docs.links COMMAND ${PROJECT_SOURCE_DIR}/tests/docs/check-docs.py ${PROJECT_SOURCE_DIR})

option(TARNWICK_WINDOWS "Cross-build the Windows program and test it under Wine" ON)
if(TARNWICK_WINDOWS)
  include(cmake/WineTests.cmake)
endif()
