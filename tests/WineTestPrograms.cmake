# Small Windows programs and DLLs that the Wine tests start or plant; built into the bin folder.
add_library(planted_dll SHARED ${SORVANE_ROOT}/tests/programs/planted_dll.c)
set_target_properties(planted_dll PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_executable(dll_probe ${SORVANE_ROOT}/tests/programs/dll_probe.cpp)
target_link_libraries(dll_probe PRIVATE sorvane_win)
target_link_options(dll_probe PRIVATE -municode)

add_executable(import_baseline ${SORVANE_ROOT}/tests/programs/import_baseline.cpp)
target_link_libraries(import_baseline PRIVATE ${SORVANE_SYSTEM_LIBS})
target_link_options(import_baseline PRIVATE -municode)

set(SORVANE_WINE_TEST_PROGRAMS planted_dll dll_probe import_baseline)
