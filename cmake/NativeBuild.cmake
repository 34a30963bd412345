# Plain code with its tests, under AddressSanitizer and UndefinedBehaviorSanitizer.
find_package(GTest REQUIRED)
set(SORVANE_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -Werror=return-type ${SORVANE_SANITIZERS})
add_link_options(${SORVANE_SANITIZERS})
include_directories(${SORVANE_ROOT}/src)

# One library per entry of src/layers.txt (sorvane_plain_<entry>); a test links only its own entry's,
# so a call into a folder that its folder may not use fails to link.
sorvane_layer_libraries(sorvane_plain ${SORVANE_PLAIN_SOURCES})
target_link_libraries(sorvane_plain_zip PUBLIC miniz)

foreach(file IN LISTS SORVANE_NATIVE_TESTS)
  sorvane_test_identity(${file} test_name subsystem)
  sorvane_layer_of(${file} layer)
  add_executable(${test_name} ${file})
  target_link_libraries(${test_name} PRIVATE sorvane_plain_${layer} GTest::gtest GTest::gtest_main)
  add_test(NAME ${test_name} COMMAND ${test_name})
  set_tests_properties(${test_name} PROPERTIES LABELS "native;${subsystem}")
endforeach()

# libFuzzer targets (clang only). Each gives two CTest tests: a fuzzing run of bounded time that
# starts from the committed seeds in "fuzz_corpus/<target>/" beside it, and "<test>.regressions",
# which runs the target once over every input kept in "fuzz_regressions/<target>/" (inputs that once
# made it fail). What the fuzzer finds (new inputs, crash files) goes into the build folder, never the
# source tree; `make fuzz` runs the same targets for longer over the same corpus folders.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND SORVANE_FUZZERS)
  # A copy of the plain code with the fuzzer's coverage instrumentation, so that the fuzzer is led by
  # the code under test and not only by its own target file; the tests keep the plain library.
  # Optimised a little even in a Debug build: unoptimised string code under the coverage hooks runs
  # several times fewer inputs per second.
  set(fuzzing_options -fsanitize=fuzzer-no-link $<$<CONFIG:Debug>:-O1>)
  add_library(sorvane_plain_fuzzing STATIC EXCLUDE_FROM_ALL ${SORVANE_PLAIN_SOURCES})
  target_compile_options(sorvane_plain_fuzzing PRIVATE ${fuzzing_options})
  target_link_libraries(sorvane_plain_fuzzing PUBLIC miniz)
  foreach(file IN LISTS SORVANE_FUZZERS)
    sorvane_test_identity(${file} test_name subsystem)
    get_filename_component(stem ${file} NAME_WE)
    get_filename_component(folder ${file} DIRECTORY)
    set(work ${CMAKE_BINARY_DIR}/fuzz/${test_name})
    set(seeds ${folder}/fuzz_corpus/${stem})
    set(regressions ${folder}/fuzz_regressions/${stem})
    file(MAKE_DIRECTORY ${work}/corpus ${work}/artifacts)
    add_executable(${test_name} ${file})
    target_compile_options(${test_name} PRIVATE ${fuzzing_options})
    target_link_options(${test_name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${test_name} PRIVATE sorvane_plain_fuzzing)
    # New inputs go into the first folder (the build's own corpus); the seeds and the regression
    # inputs are only read. A single input that runs for 10 s counts as a hang.
    set(read_only_inputs)
    foreach(inputs IN ITEMS ${seeds} ${regressions})
      if(IS_DIRECTORY ${inputs})
        list(APPEND read_only_inputs ${inputs})
      endif()
    endforeach()
    add_test(NAME ${test_name}
             COMMAND ${test_name} -max_total_time=15 -seed=1 -timeout=10 -artifact_prefix=${work}/artifacts/
                     ${work}/corpus ${read_only_inputs})
    set_tests_properties(${test_name} PROPERTIES LABELS "native;fuzz;${subsystem}" TIMEOUT 120)
    # Files given as arguments are run once each; the run fails on the first one that crashes.
    file(GLOB regression_inputs CONFIGURE_DEPENDS ${regressions}/*)
    if(regression_inputs)
      add_test(NAME ${test_name}.regressions COMMAND ${test_name} -timeout=10 ${regression_inputs})
      set_tests_properties(${test_name}.regressions PROPERTIES LABELS "native;fuzz;${subsystem}" TIMEOUT 120)
    endif()
  endforeach()
endif()

# The layer table holds: no include from a folder that the including folder may not use, no cycle.
add_test(NAME tools.layers COMMAND ${SORVANE_ROOT}/scripts/check-layers ${SORVANE_ROOT}/src)
# The check itself fails on a wrong include and on a cycle, in a tree made for the purpose.
add_test(NAME tools.layers_check_faults COMMAND ${SORVANE_ROOT}/scripts/check-layers-test
                                                ${SORVANE_ROOT}/scripts/check-layers)
# Set-up survives a mirror out of step, against a stand-in apt: no network, nothing installed.
add_test(NAME tools.install_deps_mirror COMMAND ${SORVANE_ROOT}/scripts/install-deps-test
                                                ${SORVANE_ROOT}/scripts/install-deps)
set_tests_properties(tools.layers tools.layers_check_faults tools.install_deps_mirror
                     PROPERTIES LABELS "native;tools")

include(${SORVANE_ROOT}/tools/NativeTools.cmake OPTIONAL)
include(${SORVANE_ROOT}/ui/UiChecks.cmake OPTIONAL)
