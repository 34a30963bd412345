# The Windows program: one static library of plain and Win32 code per entry of src/layers.txt
# (sorvane_win_<entry>, all of them together as sorvane_win), the stub linked from them with its
# resources, and the Win32 tests that CTest runs under Wine through scripts/wine-run.
option(SORVANE_BUILD_WINE_TESTS "Build the tests that run under Wine" ON)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600 WINVER=0x0600)
add_compile_options(-Wall -Wextra -Werror=return-type)
# Faults that only one of the two pointer sizes shows are errors in both builds, so that the build
# this machine does not run still fails on them: integers cast to pointers of another size, function
# pointers cast to another signature (a calling convention that i686 alone tells apart), printf
# formats against their arguments' sizes, and narrowing conversions, such as a LONG_PTR or a SIZE_T
# kept in a LONG or a DWORD. Signedness is left out: the Windows API mixes it everywhere.
add_compile_options(-Werror=int-to-pointer-cast -Werror=cast-function-type -Werror=format
                    -Werror=conversion -Wno-sign-conversion
                    $<$<COMPILE_LANGUAGE:C>:-Werror=pointer-to-int-cast>)
# Wine will not start a program that needs the mingw runtime DLLs beside it.
add_link_options(-static -static-libgcc -static-libstdc++)
# The stub is downloaded by every user: drop unused code and the symbols outside debug builds.
add_compile_options($<$<NOT:$<CONFIG:Debug>>:-ffunction-sections> $<$<NOT:$<CONFIG:Debug>>:-fdata-sections>)
add_link_options($<$<NOT:$<CONFIG:Debug>>:-Wl,--gc-sections> $<$<NOT:$<CONFIG:Debug>>:-s>)
include(${CMAKE_CURRENT_LIST_DIR}/Reproducible.cmake)
include_directories(${SORVANE_ROOT}/src)

# Only these system DLLs may be imported statically: they are Known DLLs, which Windows never looks
# for beside the program. Every other system DLL is loaded from System32 at run time.
set(SORVANE_SYSTEM_LIBS ole32 oleaut32 uuid shlwapi shell32 advapi32 user32 gdi32 kernel32)

set(SORVANE_ENTRY_SOURCE ${SORVANE_ROOT}/src/app/winmain_win.cpp)
set(library_sources ${SORVANE_PLAIN_SOURCES} ${SORVANE_WIN_SOURCES})
list(REMOVE_ITEM library_sources ${SORVANE_ENTRY_SOURCE})
sorvane_layer_libraries(sorvane_win ${library_sources})
target_link_libraries(sorvane_win_zip PUBLIC miniz)
# The unpacking's path from the inflater to the writing thread, built for speed like miniz.
set_source_files_properties(${SORVANE_ROOT}/src/zip/unzip_win.cpp ${SORVANE_ROOT}/src/zip/background_writer_win.cpp
  PROPERTIES COMPILE_OPTIONS $<$<CONFIG:MinSizeRel>:-O2>)
