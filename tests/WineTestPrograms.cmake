# Small Windows programs and DLLs that the Wine tests start or plant; built into the bin folder.
add_library(planted_dll SHARED ${SORVANE_ROOT}/tests/programs/planted_dll.c)
set_target_properties(planted_dll PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_executable(dll_probe ${SORVANE_ROOT}/tests/programs/dll_probe.cpp)
target_link_libraries(dll_probe PRIVATE sorvane_win)
target_link_options(dll_probe PRIVATE -municode)

add_executable(import_baseline ${SORVANE_ROOT}/tests/programs/import_baseline.cpp)
target_link_libraries(import_baseline PRIVATE ${SORVANE_SYSTEM_LIBS})
target_link_options(import_baseline PRIVATE -municode)

# The product's setup.exe as the installer-launch tests need it: it records how it was started and
# installs the test product through Windows Installer, or ends with a chosen exit code.
add_executable(fake_setup ${SORVANE_ROOT}/tests/programs/fake_setup.cpp)
target_link_libraries(fake_setup PRIVATE sorvane_wine_test_support)
target_link_options(fake_setup PRIVATE -municode)

# The test product: a real 64-bit Windows Installer package, built with Debian's wixl at build time.
# wixl looks for the package's files in its working folder.
set(test_product_folder ${CMAKE_BINARY_DIR}/test-product)
file(CONFIGURE OUTPUT ${test_product_folder}/readme.txt
     CONTENT "Sorvane Test Product: installed and removed by the Wine tests.\n")
find_program(SORVANE_WIXL wixl REQUIRED)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/bin/sorvane-test-product.msi
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin
  COMMAND ${SORVANE_WIXL} -a x64 -o ${CMAKE_BINARY_DIR}/bin/sorvane-test-product.msi
          ${SORVANE_ROOT}/tests/programs/test_product.wxs
  WORKING_DIRECTORY ${test_product_folder}
  DEPENDS ${SORVANE_ROOT}/tests/programs/test_product.wxs ${test_product_folder}/readme.txt
  COMMENT "Building the test product's MSI")
add_custom_target(test_product_msi DEPENDS ${CMAKE_BINARY_DIR}/bin/sorvane-test-product.msi)
# The test helpers ask Windows Installer about the test product directly (tests/support/test_product_win.cpp).
target_link_libraries(sorvane_wine_test_support PUBLIC msi)
# The stub's crash filter around a deliberate access violation in a worker thread; graphical, as the
# stub is.
add_executable(crash_probe WIN32 ${SORVANE_ROOT}/tests/programs/crash_probe.cpp)
target_link_libraries(crash_probe PRIVATE sorvane_win)
target_link_options(crash_probe PRIVATE -municode -mwindows)
set(SORVANE_WINE_TEST_PROGRAMS planted_dll dll_probe import_baseline fake_setup test_product_msi crash_probe)

# The stand-in installer signed as the release's own (the native build's test certificate), as
# someone else's (a second self-signed certificate of another name) and with the release's name
# under another key (a third certificate, of the test certificate's own name), for the installer
# signature checks. Without the native tools there is no certificate, and those tests report themselves skipped.
if(SORVANE_NATIVE_TOOLS)
  find_program(SORVANE_OSSLSIGNCODE osslsigncode REQUIRED)
  get_filename_component(signing_cert_dir ${SORVANE_NATIVE_TOOLS}/../test-cert ABSOLUTE)
  set(other_cert_dir ${CMAKE_BINARY_DIR}/other-signer-cert)
  add_custom_command(
    OUTPUT ${other_cert_dir}/test-cert.pem ${other_cert_dir}/test-key.pem
    COMMAND ${SORVANE_ROOT}/tools/make-test-cert ${other_cert_dir} "Someone Else Signing"
    DEPENDS ${SORVANE_ROOT}/tools/make-test-cert
    COMMENT "Making a second signing certificate")
  set(same_name_cert_dir ${CMAKE_BINARY_DIR}/same-name-cert)
  add_custom_command(
    OUTPUT ${same_name_cert_dir}/test-cert.pem ${same_name_cert_dir}/test-key.pem
    COMMAND ${SORVANE_ROOT}/tools/make-test-cert ${same_name_cert_dir}
    DEPENDS ${SORVANE_ROOT}/tools/make-test-cert
    COMMENT "Making a certificate of the release's signer name under another key")
  set(signed_setups)
  foreach(pair IN ITEMS "${signing_cert_dir};fake_setup-signed.exe" "${other_cert_dir};fake_setup-other-signer.exe"
                        "${same_name_cert_dir};fake_setup-same-name-other-key.exe")
    list(GET pair 0 cert_dir)
    list(GET pair 1 signed_name)
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/bin/${signed_name}
      COMMAND ${CMAKE_COMMAND} -E rm -f ${CMAKE_BINARY_DIR}/bin/${signed_name}
      COMMAND ${SORVANE_OSSLSIGNCODE} sign -certs ${cert_dir}/test-cert.pem -key ${cert_dir}/test-key.pem
              -h sha256 -in $<TARGET_FILE:fake_setup> -out ${CMAKE_BINARY_DIR}/bin/${signed_name}
      DEPENDS fake_setup ${cert_dir}/test-cert.pem
      COMMENT "Signing the stand-in installer: ${signed_name}")
    list(APPEND signed_setups ${CMAKE_BINARY_DIR}/bin/${signed_name})
  endforeach()
  # The signed package manifests of the manifest tests, and the test certificate's key pin as
  # openssl computes it (tests/make-test-manifests).
  set(test_manifest_dir ${CMAKE_BINARY_DIR}/bin/manifests)
  add_custom_command(
    OUTPUT ${test_manifest_dir}/good.manifest
    COMMAND ${SORVANE_ROOT}/tests/make-test-manifests ${SORVANE_NATIVE_TOOLS}/stubpack ${signing_cert_dir}
            ${other_cert_dir} ${test_manifest_dir}
    DEPENDS ${SORVANE_ROOT}/tests/make-test-manifests ${SORVANE_NATIVE_TOOLS}/stubpack ${signing_cert_dir}/test-cert.pem
            ${other_cert_dir}/test-cert.pem
    COMMENT "Signing the test package manifests")
  list(APPEND signed_setups ${test_manifest_dir}/good.manifest)
  add_custom_target(signed_fake_setups DEPENDS ${signed_setups})
  list(APPEND SORVANE_WINE_TEST_PROGRAMS signed_fake_setups)
endif()
