# Checks of the pages and their staging, in the native build (labels "native;ui"). They need Node.js
# and the npm packages of package-lock.json (scripts/install-deps); nothing here is built.
#   ui.eslint              the scripts and the pages' inline scripts are ES3 and call the script
#                          object only in the ways it accepts
#   ui.external_test       the workflow's calls of the script object, success and every failure
#   ui.stage_payload_test  scripts/stage-payload makes exactly the payload's entries
find_program(SORVANE_NODE node)
if(NOT SORVANE_NODE)
  message(WARNING "node not found: the ui checks are not registered (run scripts/install-deps)")
  return()
endif()

set(ui_dir ${SORVANE_ROOT}/ui)
add_test(NAME ui.eslint
  COMMAND ${SORVANE_NODE} ${SORVANE_ROOT}/node_modules/eslint/bin/eslint.js --max-warnings 0 .
  WORKING_DIRECTORY ${ui_dir})
add_test(NAME ui.external_test COMMAND ${SORVANE_NODE} --test ${ui_dir}/checks/external_test.js)
add_test(NAME ui.stage_payload_test COMMAND ${SORVANE_NODE} --test ${ui_dir}/checks/stage_payload_test.js)
set_tests_properties(ui.eslint ui.external_test ui.stage_payload_test PROPERTIES LABELS "native;ui" TIMEOUT 300)
