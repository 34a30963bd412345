# The demo's product, as its vendor would put it on the package server: the bootstrapper (setup.exe)
# and its Windows Installer package zipped together, plus the broken packages that the demo's
# failure scenarios and the end-to-end tests serve instead. Into bin/demo-product/:
#   SorvanePro.zip                   SorvanePro/setup.exe, SorvanePro/SorvanePro.msi
#   SorvanePro-installer-fails.zip   the same, with a package whose launch condition always fails
#   SorvanePro-no-setup.zip          the package without its bootstrapper
#   SorvanePro-unsigned-setup.zip    the same as SorvanePro.zip with the bootstrapper unsigned
#   SorvanePro-other-signer.zip      and with the bootstrapper signed by another certificate
#   SorvanePro.zip.manifest          SorvanePro.zip's signed manifest (version 5.2.1.0, test key)
#   SorvanePro.zip.old-manifest      the same signed as version 5.1.0.0, below the demo stub's floor
#   SorvanePro.zip.wrong-key-manifest  the same signed with another key
add_executable(demo_setup ${SORVANE_ROOT}/tools/demo-product/setup_bootstrapper.cpp)
target_link_libraries(demo_setup PRIVATE sorvane_win)
target_link_options(demo_setup PRIVATE -municode)

# The bootstrapper as the vendor ships it: signed with the build's test certificate, whose subject
# the test and demo stubs pin. Without the native tools (no certificate) it stays unsigned.
set(demo_setup_file $<TARGET_FILE:demo_setup>)
set(demo_setup_depends demo_setup)
if(SORVANE_NATIVE_TOOLS)
  find_program(SORVANE_OSSLSIGNCODE osslsigncode REQUIRED)
  get_filename_component(demo_cert_dir ${SORVANE_NATIVE_TOOLS}/../test-cert ABSOLUTE)
  set(demo_setup_file ${CMAKE_BINARY_DIR}/demo-product/setup-signed.exe)
  add_custom_command(
    OUTPUT ${demo_setup_file}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/demo-product
    COMMAND ${CMAKE_COMMAND} -E rm -f ${demo_setup_file}
    COMMAND ${SORVANE_OSSLSIGNCODE} sign -certs ${demo_cert_dir}/test-cert.pem -key ${demo_cert_dir}/test-key.pem
            -h sha256 -n "Sorvane Pro" -in $<TARGET_FILE:demo_setup> -out ${demo_setup_file}
    DEPENDS demo_setup ${demo_cert_dir}/test-cert.pem
    COMMENT "Signing the demo product's setup.exe")
  set(demo_setup_depends ${demo_setup_file})
endif()

# What the demo asks of Windows from outside the stub: the whole exit code, the product's state.
add_executable(demo_helper ${SORVANE_ROOT}/tools/demo-product/demo_helper.cpp)
target_link_libraries(demo_helper PRIVATE sorvane_win msi)
target_link_options(demo_helper PRIVATE -municode)
set_target_properties(demo_helper PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/demo-product)

find_program(SORVANE_WIXL wixl REQUIRED)
set(demo_source ${SORVANE_ROOT}/tools/demo-product)
set(demo_work ${CMAKE_BINARY_DIR}/demo-product)
set(demo_out ${CMAKE_BINARY_DIR}/bin/demo-product)
set(demo_packages)
# Each variant, "|"-separated: its package's name, its MSI's variant and the setup.exe it carries
# (none: no file).
set(demo_variants
    "SorvanePro.zip|good|${demo_setup_file}"
    "SorvanePro-installer-fails.zip|fails|${demo_setup_file}"
    "SorvanePro-no-setup.zip|good|")
