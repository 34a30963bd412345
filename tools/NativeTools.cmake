# Build-machine tools: the packaging tool stubpack (signs the stub and puts the UI payload into its
# certificate table) with its tests, and the test signing certificate.
set(stubpack_dir ${SORVANE_ROOT}/tools/stubpack)
file(GLOB stubpack_sources CONFIGURE_DEPENDS ${stubpack_dir}/*.cpp)
file(GLOB stubpack_tests CONFIGURE_DEPENDS ${stubpack_dir}/*_test.cpp)
list(REMOVE_ITEM stubpack_sources ${stubpack_tests} ${stubpack_dir}/stubpack_main.cpp)

add_library(stubpack_core STATIC ${stubpack_sources})
target_include_directories(stubpack_core PUBLIC ${SORVANE_ROOT}/tools)
# The container's entry rules are the stub's own: what the packer writes, the stub must accept.
# OpenSSL's SHA-256: the Authenticode digest of a release, and the container's digest for the stub's
# trust slot.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(stubpack_core PUBLIC sorvane_plain OpenSSL::Crypto)
add_executable(stubpack ${stubpack_dir}/stubpack_main.cpp)
target_link_libraries(stubpack PRIVATE stubpack_core)

# A self-signed code-signing certificate, made once per build folder and never kept in the tree.
set(STUBPACK_TEST_CERT_DIR ${CMAKE_BINARY_DIR}/test-cert)
add_custom_command(
  OUTPUT ${STUBPACK_TEST_CERT_DIR}/test-cert.pem ${STUBPACK_TEST_CERT_DIR}/test-key.pem
  COMMAND ${SORVANE_ROOT}/tools/make-test-cert ${STUBPACK_TEST_CERT_DIR}
  DEPENDS ${SORVANE_ROOT}/tools/make-test-cert
  COMMENT "Making the test code-signing certificate")
add_custom_target(stubpack_test_cert ALL
                  DEPENDS ${STUBPACK_TEST_CERT_DIR}/test-cert.pem ${STUBPACK_TEST_CERT_DIR}/test-key.pem)

# The loopback https package server's certificates: a test root that only the project's Wine prefix
# trusts (scripts/wine-prefix adds it), a server certificate it issued, one it issued for 2020 only,
# and a self-signed one.
add_custom_command(
  OUTPUT ${STUBPACK_TEST_CERT_DIR}/tls-root.pem ${STUBPACK_TEST_CERT_DIR}/tls-server.pem
         ${STUBPACK_TEST_CERT_DIR}/tls-untrusted.pem ${STUBPACK_TEST_CERT_DIR}/tls-expired.pem
  COMMAND ${SORVANE_ROOT}/tools/make-tls-test-certs ${STUBPACK_TEST_CERT_DIR}
  DEPENDS ${SORVANE_ROOT}/tools/make-tls-test-certs
  COMMENT "Making the https test server's certificates")
add_custom_target(tls_test_certs ALL DEPENDS ${STUBPACK_TEST_CERT_DIR}/tls-root.pem)

# Real PE files of both formats for the tool's tests to sign and pack; mingw is always installed.
find_program(STUBPACK_MINGW_I686 i686-w64-mingw32-gcc-posix REQUIRED)
find_program(STUBPACK_MINGW_X86_64 x86_64-w64-mingw32-gcc-posix REQUIRED)
set(stubpack_fixture_dir ${CMAKE_BINARY_DIR}/stubpack-fixtures)
add_custom_command(
  OUTPUT ${stubpack_fixture_dir}/pe32.exe ${stubpack_fixture_dir}/pe32plus.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stubpack_fixture_dir}
  COMMAND ${STUBPACK_MINGW_I686} -O2 -s -static -o ${stubpack_fixture_dir}/pe32.exe ${stubpack_dir}/fixture_program.c
  COMMAND ${STUBPACK_MINGW_X86_64} -O2 -s -static -o ${stubpack_fixture_dir}/pe32plus.exe ${stubpack_dir}/fixture_program.c
  DEPENDS ${stubpack_dir}/fixture_program.c
  COMMENT "Building the PE fixtures of the packaging tool's tests")
add_custom_target(stubpack_fixtures ALL DEPENDS ${stubpack_fixture_dir}/pe32.exe ${stubpack_fixture_dir}/pe32plus.exe)

foreach(file IN LISTS stubpack_tests)
  get_filename_component(stem ${file} NAME_WE)
  set(test_name tools.${stem})
  add_executable(${test_name} ${file})
  target_link_libraries(${test_name} PRIVATE stubpack_core GTest::gtest GTest::gtest_main)
  add_dependencies(${test_name} stubpack stubpack_test_cert stubpack_fixtures)
  add_test(NAME ${test_name} COMMAND ${test_name})
  set_tests_properties(${test_name} PROPERTIES
    LABELS "native;tools"
    ENVIRONMENT "STUBPACK_EXE=$<TARGET_FILE:stubpack>;STUBPACK_CERT_DIR=${STUBPACK_TEST_CERT_DIR};STUBPACK_FIXTURES=${stubpack_fixture_dir};STUBPACK_ENTRY_LIST=${SORVANE_ROOT}/ui/payload.list;STUBPACK_LOOPBACK_TSA=${stubpack_dir}/loopback-tsa")
endforeach()

# The shipped stub built a second time, from a copy of the tree in another folder, must come out the
# same byte for byte, and so must its payload container. Only the stub target: a few minutes.
add_test(NAME tools.reproducible_release
         COMMAND ${SORVANE_ROOT}/tests/check-reproducible-release ${SORVANE_ROOT} ${CMAKE_BINARY_DIR}/reproducible
                 $<TARGET_FILE:stubpack> ${STUBPACK_TEST_CERT_DIR})
# Both build the release stub in the same folder, one at a time.
set_tests_properties(tools.reproducible_release PROPERTIES LABELS "native;tools" TIMEOUT 1500
                     RESOURCE_LOCK release_reference_build)

# The whole make package recipe with TIMESTAMP_URL at the loopback time-stamping service, and without
# it (a warning). It reuses the reproducible-release test's stub build, so only what changed is built.
add_test(NAME tools.package_timestamp
         COMMAND ${SORVANE_ROOT}/tests/check-package-timestamp ${SORVANE_ROOT} ${CMAKE_BINARY_DIR}/reproducible/reference
                 ${CMAKE_BINARY_DIR}/package-timestamp ${stubpack_dir}/loopback-tsa)
set_tests_properties(tools.package_timestamp PROPERTIES LABELS "native;tools" TIMEOUT 1500
                     RESOURCE_LOCK release_reference_build)

# The loopback HTTP server of the Wine tests and the benchmark (Debian's cpp-httplib, whose header
# needs the feature macros that its shared library was built with: pkg-config gives them).
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_package(Threads REQUIRED)
set(test_server_dir ${SORVANE_ROOT}/tools/test-http-server)
add_library(test_server_core STATIC ${test_server_dir}/test_server.cpp)
target_include_directories(test_server_core PUBLIC ${SORVANE_ROOT}/tools)
target_link_libraries(test_server_core PUBLIC PkgConfig::CPP_HTTPLIB Threads::Threads)
add_executable(sorvane-test-server ${test_server_dir}/test_server_main.cpp)
target_link_libraries(sorvane-test-server PRIVATE test_server_core)

add_executable(tools.test_server_test ${test_server_dir}/test_server_test.cpp)
target_link_libraries(tools.test_server_test PRIVATE test_server_core GTest::gtest GTest::gtest_main)
add_dependencies(tools.test_server_test sorvane-test-server)
add_test(NAME tools.test_server_test COMMAND tools.test_server_test)
set_tests_properties(tools.test_server_test PROPERTIES
  LABELS "native;tools"
  ENVIRONMENT "SORVANE_TEST_SERVER_EXE=$<TARGET_FILE:sorvane-test-server>")

# The release settings of make package: checked together, and js/stubparams.js written from them.
set(release_dir ${SORVANE_ROOT}/tools/release)
add_library(release_settings_core STATIC ${release_dir}/release_settings.cpp)
target_include_directories(release_settings_core PUBLIC ${SORVANE_ROOT}/tools)
target_link_libraries(release_settings_core PUBLIC sorvane_plain)
add_executable(release-settings ${release_dir}/release_settings_main.cpp)
target_link_libraries(release-settings PRIVATE release_settings_core)
add_executable(tools.release_settings_test ${release_dir}/release_settings_test.cpp)
target_compile_definitions(tools.release_settings_test PRIVATE SORVANE_ROOT="${SORVANE_ROOT}")
target_link_libraries(tools.release_settings_test PRIVATE release_settings_core GTest::gtest GTest::gtest_main)
add_test(NAME tools.release_settings_test COMMAND tools.release_settings_test)
set_tests_properties(tools.release_settings_test PROPERTIES LABELS "native;tools")
