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

include(${SORVANE_ROOT}/tools/NativeTools.cmake OPTIONAL)
include(${SORVANE_ROOT}/ui/UiChecks.cmake OPTIONAL)
