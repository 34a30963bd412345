# Every Wine test of src/, listed with what it shares with other tests; CTest schedules by this list.
# A test file that is not listed here stops the configuration.
#   single_instance   starts the stub, or makes "HTMLUI" windows: the machine's one stub mutex and
#                     the one window class that a second stub looks for
#   report_collector  reads what the report collector recorded: the collector runs, and no other
#                     such test runs at the same time
#   http_server       talks to the loopback package server, which also mounts the tiny volume
#   tiny_volume       fills the tiny volume: two such tests at once would see each other's files
#   test_product      installs or removes the one test product
#   windows_temp      makes scratch folders in the Windows temporary folder (where an elevated run
#                     works; Wine runs every process elevated) outside the tests that hold
#                     single_instance, which the end-to-end tests' check for leftovers must not see
#   real_archives     extracts the archives that tests/make-real-archives makes with real archivers
#   window            makes a window or a message box: make test runs these first in a prefix made
#                     for them, in its first session (scripts/fresh-prefix-check)
sorvane_wine_test(app/crash_handler_win_test                   single_instance report_collector windows_temp)
sorvane_wine_test(app/logger_win_test                          single_instance report_collector)
sorvane_wine_test(app/privileges_win_test                      single_instance report_collector window)
sorvane_wine_test(app/quiet_install_win_test                   http_server test_product windows_temp)
sorvane_wine_test(app/quiet_run_win_test                       single_instance report_collector)
sorvane_wine_test(app/resources_win_test                       single_instance report_collector)
sorvane_wine_test(app/run_environment_win_test                 single_instance report_collector)
sorvane_wine_test(app/single_instance_win_test                 single_instance report_collector window)
sorvane_wine_test(app/startup_win_test                         single_instance report_collector windows_temp)
sorvane_wine_test(app/ui_run_win_test                          single_instance report_collector windows_temp window)
sorvane_wine_test(downloadmanagercore/download_engine_win_test http_server tiny_volume windows_temp)
sorvane_wine_test(downloadmanagercore/html_external_win_test   single_instance http_server windows_temp window)
sorvane_wine_test(downloadmanagercore/package_manifest_win_test http_server windows_temp)
sorvane_wine_test(htmlui/host_window_win_test                  single_instance window)
sorvane_wine_test(htmlui/mshtml_client_win_test                single_instance window)
sorvane_wine_test(htmlui/mshtml_external_win_test              single_instance)
sorvane_wine_test(htmlui/page_security_manager_win_test)
sorvane_wine_test(htmlui/script_callback_win_test              single_instance)
sorvane_wine_test(payload/packed_stub_win_test                 windows_temp)
sorvane_wine_test(payload/ui_payload_win_test                  windows_temp)
sorvane_wine_test(scripthost/script_engine_win_test)
sorvane_wine_test(scripthost/script_timers_win_test)
sorvane_wine_test(sorvane/disk_faults_win_test                 http_server tiny_volume windows_temp)
sorvane_wine_test(sorvane/extract_job_win_test                 http_server tiny_volume windows_temp)
sorvane_wine_test(sorvane/install_package_win_test             http_server test_product windows_temp window)
sorvane_wine_test(sorvane/installer_signature_win_test         http_server test_product windows_temp)
sorvane_wine_test(sorvane/sorvane_external_win_test            http_server windows_temp window)
sorvane_wine_test(sysenv/command_line_win_test)
sorvane_wine_test(sysenv/default_browser_win_test)
sorvane_wine_test(sysenv/environment_win_test)
sorvane_wine_test(sysenv/scratch_folder_win_test               windows_temp)
sorvane_wine_test(sysenv/shell_execute_win_test)
sorvane_wine_test(sysenv/shell_link_win_test)
sorvane_wine_test(sysenv/system_dll_win_test)
sorvane_wine_test(sysenv/temp_folders_win_test                 windows_temp)
sorvane_wine_test(sysenv/unique_handle_win_test)
sorvane_wine_test(sysenv/utf8_win_test)
sorvane_wine_test(telemetry/error_upload_win_test              report_collector windows_temp)
sorvane_wine_test(telemetry/machine_id_win_test                report_collector)
sorvane_wine_test(telemetry/report_transport_win_test          report_collector)
sorvane_wine_test(zip/background_writer_win_test                http_server tiny_volume)
sorvane_wine_test(zip/real_archives_win_test                   real_archives)
sorvane_wine_test(zip/unzip_win_test                           http_server tiny_volume)
sorvane_wine_test(zip/zip_writer_win_test                      http_server tiny_volume)
