# The demo's product, as its vendor would put it on the package server: the bootstrapper (setup.exe)
# and its Windows Installer package zipped together, plus the broken packages that the demo's
# failure scenarios and the end-to-end tests serve instead. Into bin/demo-product/:
#   SorvanePro.zip                   SorvanePro/setup.exe, SorvanePro/SorvanePro.msi
#   SorvanePro-installer-fails.zip   the same, with a package whose launch condition always fails
#   SorvanePro-no-setup.zip          the package without its bootstrapper
add_executable(demo_setup ${SORVANE_ROOT}/tools/demo-product/setup_bootstrapper.cpp)
target_link_libraries(demo_setup PRIVATE sorvane_win)
target_link_options(demo_setup PRIVATE -municode)

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
foreach(variant IN ITEMS good fails nosetup)
  set(stage ${demo_work}/${variant})
  if(variant STREQUAL "fails")
    set(package ${demo_out}/SorvanePro-installer-fails.zip)
    set(msi_variant fails)
  else()
    set(msi_variant good)
    if(variant STREQUAL "nosetup")
      set(package ${demo_out}/SorvanePro-no-setup.zip)
    else()
      set(package ${demo_out}/SorvanePro.zip)
    endif()
  endif()
  if(variant STREQUAL "nosetup")
    set(copy_setup)
  else()
    set(copy_setup COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:demo_setup> ${stage}/SorvanePro/setup.exe)
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
    DEPENDS ${demo_source}/SorvanePro.wxs ${demo_source}/readme.txt demo_setup
    COMMENT "Packing the demo product: ${package}")
  list(APPEND demo_packages ${package})
endforeach()
add_custom_target(demo_product ALL DEPENDS ${demo_packages} demo_helper)
