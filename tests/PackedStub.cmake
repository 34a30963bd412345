# Programs packed with the UI payload, for the tests that read a real container: the stub itself
# and payload_probe (which only unpacks and reports). Both are signed and packed by the native
# build's stubpack, with the native build's test certificate and the payload staged by
# scripts/stage-payload. Without the native tools the programs are not packed and the tests that
# need them report themselves skipped.
set(SORVANE_NATIVE_TOOLS "" CACHE PATH "The native build's bin folder, which holds stubpack (packed-stub tests need it)")

add_executable(payload_probe ${SORVANE_ROOT}/tests/programs/payload_probe.cpp)
target_link_libraries(payload_probe PRIVATE sorvane_win)
target_link_options(payload_probe PRIVATE -municode)

# The stub again with a crash on purpose at the start of its download worker, for the end-to-end
# test of the crash dump: its own object of the crash point replaces the library's empty one.
add_executable(SorvaneProSetup-crashtest WIN32 ${SORVANE_ENTRY_SOURCE} ${resource_script}
               ${SORVANE_ROOT}/src/sysenv/crash_injection_win.cpp)
target_compile_definitions(SorvaneProSetup-crashtest PRIVATE SORVANE_INJECT_CRASH)
target_link_libraries(SorvaneProSetup-crashtest PRIVATE sorvane_win)
target_link_options(SorvaneProSetup-crashtest PRIVATE -municode -mwindows)

# The test target and its CTest entry are made after this file (by the loop over the Wine tests),
# so their additions wait for the end of the folder.
function(sorvane_packed_stub_test_setup)
  set(test payload.packed_stub_win_test)
  if(NOT TARGET ${test})
    return()
  endif()
  # It starts the stub, which takes the one machine-wide single-instance mutex.
  set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK stub_single_instance)
  add_dependencies(${test} payload_probe)
  if(SORVANE_NATIVE_TOOLS)
    add_dependencies(${test} packed_programs)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                 "SORVANE_PACKED_STUB=${SORVANE_PACKED_BIN}/SorvaneProSetup-packed.exe"
                 "SORVANE_PACKED_PROBE=${SORVANE_PACKED_BIN}/payload_probe-packed.exe"
                 "SORVANE_STAGED_PAYLOAD=${SORVANE_STAGED_PAYLOAD}")
  endif()
endfunction()
cmake_language(DEFER CALL sorvane_packed_stub_test_setup)

if(NOT SORVANE_NATIVE_TOOLS)
  message(STATUS "Packed-stub tests will be skipped: configure with -DSORVANE_NATIVE_TOOLS=<native build>/bin")
  return()
endif()

set(SORVANE_PACKED_BIN ${CMAKE_BINARY_DIR}/bin)
set(SORVANE_STAGED_PAYLOAD ${CMAKE_BINARY_DIR}/payload)
# The native build made its test certificate beside its bin folder, with stubpack.
get_filename_component(packed_cert_dir ${SORVANE_NATIVE_TOOLS}/../test-cert ABSOLUTE)

