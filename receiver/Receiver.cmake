# The vendor's report receiver (receiver/): a Linux program of its own beside the stub, in the native
# build only, under the same sanitizers. Files are found by name as in src/:
#   foo.cpp        plain code of the receiver, in receiver_core
#   foo_test.cpp   a GoogleTest program, CTest name receiver.foo_test (labels "native;receiver")
#   foo_fuzz.cpp   a libFuzzer target with seeds in fuzz_corpus/foo_fuzz/ and the inputs that once
#                  made it fail in fuzz_regressions/foo_fuzz/
# It uses nothing from src/: what it shares with the stub is the wire format, not code (one test
# builds documents with the stub's own builder).
find_package(PkgConfig REQUIRED)
pkg_check_modules(RECEIVER_DEPS REQUIRED IMPORTED_TARGET pugixml sqlite3 libpq)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(Threads REQUIRED)
if(NOT TARGET PkgConfig::CPP_HTTPLIB)
  pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
endif()

set(receiver_dir ${SORVANE_ROOT}/receiver)
file(GLOB receiver_sources CONFIGURE_DEPENDS ${receiver_dir}/*.cpp)
file(GLOB receiver_tests CONFIGURE_DEPENDS ${receiver_dir}/*_test.cpp)
file(GLOB receiver_fuzzers CONFIGURE_DEPENDS ${receiver_dir}/*_fuzz.cpp)
list(REMOVE_ITEM receiver_sources ${receiver_tests} ${receiver_fuzzers} ${receiver_dir}/receiver_main.cpp)

add_library(receiver_core STATIC ${receiver_sources})
target_include_directories(receiver_core PUBLIC ${SORVANE_ROOT})
target_link_libraries(receiver_core PUBLIC PkgConfig::RECEIVER_DEPS PkgConfig::CPP_HTTPLIB OpenSSL::Crypto miniz
                                           Threads::Threads)

add_executable(sorvane-receiver ${receiver_dir}/receiver_main.cpp)
target_link_libraries(sorvane-receiver PRIVATE receiver_core)

foreach(file IN LISTS receiver_tests)
  get_filename_component(stem ${file} NAME_WE)
  add_executable(receiver.${stem} ${file})
  target_link_libraries(receiver.${stem} PRIVATE receiver_core GTest::gtest GTest::gtest_main)
  add_dependencies(receiver.${stem} sorvane-receiver)
  add_test(NAME receiver.${stem} COMMAND receiver.${stem})
  set_tests_properties(receiver.${stem} PROPERTIES LABELS "native;receiver" TIMEOUT 300
    ENVIRONMENT "SORVANE_RECEIVER_EXE=$<TARGET_FILE:sorvane-receiver>;SORVANE_RECEIVER_WORK=${CMAKE_BINARY_DIR}/receiver-tests;SORVANE_RECEIVER_TESTDATA=${receiver_dir}/testdata")
endforeach()

# The stub's own document builder, compiled natively, writes what this test sends: the receiver must
# take exactly what the stub writes.
if(TARGET receiver.stub_documents_test)
  target_link_libraries(receiver.stub_documents_test PRIVATE sorvane_plain_telemetry)
endif()

# The fuzz targets, as those of src/ (NativeBuild.cmake): 15 s from the committed seeds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND receiver_fuzzers)
  set(receiver_fuzzing_options -fsanitize=fuzzer-no-link $<$<CONFIG:Debug>:-O1>)
  add_library(receiver_core_fuzzing STATIC EXCLUDE_FROM_ALL ${receiver_sources})
  target_compile_options(receiver_core_fuzzing PRIVATE ${receiver_fuzzing_options})
  target_include_directories(receiver_core_fuzzing PUBLIC ${SORVANE_ROOT})
  target_link_libraries(receiver_core_fuzzing PUBLIC PkgConfig::RECEIVER_DEPS PkgConfig::CPP_HTTPLIB OpenSSL::Crypto
                                                     miniz Threads::Threads)
  foreach(file IN LISTS receiver_fuzzers)
    get_filename_component(stem ${file} NAME_WE)
    set(work ${CMAKE_BINARY_DIR}/fuzz/receiver.${stem})
    file(MAKE_DIRECTORY ${work}/corpus ${work}/artifacts)
    add_executable(receiver.${stem} ${file})
    target_compile_options(receiver.${stem} PRIVATE ${receiver_fuzzing_options})
    target_link_options(receiver.${stem} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(receiver.${stem} PRIVATE receiver_core_fuzzing)
    add_test(NAME receiver.${stem}
             COMMAND receiver.${stem} -max_total_time=15 -seed=1 -timeout=10 -artifact_prefix=${work}/artifacts/
                     ${work}/corpus ${receiver_dir}/fuzz_corpus/${stem})
    set_tests_properties(receiver.${stem} PROPERTIES LABELS "native;fuzz;receiver" TIMEOUT 120)
    # Inputs that once made a target fail, run once each.
    file(GLOB regression_inputs CONFIGURE_DEPENDS ${receiver_dir}/fuzz_regressions/${stem}/*)
    if(regression_inputs)
      add_test(NAME receiver.${stem}.regressions COMMAND receiver.${stem} -timeout=10 ${regression_inputs})
      set_tests_properties(receiver.${stem}.regressions PROPERTIES LABELS "native;fuzz;receiver" TIMEOUT 120)
    endif()
  endforeach()
endif()

# The dashboard in Debian's headless Chromium against the real receiver (puppeteer-core from npm).
find_program(RECEIVER_NODE node)
find_program(RECEIVER_CHROMIUM chromium)
if(RECEIVER_NODE AND RECEIVER_CHROMIUM)
  add_test(NAME receiver.dashboard_check COMMAND ${RECEIVER_NODE} --test ${receiver_dir}/checks/dashboard_test.js)
  set_tests_properties(receiver.dashboard_check PROPERTIES LABELS "native;receiver;ui" TIMEOUT 300
    ENVIRONMENT "SORVANE_RECEIVER_EXE=$<TARGET_FILE:sorvane-receiver>;SORVANE_RECEIVER_WORK=${CMAKE_BINARY_DIR}/receiver-tests;SORVANE_CHROMIUM=${RECEIVER_CHROMIUM}")
endif()
