# Third-party code, built from where its package manager put it; none of it is committed.
# miniz (the npm package "miniz.c", pinned in package-lock.json): one C file for zip reading,
# inflate, deflate and CRC-32.
set(SORVANE_MINIZ_DIR ${SORVANE_ROOT}/node_modules/miniz.c)
if(NOT EXISTS ${SORVANE_MINIZ_DIR}/miniz.c)
  message(FATAL_ERROR "miniz is missing: run scripts/install-deps (make test and make demo do)")
endif()
add_library(miniz STATIC ${SORVANE_MINIZ_DIR}/miniz.c)
target_include_directories(miniz SYSTEM PUBLIC ${SORVANE_MINIZ_DIR})
# Only miniz's own names: no zlib-compatible aliases that could clash with a system zlib.
target_compile_definitions(miniz PUBLIC MINIZ_NO_ZLIB_COMPATIBLE_NAMES)
set_target_properties(miniz PROPERTIES C_STANDARD 99)
target_compile_options(miniz PRIVATE -w)
# Inflate and CRC-32 are where unpacking spends its time: built for speed even in the size-optimised
# stub (the cost in bytes is in docs/platform-notes.md).
target_compile_options(miniz PRIVATE $<$<CONFIG:MinSizeRel>:-O2>)
