# GoogleTest from Debian's sources, cross-built with the same toolchain.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# A test program runs under Wine; its tests are listed when ctest runs, so a
# build needs no display or Wine prefix.
function(add_wine_test target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE gtest gtest_main)
  target_link_options(${target} PRIVATE ${TEST_LINK_OPTIONS})
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300)
endfunction()
