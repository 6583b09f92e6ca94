# GoogleTest for the test programs: an installed package when there is one for this target (a
# system or vcpkg package, or one on CMAKE_PREFIX_PATH), else built here from its sources.
find_package(GTest CONFIG QUIET)
if(TARGET GTest::gtest AND TARGET GTest::gtest_main)
  message(STATUS "GoogleTest: package in ${GTest_DIR}")
  return()
endif()

set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources, used when no installed GoogleTest package is found")
if(NOT EXISTS ${GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest: install a package for this target, or set "
                      "GOOGLETEST_SOURCE_DIR to a checkout of its sources (now '${GOOGLETEST_SOURCE_DIR}').")
endif()
message(STATUS "GoogleTest: sources in ${GOOGLETEST_SOURCE_DIR}")
# The test programs share the program's C runtime (static with MSVC).
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