# Staged again whenever anything under ui/ or the staging scripts change.
file(GLOB_RECURSE packed_ui_sources CONFIGURE_DEPENDS ${SORVANE_ROOT}/ui/*)
file(GLOB packed_stage_scripts ${SORVANE_ROOT}/scripts/stage-payload ${SORVANE_ROOT}/scripts/make-ui-images.py)
set(packed_payload_stamp ${CMAKE_BINARY_DIR}/payload.staged)
add_custom_command(
  OUTPUT ${packed_payload_stamp}
  COMMAND ${SORVANE_ROOT}/scripts/stage-payload ${SORVANE_STAGED_PAYLOAD}
  COMMAND ${CMAKE_COMMAND} -E touch ${packed_payload_stamp}
  DEPENDS ${packed_ui_sources} ${packed_stage_scripts}
  COMMENT "Staging the UI payload")

# The same payload with pages that fetch the package over https from the loopback https server
# (tools/test-https-server), for the end-to-end case of the whole trust chain over TLS.
set(SORVANE_HTTPS_PAYLOAD ${CMAKE_BINARY_DIR}/payload-https)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${SORVANE_ROOT}/ui/js/stubparams.js)
file(READ ${SORVANE_ROOT}/ui/js/stubparams.js https_stub_params)
string(REPLACE "http://127.0.0.1:8631/SorvanePro.zip" "https://127.0.0.1:8632/SorvanePro.zip" https_stub_params
       "${https_stub_params}")
file(WRITE ${CMAKE_BINARY_DIR}/stubparams-https.js "${https_stub_params}")
set(https_payload_stamp ${CMAKE_BINARY_DIR}/payload-https.staged)
add_custom_command(
  OUTPUT ${https_payload_stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${SORVANE_HTTPS_PAYLOAD}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${SORVANE_STAGED_PAYLOAD} ${SORVANE_HTTPS_PAYLOAD}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/stubparams-https.js ${SORVANE_HTTPS_PAYLOAD}/js/stubparams.js
  COMMAND ${CMAKE_COMMAND} -E touch ${https_payload_stamp}
  DEPENDS ${packed_payload_stamp} ${CMAKE_BINARY_DIR}/stubparams-https.js
  COMMENT "Staging the UI payload with an https package URL")

# The stubs pin the test certificate's subject and key as the installer's signer (the demo product's
# setup.exe is signed with it); the payload probe pins only its container. The stub's packing
# -pinned also pins the demo package's SHA-256, as a release does: the demo's and the tests' runs
# that install the demo package use it. -packed pins the signer only, for the scenarios whose
# package differs by design (no setup.exe, a failing MSI, an unsigned or foreign installer, the soak's
# stand-in installers), which the hash pin would refuse before their own failure showed. -manifest
# takes the package's size and hash from its signed manifest (the test key, version floor 5.2.0.0),
# as a release that always fetches the latest package does.
set(packed_signer "Sorvane Pro Test Signing")
set(packed_outputs)
foreach(pair IN ITEMS "SorvaneProSetup;SorvaneProSetup-packed.exe;signer" "payload_probe;payload_probe-packed.exe;"
                      "SorvaneProSetup-crashtest;SorvaneProSetup-crashtest-packed.exe;signer"
                      "SorvaneProSetup;SorvaneProSetup-pinned-packed.exe;signer+sha256"
                      "SorvaneProSetup;SorvaneProSetup-https-packed.exe;signer+sha256;https"
                      "SorvaneProSetup;SorvaneProSetup-manifest-packed.exe;signer+manifest")
  list(GET pair 0 program)
  list(GET pair 1 packed_name)
  list(GET pair 2 pins)
  set(payload ${SORVANE_STAGED_PAYLOAD})
  set(payload_stamp ${packed_payload_stamp})
  list(LENGTH pair fields)
  if(fields GREATER 3)
    set(payload ${SORVANE_HTTPS_PAYLOAD})
    set(payload_stamp ${https_payload_stamp})
  endif()
  set(pin_arguments)
  set(pin_depends)
  if(pins MATCHES "signer")
    # With its key: a name alone is refused.
    list(APPEND pin_arguments --package-signer ${packed_signer} --package-signer-cert ${packed_cert_dir}/test-cert.pem)
  endif()
  if(pins MATCHES "sha256")
    # The demo package is zipped at build time: its digest is read when the stub is packed.
    set(demo_package ${CMAKE_BINARY_DIR}/bin/demo-product/SorvanePro.zip)
    list(APPEND pin_arguments --package-sha256-of ${demo_package})
    list(APPEND pin_depends ${demo_package})
  endif()
  if(pins MATCHES "manifest")
    # The demo package's signed manifest (tools/demo-product) is made with the same key.
    list(APPEND pin_arguments --manifest-key-cert ${packed_cert_dir}/test-cert.pem --version-floor 5.2.0.0)
  endif()
  add_custom_command(
    OUTPUT ${SORVANE_PACKED_BIN}/${packed_name}
    COMMAND ${SORVANE_NATIVE_TOOLS}/stubpack pack --stub $<TARGET_FILE:${program}>
            --payload ${payload}
            --list ${SORVANE_ROOT}/ui/payload.list --cert ${packed_cert_dir}/test-cert.pem
            --key ${packed_cert_dir}/test-key.pem --out ${SORVANE_PACKED_BIN}/${packed_name} ${pin_arguments}
    VERBATIM
    DEPENDS ${program} ${payload_stamp} ${packed_cert_dir}/test-cert.pem ${SORVANE_NATIVE_TOOLS}/stubpack
            ${SORVANE_ROOT}/ui/payload.list ${pin_depends}
    COMMENT "Signing ${program} and packing the UI payload into ${packed_name}")
  list(APPEND packed_outputs ${SORVANE_PACKED_BIN}/${packed_name})
endforeach()
add_custom_target(packed_programs DEPENDS ${packed_outputs})
