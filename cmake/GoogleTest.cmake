# Native builds use the system GoogleTest; cross builds compile the sources Debian ships.
if(CMAKE_CROSSCOMPILING)
  set(GTEST_SRC /usr/src/googletest/googletest)
  add_library(gtest STATIC ${GTEST_SRC}/src/gtest-all.cc)
  target_include_directories(gtest SYSTEM PUBLIC ${GTEST_SRC}/include PRIVATE ${GTEST_SRC})
  add_library(gtest_main STATIC ${GTEST_SRC}/src/gtest_main.cc)
  target_link_libraries(gtest_main PUBLIC gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
else()
  find_package(GTest REQUIRED)
endif()

# add_project_test(name SOURCES ... LIBS ...): one GoogleTest executable, registered with ctest.
# Cross builds run it through CMAKE_CROSSCOMPILING_EMULATOR (wine).
# Extra ctest properties (a LABELS threaded, say) can be set on the test named `name` afterwards.
function(add_project_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main project_warnings)
  # Each test program is one ctest test: under wine every process start is expensive, and one
  # registration for all builds keeps the environment below intact.
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "PROJECT_SOURCE_DIR=${PROJECT_SOURCE_DIR};PROJECT_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY};TEST_SAMPLES_DIR=${TEST_SAMPLES_DIR}"
    TIMEOUT 900
    FIXTURES_REQUIRED samples)
endfunction()

# Everything the threaded tests need, so that a ThreadSanitizer build can build just those
# (cmake --build DIR --target threaded_tests) instead of every test program.
add_custom_target(threaded_tests)

# mark_threaded_test(name): the test program runs several threads; ThreadSanitizer runs it (ctest -L
# threaded).
function(mark_threaded_test name)
  set_tests_properties(${name} PROPERTIES LABELS threaded)
  add_dependencies(threaded_tests ${name})
endfunction()
