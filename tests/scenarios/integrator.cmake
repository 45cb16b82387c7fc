# What an integrator meets on a bench of their own: files that cannot be read, a
# copy of the build's programs taken elsewhere, the commissioning report of check,
# reading, fault counts, help, and what run and write say about their output.
# Included by CMakeLists.txt of this directory, with tovihost_test defined.
set(bench ${here}/integrator)

# Files that cannot be read: each one named with its reason, exit 2, nothing runs.
tovihost_test(file_directory EXIT_CODE 2 ARGUMENTS run ${bench}/devices --cycles 1
  EXPECT "tovihost run: [^\n]*integrator/devices: cannot be read: it is a directory")
tovihost_test(devices_directory EXIT_CODE 2 ARGUMENTS check --devices ${bench} ${plant}
  EXPECT "device set [^\n]*integrator: cannot be read: it is a directory")
tovihost_test(scenario_plant_directory EXIT_CODE 2 ARGUMENTS scenario ${bench}/plant_directory.scenario
  EXPECT "plant_directory.scenario:2: error: [^\n]*devices: cannot be read: it is a directory")
tovihost_test(utf16_plant EXIT_CODE 2 ARGUMENTS write ${bench}/utf16.ini 200=1
  EXPECT "utf16.ini:1: holds a NUL byte: it is UTF-16 text")
tovihost_test(utf16_scenario EXIT_CODE 2 ARGUMENTS scenario ${bench}/utf16.ini
  EXPECT "utf16.ini:1: holds a NUL byte: it is UTF-16 text")
add_test(NAME emulator.tovihost_oversized_plant
         COMMAND ${CMAKE_COMMAND} -DBIG_FILE=${out}/oversized.ini -DPROGRAM=$<TARGET_FILE:tovihost> "-DRUNNER=${runner}"
                 "-DARGUMENTS=run@@${out}/oversized.ini@@--cycles@@1" -DEXIT_CODE=2
                 "-DEXPECT=oversized.ini: cannot be read: it is larger than 32 MiB" -P ${here}/oversized_file.cmake)
set_tests_properties(emulator.tovihost_oversized_plant PROPERTIES TIMEOUT 120)
if(NOT WIN32)
  tovihost_test(endless_devices EXIT_CODE 2 ARGUMENTS check --devices /dev/zero ${plant}
    EXPECT "/dev/zero: cannot be read: it is not a regular file")
endif()

# Windows-1250 names appear as UTF-8, and columns stay aligned around them.
tovihost_test(cp1250_names EXIT_CODE 0 ARGUMENTS run ${bench}/bench.ini --cycles 1 --period 0 --plain
  EXPECT "100  kotelna_č +ai 0 " "kotelna_č +[0-9]+ +[0-9]+ +0 ")
tovihost_test(control_byte_name EXIT_CODE 1 ARGUMENTS check --devices none ${bench}/control.ini
  EXPECT "no installed device of module p\\\\x01name has" "\n  p\\\\x01name  ai8   COM1 Address=1  -\n")
tovihost_test(cp1250_check_columns EXIT_CODE 0 ARGUMENTS check ${bench}/bench.ini
  EXPECT "\n  name       type  device          sub-device\n  kotelna_č  ai8   COM1 Address=1  -\n")

# A copy of the build's programs works on its own: emulator, driver and simulator
# find each other beside themselves.
set(kit_files $<TARGET_FILE:tovihost> $<TARGET_FILE:tovi> $<TARGET_FILE:ADSAPI32> $<TARGET_FILE:ADSCOMM>
              $<TARGET_FILE:qs_dapi> $<TARGET_FILE_DIR:tovi>/tovi.ini)
string(REPLACE ";" "@@" kit_files "${kit_files}")
add_test(NAME emulator.tovihost_kit_copy
         COMMAND ${CMAKE_COMMAND} "-DFILES=${kit_files}" -DKIT_DIR=${out}/kit
                 -DPROGRAM=${out}/kit/$<TARGET_FILE_NAME:tovihost> "-DRUNNER=${runner}"
                 "-DARGUMENTS=check@@${plant}" -DEXIT_CODE=0
                 "-DEXPECT=configuration accepted@@panel +device 20 \"COM3 bus\""
                 "-DREJECT=not the simulated one" -P ${here}/kit_copy.cmake)
