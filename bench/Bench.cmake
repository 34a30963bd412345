# Benchmarks print figures side by side with the platform's own tools; they are built only on request
# (make bench) and are never part of the test run.
add_executable(download_bench EXCLUDE_FROM_ALL ${SORVANE_ROOT}/bench/download_bench_win.cpp)
target_link_libraries(download_bench PRIVATE sorvane_win urlmon psapi)
target_link_options(download_bench PRIVATE -municode)
add_executable(extract_bench EXCLUDE_FROM_ALL ${SORVANE_ROOT}/bench/extract_bench_win.cpp)
target_link_libraries(extract_bench PRIVATE sorvane_win psapi)
target_link_options(extract_bench PRIVATE -municode)
add_executable(startup_bench EXCLUDE_FROM_ALL ${SORVANE_ROOT}/bench/startup_bench_win.cpp)
target_link_libraries(startup_bench PRIVATE sorvane_win psapi)
target_link_options(startup_bench PRIVATE -municode)
