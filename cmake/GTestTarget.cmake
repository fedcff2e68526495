# GoogleTest for the unit tests: the installed package, or for a cross build without
# the target's package, Debian's googletest sources built with the target compiler.
# A cross build's tests run their programs through KQ_TEST_RUNNER (the emulator).
set(KQ_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  if(NOT EXISTS ${KQ_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest is missing: apt-get install libgtest-dev (cross builds: "
                        "googletest for its sources), or configure with -DKQ_TESTS=OFF")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KQ_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Not our code (GCC 12 warns on a false -Wrestrict in it): built without warnings.
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()

set(KQ_TEST_ENV "")
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " runner)
  set(KQ_TEST_ENV "KQ_TEST_RUNNER=${runner}")
endif()