set_tests_properties(emulator.tovihost_kit_copy PROPERTIES TIMEOUT 120)
if(NOT CMAKE_CROSSCOMPILING)
  # A driver beside a device manager of its own binds that one: said plainly.
  set(driver_files $<TARGET_FILE:tovi> $<TARGET_FILE:ADSAPI32> $<TARGET_FILE:ADSCOMM> $<TARGET_FILE_DIR:tovi>/tovi.ini)
  string(REPLACE ";" "@@" driver_files "${driver_files}")
  add_test(NAME emulator.tovihost_other_device_manager
           COMMAND ${CMAKE_COMMAND} "-DFILES=${driver_files}" -DKIT_DIR=${out}/other_driver
                   -DPROGRAM=$<TARGET_FILE:tovihost>
                   "-DARGUMENTS=--driver@@${out}/other_driver/$<TARGET_FILE_NAME:tovi>@@read@@${plant}@@100"
                   -DEXIT_CODE=1
                   "-DEXPECT=warning: the driver binds its modules through the device manager beside it \\([^\n]*other_driver[^\n]*\\), not the simulated one tovihost configures"
                   -P ${here}/kit_copy.cmake)
  set_tests_properties(emulator.tovihost_other_device_manager PROPERTIES TIMEOUT 120)
endif()

# check as the commissioning report.
tovihost_test(check_report EXIT_CODE 0
  ARGUMENTS check ${bench}/bench.ini --log-dir ${out} --channels ${out}/bench_channels.csv
  EXPECT "\n  debug +off +\\(line 5: debug=maybe\\)\n" "\n  check_sum +on +\\(line 6: check_sum=on\\)\n"
         "warning: [^\n]*bench.ini:5: debug=maybe is not a boolean the driver knows"
         "error log +[^\n]*bench.log\n +not written \\(debug is off\\); can be written"
         "kotelna_č  device 10 \"ai8 COM1 Address=10\", address 01\n"
         "warning: module kotelna_č: the device text \"COM1 Address=1\" is held by 2 listed devices \\(1 \"ai8 COM1 Address=1\", 10 \"ai8 COM1 Address=10\"\\); the driver takes the last, device 10"
  CHECK ${CMAKE_COMMAND} -E compare_files --ignore-eol ${out}/bench_channels.csv ${bench}/bench_channels.csv)
tovihost_test(check_display_binding EXIT_CODE 0 ARGUMENTS check ${plant}
  EXPECT "flow +device 10 \"cnt2 COM2 Address=10 Dec\", address 0A\n"
         "panel +device 20 \"COM3 bus\", sub-device 21 \"disp6 panel Address=7\", address 07, display on serial port 3\n")

# read: values, or the status and the error line.
tovihost_test(read EXIT_CODE 0
  ARGUMENTS read ${plant} 108 102 --fault "DRV_AIVoltageIn status=1001 module=boiler_temps channel=2 text=\"Input overrange\""
  EXPECT "\n  108 boiler_temps cjc 8 = 0.235\n" "\n  102 boiler_temps ai 2: ERROR \\(status 2\\)\n"
         "\nerror line: Čtení z kanálu č. 102 : Input overrange\n")
tovihost_test(read_input_only EXIT_CODE 2 ARGUMENTS read ${plant} 200 EXPECT "200: channel 200 \\(ao 0\\) is written, not read")

# Injected faults are counted; one that never fired is pointed out.
tovihost_test(run_fault_counts EXIT_CODE 0
  ARGUMENTS run ${plant} --cycles 3 --period 0
            --fault "DRV_AIVoltageIn status=1001 module=boiler_temps channel=2 every=2"
            --fault "DRV_AIVoltageIn status=1001 module=boiler_temps channel=102"
  EXPECT "\n  DRV_AIVoltageIn status=1001 module=boiler_temps channel=2 every=2: fired 1 time\n"
         "\n  DRV_AIVoltageIn status=1001 module=boiler_temps channel=102: fired 0 times\n"
         "warning: the fault DRV_AIVoltageIn status=1001 module=boiler_temps channel=102 never fired"
         "channel= is the device's channel")