if(SORVANE_NATIVE_TOOLS)
  # The installer signature tests: the bootstrapper unsigned, and signed by someone else (the second
  # certificate of tests/WineTestPrograms.cmake).
  set(demo_other_signed ${CMAKE_BINARY_DIR}/demo-product/setup-other-signer.exe)
  add_custom_command(
    OUTPUT ${demo_other_signed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/demo-product
    COMMAND ${CMAKE_COMMAND} -E rm -f ${demo_other_signed}
    COMMAND ${SORVANE_OSSLSIGNCODE} sign -certs ${CMAKE_BINARY_DIR}/other-signer-cert/test-cert.pem
            -key ${CMAKE_BINARY_DIR}/other-signer-cert/test-key.pem -h sha256 -in $<TARGET_FILE:demo_setup>
            -out ${demo_other_signed}
    DEPENDS demo_setup ${CMAKE_BINARY_DIR}/other-signer-cert/test-cert.pem
    COMMENT "Signing the demo product's setup.exe as someone else")
  list(APPEND demo_setup_depends ${demo_other_signed})
  list(APPEND demo_variants "SorvanePro-unsigned-setup.zip|good|$<TARGET_FILE:demo_setup>"
                            "SorvanePro-other-signer.zip|good|${demo_other_signed}")
endif()
foreach(entry IN LISTS demo_variants)
  string(REPLACE "|" ";" variant "${entry}")
  list(GET variant 0 package_name)
  list(GET variant 1 msi_variant)
  list(LENGTH variant fields)
  set(setup_source)
  if(fields GREATER 2)
    list(GET variant 2 setup_source)
  endif()
  get_filename_component(stage_name ${package_name} NAME_WE)
  set(stage ${demo_work}/${stage_name})
  set(package ${demo_out}/${package_name})
  if(setup_source STREQUAL "")
    set(copy_setup)
  else()
    set(copy_setup COMMAND ${CMAKE_COMMAND} -E copy ${setup_source} ${stage}/SorvanePro/setup.exe)
  endif()
  # wixl looks for the package's files in its working folder.
  add_custom_command(
    OUTPUT ${package}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/SorvanePro ${demo_out}
    COMMAND ${SORVANE_WIXL} -a x64 -D Variant=${msi_variant} -o ${stage}/SorvanePro/SorvanePro.msi
            ${demo_source}/SorvanePro.wxs
    ${copy_setup}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${package}
    COMMAND ${CMAKE_COMMAND} -E chdir ${stage} ${CMAKE_COMMAND} -E tar cf ${package} --format=zip SorvanePro
    WORKING_DIRECTORY ${demo_source}
    DEPENDS ${demo_source}/SorvanePro.wxs ${demo_source}/readme.txt ${demo_setup_depends} demo_setup
    COMMENT "Packing the demo product: ${package}")
  list(APPEND demo_packages ${package})
endforeach()
if(SORVANE_NATIVE_TOOLS)
  # The package's signed manifests, made as the vendor makes them (stubpack sign-package).
  set(demo_package ${demo_out}/SorvanePro.zip)
  set(other_cert ${CMAKE_BINARY_DIR}/other-signer-cert)
  set(demo_manifests ${demo_package}.manifest ${demo_package}.old-manifest ${demo_package}.wrong-key-manifest)
  set(sign_package ${SORVANE_NATIVE_TOOLS}/stubpack sign-package ${demo_package} --expires 2099-12-31)
  add_custom_command(
    OUTPUT ${demo_manifests}
    COMMAND ${sign_package} --cert ${demo_cert_dir}/test-cert.pem --key ${demo_cert_dir}/test-key.pem
            --version 5.2.1.0 --out ${demo_package}.manifest
    COMMAND ${sign_package} --cert ${demo_cert_dir}/test-cert.pem --key ${demo_cert_dir}/test-key.pem
            --version 5.1.0.0 --out ${demo_package}.old-manifest
    COMMAND ${sign_package} --cert ${other_cert}/test-cert.pem --key ${other_cert}/test-key.pem
            --version 5.2.1.0 --out ${demo_package}.wrong-key-manifest
    DEPENDS ${demo_package} ${SORVANE_NATIVE_TOOLS}/stubpack ${demo_cert_dir}/test-cert.pem ${other_cert}/test-cert.pem
    COMMENT "Signing the demo package's manifests")
  list(APPEND demo_packages ${demo_manifests})
endif()
add_custom_target(demo_product ALL DEPENDS ${demo_packages} demo_helper)
