# Plain code with its tests, under AddressSanitizer and UndefinedBehaviorSanitizer.
find_package(GTest REQUIRED)
set(SORVANE_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -Werror=return-type ${SORVANE_SANITIZERS})
add_link_options(${SORVANE_SANITIZERS})
include_directories(${SORVANE_ROOT}/src)

add_library(sorvane_plain STATIC ${SORVANE_PLAIN_SOURCES})
target_link_libraries(sorvane_plain PUBLIC miniz)

foreach(file IN LISTS SORVANE_NATIVE_TESTS)
  sorvane_test_identity(${file} test_name subsystem)
  add_executable(${test_name} ${file})
  target_link_libraries(${test_name} PRIVATE sorvane_plain GTest::gtest GTest::gtest_main)
  add_test(NAME ${test_name} COMMAND ${test_name})
  set_tests_properties(${test_name} PROPERTIES LABELS "native;${subsystem}")
endforeach()

# libFuzzer targets (clang only). Each runs for a bounded time as a CTest test, starting from the
# seeds that a "fuzz_seeds.py" beside it writes at configure time; what the fuzzer finds (new inputs,
# crash files) goes into the build folder, never the source tree.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND SORVANE_FUZZERS)
  # A copy of the plain code with the fuzzer's coverage instrumentation, so that the fuzzer is led by
  # the code under test and not only by its own target file; the tests keep the plain library.
  add_library(sorvane_plain_fuzzing STATIC EXCLUDE_FROM_ALL ${SORVANE_PLAIN_SOURCES})
  target_compile_options(sorvane_plain_fuzzing PRIVATE -fsanitize=fuzzer-no-link)
  target_link_libraries(sorvane_plain_fuzzing PUBLIC miniz)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  foreach(file IN LISTS SORVANE_FUZZERS)
    sorvane_test_identity(${file} test_name subsystem)
    get_filename_component(stem ${file} NAME_WE)
    get_filename_component(folder ${file} DIRECTORY)
    set(work ${CMAKE_BINARY_DIR}/fuzz/${test_name})
    file(MAKE_DIRECTORY ${work}/corpus ${work}/seeds ${work}/artifacts)
    if(EXISTS ${folder}/fuzz_seeds.py)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${folder}/fuzz_seeds.py)
      execute_process(COMMAND ${Python3_EXECUTABLE} ${folder}/fuzz_seeds.py ${stem} ${work}/seeds
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
    add_executable(${test_name} ${file})
    target_compile_options(${test_name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${test_name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${test_name} PRIVATE sorvane_plain_fuzzing)
    # New inputs go into the first folder (the build's own corpus); the seeds are only read.
    add_test(NAME ${test_name}
             COMMAND ${test_name} -max_total_time=15 -seed=1 -artifact_prefix=${work}/artifacts/
                     ${work}/corpus ${work}/seeds)
    set_tests_properties(${test_name} PROPERTIES LABELS "native;fuzz;${subsystem}" TIMEOUT 120)
  endforeach()
endif()

include(${SORVANE_ROOT}/tools/NativeTools.cmake OPTIONAL)
include(${SORVANE_ROOT}/ui/UiChecks.cmake OPTIONAL)
