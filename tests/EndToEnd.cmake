# The end-to-end tests (label "e2e"): whole runs of the packed stub under Wine against the package
# server on 127.0.0.1 port 8631 (the packed pages' package host) and the report collector. Each
# source in tests/e2e/ is one test program.
set(package_server_state ${CMAKE_BINARY_DIR}/package-server)
add_test(NAME e2e.package_server_start
         COMMAND ${SORVANE_ROOT}/scripts/test-http-server package ${package_server_state} ${package_server_state}/root
                 ${SORVANE_NATIVE_TOOLS}/sorvane-test-server)
add_test(NAME e2e.package_server_stop COMMAND ${SORVANE_ROOT}/scripts/test-http-server stop ${package_server_state})
set_tests_properties(e2e.package_server_start PROPERTIES FIXTURES_SETUP package_server LABELS "wine;e2e" TIMEOUT 150)
set_tests_properties(e2e.package_server_stop PROPERTIES FIXTURES_CLEANUP package_server LABELS "wine;e2e" TIMEOUT 30)

# The https package server on 127.0.0.1 port 8632, serving the same folder, with the native build's
# test certificates (tools/make-tls-test-certs), for the packed stub whose pages fetch over https.
set(https_server_state ${CMAKE_BINARY_DIR}/https-server)
get_filename_component(https_cert_dir ${SORVANE_NATIVE_TOOLS}/../test-cert ABSOLUTE)
add_test(NAME e2e.https_server_start
         COMMAND ${SORVANE_ROOT}/tools/test-https-server start ${https_server_state} ${package_server_state}/root
                 ${https_cert_dir})
add_test(NAME e2e.https_server_stop COMMAND ${SORVANE_ROOT}/tools/test-https-server stop ${https_server_state})
set_tests_properties(e2e.https_server_start PROPERTIES FIXTURES_SETUP https_server LABELS "wine;e2e" TIMEOUT 60)
set_tests_properties(e2e.https_server_stop PROPERTIES FIXTURES_CLEANUP https_server LABELS "wine;e2e" TIMEOUT 30)

file(GLOB e2e_sources CONFIGURE_DEPENDS ${SORVANE_ROOT}/tests/e2e/*_win_test.cpp)
foreach(file IN LISTS e2e_sources)
  get_filename_component(stem ${file} NAME_WE)
  set(test_name e2e.${stem})
  add_executable(${test_name} ${file})
  target_link_libraries(${test_name} PRIVATE sorvane_wine_test_support gtest_main)
  target_precompile_headers(${test_name} REUSE_FROM sorvane_wine_test_support)
  add_dependencies(${test_name} packed_programs demo_product)
  add_test(NAME ${test_name} COMMAND ${test_name})
  set_tests_properties(${test_name} PROPERTIES
    LABELS "wine;e2e"
    FIXTURES_REQUIRED "package_server;report_collector;https_server"
    # The machine's one stub mutex, one collector and one installed product; and the Windows
    # temporary folder, which they check for leftovers.
    RESOURCE_LOCK "stub_single_instance;report_collector;test_product;windows_temp"
    TIMEOUT 900
    ENVIRONMENT "SORVANE_TEST_BIN=${CMAKE_BINARY_DIR}/bin;SORVANE_TEST_HTTP_STATE=${package_server_state};SORVANE_TEST_COLLECTOR_STATE=${report_collector_state};SORVANE_PACKED_STUB=${SORVANE_PACKED_BIN}/SorvaneProSetup-packed.exe;SORVANE_PINNED_STUB=${SORVANE_PACKED_BIN}/SorvaneProSetup-pinned-packed.exe;SORVANE_PACKED_CRASH_STUB=${SORVANE_PACKED_BIN}/SorvaneProSetup-crashtest-packed.exe;SORVANE_HTTPS_STUB=${SORVANE_PACKED_BIN}/SorvaneProSetup-https-packed.exe;SORVANE_TEST_HTTPS_STATE=${https_server_state}")
endforeach()

# The proxy on 127.0.0.1 ports 8633 (Basic sign-in), 8634 (open) and 8635 (refusing): Debian's squid,
# started by scripts/test-proxy-server. Only the proxy test needs it; while that test points the
# prefix's Internet settings at it, no other test that fetches over WinINet may run.
set(proxy_server_state ${CMAKE_BINARY_DIR}/proxy-server)
add_test(NAME e2e.proxy_server_start COMMAND ${SORVANE_ROOT}/scripts/test-proxy-server start ${proxy_server_state})
add_test(NAME e2e.proxy_server_stop COMMAND ${SORVANE_ROOT}/scripts/test-proxy-server stop ${proxy_server_state})
set_tests_properties(e2e.proxy_server_start PROPERTIES FIXTURES_SETUP proxy_server LABELS "wine;e2e" TIMEOUT 60)
set_tests_properties(e2e.proxy_server_stop PROPERTIES FIXTURES_CLEANUP proxy_server LABELS "wine;e2e" TIMEOUT 30)
set_property(TEST e2e.proxy_sign_in_win_test APPEND PROPERTY FIXTURES_REQUIRED proxy_server)
set_property(TEST e2e.proxy_sign_in_win_test APPEND PROPERTY RESOURCE_LOCK internet_settings)
set_property(TEST e2e.proxy_sign_in_win_test APPEND PROPERTY ENVIRONMENT "SORVANE_TEST_PROXY_STATE=${proxy_server_state}")
