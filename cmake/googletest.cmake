# GoogleTest from Debian's sources, cross-built with the same toolchain.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# A test program runs under Wine; its tests are listed when ctest runs, so a
# build needs no display or Wine prefix.
#   add_wine_test(target [FIXTURES fixture] sources...)
function(add_wine_test target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FIXTURES" "")
  add_executable(${target} ${arg_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE gtest gtest_main)
  target_link_options(${target} PRIVATE ${TEST_LINK_OPTIONS})
  set(properties TIMEOUT 300)
  if(arg_FIXTURES)
    list(APPEND properties FIXTURES_REQUIRED "${arg_FIXTURES}")
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES ${properties})
endfunction()