foreach(layer IN LISTS SORVANE_LAYERS)
  get_target_property(type sorvane_win_${layer} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    target_link_libraries(sorvane_win_${layer} PUBLIC ${SORVANE_SYSTEM_LIBS})
  endif()
endforeach()

# Where every report goes (plain HTTP, port 80). Test builds and the demo keep the loopback address,
# where the tests' report collector listens.
set(SORVANE_REPORT_HOST "127.0.0.1" CACHE STRING "Host name of the report server")
set_source_files_properties(${SORVANE_ROOT}/src/telemetry/report_transport_win.cpp PROPERTIES
  COMPILE_DEFINITIONS "SORVANE_REPORT_HOST=\"${SORVANE_REPORT_HOST}\"")

# The icon's images are drawn by a script at build time.
set(generated_dir ${CMAKE_BINARY_DIR}/generated)
add_custom_command(
  OUTPUT ${generated_dir}/stub.ico
  COMMAND ${CMAKE_COMMAND} -E make_directory ${generated_dir}
  COMMAND python3 ${SORVANE_ROOT}/scripts/make-icon.py ${generated_dir}/stub.ico
  DEPENDS ${SORVANE_ROOT}/scripts/make-icon.py
  COMMENT "Drawing the application icon")
set(resource_script ${SORVANE_ROOT}/src/app/resources/stub.rc)
set_source_files_properties(${resource_script} PROPERTIES
  OBJECT_DEPENDS "${generated_dir}/stub.ico;${SORVANE_ROOT}/src/app/resources/stub.manifest;${SORVANE_ROOT}/src/app/resources/strings.rc")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001 -I${generated_dir} -I${SORVANE_ROOT}/src/app/resources")

add_executable(SorvaneProSetup WIN32 ${SORVANE_ENTRY_SOURCE} ${resource_script})
target_link_libraries(SorvaneProSetup PRIVATE sorvane_win)
target_link_options(SorvaneProSetup PRIVATE -municode -mwindows)

# Runs on the build machine, not under Wine: reads the stub's import table.
add_test(NAME app.static_imports
         COMMAND ${SORVANE_ROOT}/tests/check-static-imports ${SORVANE_MINGW_TRIPLE}-objdump $<TARGET_FILE:SorvaneProSetup>)
set_tests_properties(app.static_imports PROPERTIES LABELS "native;app")

if(SORVANE_BUILD_WINE_TESTS)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Not ours to mend: only our own code is held to the warnings above.
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
  file(GLOB support_sources CONFIGURE_DEPENDS ${SORVANE_ROOT}/tests/support/*_win.cpp)
  add_library(sorvane_wine_test_support STATIC ${support_sources})
  # ws2_32: the loopback test server's helpers (hit counts, a port where nothing listens).
  target_link_libraries(sorvane_wine_test_support PUBLIC sorvane_win gtest ws2_32)
  target_include_directories(sorvane_wine_test_support PUBLIC ${SORVANE_ROOT}/tests)
  # Nearly every test includes these. Parsed once per build instead of once per test, they keep the
  # Wine tests affordable to build twice (i686 always, x86_64 where 32-bit code cannot run).
  target_precompile_headers(sorvane_wine_test_support PRIVATE
    <windows.h> <gtest/gtest.h> <algorithm> <memory> <optional> <string> <vector>)

  # Helper programs that tests start as child processes (planted DLLs, marker programs).
  include(${SORVANE_ROOT}/tests/WineTestPrograms.cmake OPTIONAL)
  # Stubs and probes packed with the UI payload, for the tests that read a real container.
  include(${SORVANE_ROOT}/tests/PackedStub.cmake OPTIONAL)
  # The demo's product packages, which the demo and the end-to-end tests serve.
  include(${SORVANE_ROOT}/tools/demo-product/DemoProduct.cmake)
  # Benchmarks, built only on request (make bench).
  include(${SORVANE_ROOT}/bench/Bench.cmake OPTIONAL)

  # Archives made by real archivers (Info-ZIP zip, 7-Zip, bsdtar, jar, Python), made afresh before
  # the tests that extract them.
  set(real_archives_dir ${CMAKE_BINARY_DIR}/real-archives)
  add_test(NAME zip.real_archives_make COMMAND ${SORVANE_ROOT}/tests/make-real-archives ${real_archives_dir})
  set_tests_properties(zip.real_archives_make PROPERTIES FIXTURES_SETUP real_archives LABELS "wine;zip" TIMEOUT 60)

  # The loopback HTTP server (a native program) that the download and product tests talk to, started
  # once around them; tests put files into its root through its Wine path. Its fixture also mounts
  # the tiny volume that the disk-full tests of the download and of the unzipping fill.
  if(SORVANE_NATIVE_TOOLS)
    set(http_server_state ${CMAKE_BINARY_DIR}/http-server)
    file(MAKE_DIRECTORY ${http_server_state}/root)
    add_test(NAME downloadmanagercore.http_server_start
             COMMAND ${SORVANE_ROOT}/scripts/test-http-server start ${http_server_state} ${http_server_state}/root
                     ${SORVANE_NATIVE_TOOLS}/sorvane-test-server)
    add_test(NAME downloadmanagercore.http_server_stop
             COMMAND ${SORVANE_ROOT}/scripts/test-http-server stop ${http_server_state})
    set_tests_properties(downloadmanagercore.http_server_start PROPERTIES
      FIXTURES_SETUP http_server LABELS "wine;downloadmanagercore" TIMEOUT 30)
    set_tests_properties(downloadmanagercore.http_server_stop PROPERTIES
      FIXTURES_CLEANUP http_server LABELS "wine;downloadmanagercore" TIMEOUT 30)

    # The report collector on 127.0.0.1 port 80, where the stub and the report sender send: it
    # records every request for the tests of the reports and of the stub's runs.
    set(report_collector_state ${CMAKE_BINARY_DIR}/report-collector)
    add_test(NAME telemetry.report_collector_start
             COMMAND ${SORVANE_ROOT}/scripts/test-http-server collect ${report_collector_state}
                     ${SORVANE_NATIVE_TOOLS}/sorvane-test-server)
    add_test(NAME telemetry.report_collector_stop
             COMMAND ${SORVANE_ROOT}/scripts/test-http-server stop ${report_collector_state})
    set_tests_properties(telemetry.report_collector_start PROPERTIES
      FIXTURES_SETUP report_collector LABELS "wine;telemetry" TIMEOUT 150)
    set_tests_properties(telemetry.report_collector_stop PROPERTIES
      FIXTURES_CLEANUP report_collector LABELS "wine;telemetry" TIMEOUT 30)
  endif()

  # sorvane_wine_test(<folder>/<test> [NEEDS...]): one Wine test of src/ and what it shares with
  # other tests (tests/WineTests.cmake lists every one of them with its needs).
  set(listed_wine_tests)
  function(sorvane_wine_test path)
    set(file ${SORVANE_ROOT}/src/${path}.cpp)
    if(NOT file IN_LIST SORVANE_WINE_TESTS)
      message(FATAL_ERROR "tests/WineTests.cmake lists ${path}, which is no Wine test in src/")
    endif()
    set(listed_wine_tests ${listed_wine_tests} ${file} PARENT_SCOPE)
    sorvane_test_identity(${file} test_name subsystem)
    add_executable(${test_name} ${file})
    target_link_libraries(${test_name} PRIVATE sorvane_wine_test_support gtest_main)
    target_precompile_headers(${test_name} REUSE_FROM sorvane_wine_test_support)
    add_dependencies(${test_name} SorvaneProSetup ${SORVANE_WINE_TEST_PROGRAMS})
    add_test(NAME ${test_name} COMMAND ${test_name})
    set_tests_properties(${test_name} PROPERTIES
      LABELS "wine;${subsystem}"
      ENVIRONMENT "SORVANE_STUB_EXE=$<TARGET_FILE:SorvaneProSetup>;SORVANE_TEST_BIN=${CMAKE_BINARY_DIR}/bin"
      TIMEOUT 120)
    foreach(need IN LISTS ARGN)
      if(need STREQUAL "single_instance")
        set_property(TEST ${test_name} APPEND PROPERTY RESOURCE_LOCK stub_single_instance)
      elseif(need STREQUAL "tiny_volume" OR need STREQUAL "test_product" OR need STREQUAL "windows_temp")
        set_property(TEST ${test_name} APPEND PROPERTY RESOURCE_LOCK ${need})
      elseif(need STREQUAL "http_server")
        if(SORVANE_NATIVE_TOOLS)
          set_property(TEST ${test_name} APPEND PROPERTY FIXTURES_REQUIRED http_server)
          # It fetches over WinINet, which the proxy test points elsewhere while it runs.
          set_property(TEST ${test_name} APPEND PROPERTY RESOURCE_LOCK internet_settings)
          set_property(TEST ${test_name} APPEND PROPERTY ENVIRONMENT "SORVANE_TEST_HTTP_STATE=${http_server_state}")
        endif()
      elseif(need STREQUAL "window")
        set_property(TEST ${test_name} APPEND PROPERTY LABELS window)
      elseif(need STREQUAL "real_archives")
        set_property(TEST ${test_name} APPEND PROPERTY FIXTURES_REQUIRED real_archives)
        set_property(TEST ${test_name} APPEND PROPERTY ENVIRONMENT "SORVANE_TEST_REAL_ARCHIVES=${real_archives_dir}")
      elseif(need STREQUAL "report_collector")
        if(SORVANE_NATIVE_TOOLS)
          set_property(TEST ${test_name} APPEND PROPERTY FIXTURES_REQUIRED report_collector)
          set_property(TEST ${test_name} APPEND PROPERTY RESOURCE_LOCK report_collector)
          set_property(TEST ${test_name} APPEND PROPERTY ENVIRONMENT "SORVANE_TEST_COLLECTOR_STATE=${report_collector_state}")
        endif()
      else()
        message(FATAL_ERROR "tests/WineTests.cmake: ${path} needs '${need}', which is no shared resource")
      endif()
    endforeach()
  endfunction()
  include(${SORVANE_ROOT}/tests/WineTests.cmake)
  foreach(file IN LISTS SORVANE_WINE_TESTS)
    if(NOT file IN_LIST listed_wine_tests)
      message(FATAL_ERROR "${file} is not listed in tests/WineTests.cmake")
    endif()
  endforeach()

  if(SORVANE_NATIVE_TOOLS)
    include(${SORVANE_ROOT}/tests/EndToEnd.cmake)
  endif()
endif()