tovihost_test(scenario_fault_counts EXIT_CODE 0 ARGUMENTS scenario ${bench}/faults.scenario
  EXPECT "faults.scenario:5: fault DRV_AIVoltageIn status=1001 module=boiler_temps channel=2 text=\"Input overrange\": fired 2 times"
         "warning: the fault [^\n]*faults.scenario:6: fault [^\n]*channel=102 never fired")

# Each command's own help.
tovihost_test(help_run EXIT_CODE 0 ARGUMENTS help run
  EXPECT "^usage: tovihost run " "--csv FILE" "channel= is the device's channel" REJECT "usage: tovihost check")
tovihost_test(help_scenario EXIT_CODE 0 ARGUMENTS scenario --help
  EXPECT "^usage: tovihost scenario " "\nstatements" "expect SUBJECT = VALUE" "\nsubjects:" "display MODULE")
tovihost_test(help_unknown EXIT_CODE 2 ARGUMENTS help frobnicate EXPECT "tovihost help: no command frobnicate")

# The CSV gives a failed read no value; trace lines carry their time.
tovihost_test(run_csv_failed_read EXIT_CODE 0
  ARGUMENTS run ${plant} --cycles 2 --period 0 --csv ${out}/failed.csv --trace
            --fault "DRV_AIVoltageIn status=1001 module=boiler_temps channel=2"
  OUTPUT_COPY ${out}/failed_output.txt
  CHECK $<TARGET_FILE:run_output_check> ${out}/failed.csv ${out}/failed_output.txt 2 14 102
  EXPECT "\n +[0-9]+\\.[0-9]+ ms  #[0-9]+ DRV_AIVoltageIn ")

# At the end of run: where the error log went and how many lines it gained.
tovihost_test(run_error_log EXIT_CODE 0
  ARGUMENTS run ${bench}/logged.ini --cycles 2 --period 0 --log-dir ${out}
            --fault "DRV_AIVoltageIn status=1001 device=10 channel=1 once"
  EXPECT "\nerror log: [^\n]*logged.log, 1 line added\n")
tovihost_test(run_error_log_off EXIT_CODE 0 ARGUMENTS run ${plant} --cycles 1 --period 0
  EXPECT "\nerror log: not written \\(debug is off in the \\[tovi\\] section of [^\n]*plant.ini\\)\n")

# A value the device cannot hold as given goes as the driver sends it, with a warning.
tovihost_test(write_unfit_values EXIT_CODE 0 ARGUMENTS write ${plant} 400=300 800=1.5 801=nan
  EXPECT "warning: channel 400 \\(do_byte 0\\) = 300: [^\n]*the port receives 0x2C \\(44\\)"
         "warning: channel 800 \\(display_select\\) = 1.5: [^\n]*the device receives 1\n"
         "warning: channel 801 \\(display_data\\) = nan: [^\n]*the display receives 0\n"
         "400 pumps do_byte 0 = 300: ok\n +device: port 0 = 0x2C")

# The live table on a narrow, short terminal: columns and rows cut, the title and
# the error line kept.
find_program(script_program script)
if(script_program AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME emulator.tovihost_live_table_fits
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=${script_program} -DEXIT_CODE=0
                   "-DARGUMENTS=-qec@@stty cols 60 rows 12 && '$<TARGET_FILE:tovihost>' run '${plant}' --cycles 2 --period 0 --fault 'DRV_AIVoltageIn status=1001 module=boiler_temps channel=2'@@/dev/null"
                   "-DEXPECT=driver window: Ovladač pro moduly@@error line: +Čtení z kanálu č. 102@@channel  module +value +status@@more channels: a taller window"
                   "-DREJECT=since good@@function"
                   -P ${here}/expect_run.cmake)
  set_tests_properties(emulator.tovihost_live_table_fits PROPERTIES TIMEOUT 120)
endif()
