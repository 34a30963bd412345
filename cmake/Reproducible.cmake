# The shipped stub comes out byte for byte the same from the same commit, whoever builds it, in
# whichever folder, at whatever time: make verify-release rebuilds a release and compares.
#
# Folders: no path of the source or build folder reaches the program (file names in macros, debug
# data). Debug builds keep their real paths, so that a debugger finds the sources.
# When two maps match, GCC takes the last one: the build folder may lie inside the source folder.
add_compile_options($<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${SORVANE_ROOT}/=>
                    $<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/>)

# Time: the PE header's TimeDateStamp is the time of the commit being built (the release targets
# pass it from git), never the clock of the build. Crash-dump tools match a module by its timestamp
# and size, so each release keeps a time of its own. Without a commit time the field stays 0.
set(SORVANE_SOURCE_DATE_EPOCH "" CACHE STRING "Seconds since 1970 for the PE timestamp (the commit's time)")
if(SORVANE_SOURCE_DATE_EPOCH STREQUAL "")
  add_link_options(-Wl,--no-insert-timestamp)
elseif(SORVANE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  # GNU ld stamps a PE file with SOURCE_DATE_EPOCH when its environment has it. Set on the link
  # command itself, so that a new commit time relinks even when no source changed.
  foreach(language C CXX)
    set(CMAKE_${language}_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${SORVANE_SOURCE_DATE_EPOCH})
  endforeach()
else()
  message(FATAL_ERROR "SORVANE_SOURCE_DATE_EPOCH must be a number of seconds, not '${SORVANE_SOURCE_DATE_EPOCH}'")
endif()
