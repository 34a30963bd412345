# Checks of the pages and their staging, in the native build (labels "native;ui"). They need Node.js
# and the npm packages of package-lock.json (scripts/install-deps); nothing here is built.
#   ui.eslint              the scripts and the pages' inline scripts are ES3 and call the script
#                          object only in the ways it accepts
#   ui.external_test       the workflow's calls of the script object, success and every failure
#   ui.stage_payload_test  scripts/stage-payload makes exactly the payload's entries
#   ui.pages_test          the staged pages in headless Chromium with a scripted script object;
#                          screenshots of every state go to build/screenshots/, and axe-core
#                          (npm) checks every state against WCAG 2.1 AA. Skipped, saying why,
#                          where Debian's chromium is not installed.
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

find_program(SORVANE_CHROMIUM chromium)
if(SORVANE_CHROMIUM)
  add_test(NAME ui.pages_test COMMAND ${SORVANE_NODE} --test ${ui_dir}/checks/pages_test.js)
  set_tests_properties(ui.pages_test PROPERTIES ENVIRONMENT "SORVANE_CHROMIUM=${SORVANE_CHROMIUM}")
else()
  add_test(NAME ui.pages_test COMMAND ${SORVANE_NODE} -e
    "console.log('chromium not found: the pages are not checked (run scripts/install-deps)'); process.exit(77)")
  set_tests_properties(ui.pages_test PROPERTIES SKIP_RETURN_CODE 77)
endif()
# About 30 s on two busy cores; most of it is Chromium starting its pages.
set_tests_properties(ui.pages_test PROPERTIES LABELS "native;ui" TIMEOUT 300)
