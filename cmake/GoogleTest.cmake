# Native builds use the system GoogleTest; cross builds compile its sources (Debian's googletest package
# ships them; -DTALVO_SUITE_GOOGLETEST_SOURCE_DIR=DIR names another copy: the folder that holds
# src/gtest-all.cc and include/).
if(CMAKE_CROSSCOMPILING)
  find_path(TALVO_SUITE_GOOGLETEST_SOURCE_DIR NAMES src/gtest-all.cc
    PATHS /usr/src/googletest/googletest /usr/src/gtest
    DOC "GoogleTest's sources for cross builds (the folder that holds src/gtest-all.cc)"
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT EXISTS "${TALVO_SUITE_GOOGLETEST_SOURCE_DIR}/src/gtest-all.cc")
    message(FATAL_ERROR "GoogleTest's sources not found for the cross build's tests: install googletest "
                        "(scripts/setup.sh) or set TALVO_SUITE_GOOGLETEST_SOURCE_DIR")
  endif()
  set(GTEST_SRC ${TALVO_SUITE_GOOGLETEST_SOURCE_DIR})
  add_library(gtest STATIC ${GTEST_SRC}/src/gtest-all.cc)
  target_include_directories(gtest SYSTEM PUBLIC ${GTEST_SRC}/include PRIVATE ${GTEST_SRC})
  add_library(gtest_main STATIC ${GTEST_SRC}/src/gtest_main.cc)
  target_link_libraries(gtest_main PUBLIC gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
else()
  find_package(GTest REQUIRED)
endif()

# <gtest/gtest.h> is most of what a test program compiles. It is precompiled once per build, in a
# program of its own (no tests, the same flags as every test program), and each test program reuses
# that. Definitions of a test program's own are fine as long as no header under gtest.h reads them; one
# that changes the system headers (_FILE_OFFSET_BITS, say) would be silently ignored by clang, so such a
# program opts out with OWN_HEADERS (gcc refuses the mismatch: -Winvalid-pch, an error under -Werror).
# -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON turns it off.
add_executable(test_framework_pch ${PROJECT_SOURCE_DIR}/tests/test_framework_pch.cpp)
target_link_libraries(test_framework_pch PRIVATE GTest::gtest_main project_warnings)
target_precompile_headers(test_framework_pch PRIVATE <gtest/gtest.h>)

# Everything the threaded tests need, so that a ThreadSanitizer build can build just those
# (cmake --build DIR --target threaded_tests) instead of every test program.
add_custom_target(threaded_tests)

# add_project_test(name SOURCES ... LIBS ... [OWN_HEADERS]): one GoogleTest executable, registered with
# ctest. Cross builds run it through CMAKE_CROSSCOMPILING_EMULATOR (wine). OWN_HEADERS: see above.
# A program whose name ends in _threaded_test runs several threads: it carries the ctest label
# `threaded` (ThreadSanitizer runs those: ctest -L threaded) and belongs to threaded_tests.
# Extra ctest properties can be set on the test named `name` afterwards.
function(add_project_test name)
  cmake_parse_arguments(T "OWN_HEADERS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_common GTest::gtest_main project_warnings)
  if(NOT T_OWN_HEADERS)
    target_precompile_headers(${name} REUSE_FROM test_framework_pch)
  endif()
  # Each test program is one ctest test: under wine every process start is expensive, and one
  # registration for all builds keeps the environment below intact.
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "PROJECT_SOURCE_DIR=${PROJECT_SOURCE_DIR};PROJECT_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY};TEST_SAMPLES_DIR=${TEST_SAMPLES_DIR}"
    TIMEOUT 900
    FIXTURES_REQUIRED samples)
  if(name MATCHES "_threaded_test$")
    set_tests_properties(${name} PROPERTIES LABELS threaded)
    add_dependencies(threaded_tests ${name})
  endif()
endfunction()
