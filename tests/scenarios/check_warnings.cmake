# check's warnings for what the driver takes without a word but an integrator did
# not mean, and check's exit status on files the other commands refuse.
# Included by CMakeLists.txt of this directory, with tovihost_test defined.
set(mistakes ${here}/mistakes)
set(plant_devices ${PROJECT_SOURCE_DIR}/examples/devices/plant.devices)

# Each mistake named with file and line; warnings alone leave the exit status 0.
tovihost_test(check_warnings EXIT_CODE 0 ARGUMENTS check --devices ${plant_devices} ${mistakes}/mistakes.ini
  EXPECT "\nwarning: [^\n]*mistakes.ini:15: section \\[pumpz\\] names no module of \\[modules\\]: the driver does not read its channels\n"
         "\nwarning: [^\n]*mistakes.ini:25: section \\[pumps\\] appears a second time: the driver reads only the first, line 12, and none of the lines after this one\n"
         "\nwarning: [^\n]*mistakes.ini:5: \\[tovi\\] holds \"debgu\", which the driver does not know \\(it reads log_file, debug, check_sum\\) and ignores: did you mean debug\\?\n"
         "\nwarning: [^\n]*mistakes.ini:9: module spare_pumps binds to device 4 \"do16 COM1 Address=4\", as module pumps \\(line 8\\) does: both drive one device\n"
         "\nwarning: [^\n]*mistakes.ini:10: display module panel: neither its device nor its sub-device text holds \"Address=\": its frames go out without an address"
         "\n5 warnings\n"
  REJECT "warning: [^\n]*module pumps binds" "warning: [^\n]*section \\[(spare_pumps|panel)\\]" "looks like UTF-8")
tovihost_test(check_warnings_strict EXIT_CODE 1 ARGUMENTS check --strict --devices ${plant_devices} ${mistakes}/mistakes.ini
  EXPECT "\n5 warnings: exit status 1 \\(--strict\\)\n")
# Without a device set, two modules with the same device texts are still one device.
tovihost_test(check_shared_device_text EXIT_CODE 1 ARGUMENTS check --devices none ${mistakes}/mistakes.ini
  EXPECT "\nwarning: [^\n]*mistakes.ini:9: module spare_pumps names the same device text \"COM1 Address=4\", as module pumps \\(line 8\\) does: both drive one device\n")
# A file saved as UTF-8 is named; a Windows-1250 file with Czech letters is not.
tovihost_test(check_utf8_file EXIT_CODE 0 ARGUMENTS check --devices ${plant_devices} ${mistakes}/utf8.ini
  EXPECT "\nwarning: [^\n]*utf8.ini:5: the file looks like UTF-8, but the driver reads it as Windows-1250: \"ventily_čerpadel\" is read as \"ventily_ÄŤerpadel\"; save the file as Windows-1250\n"
         "\n1 warning\n")
tovihost_test(check_cp1250_file EXIT_CODE 0 ARGUMENTS check --strict --devices ${plant_devices} ${mistakes}/cp1250.ini
  EXPECT "\n  ventily_čerpadel  device 2 " REJECT "warning")
# A clean file draws no warning, even with --strict.
tovihost_test(check_clean_strict EXIT_CODE 0 ARGUMENTS check --strict ${plant} REJECT "warning")

# Files that run, read and write refuse, check refuses alike: exit 2, one reason,
# never "configuration accepted", though the driver takes them.
tovihost_test(check_nul_byte EXIT_CODE 2 ARGUMENTS check --devices ${plant_devices} ${mistakes}/nul_byte.ini
  EXPECT "nul_byte.ini:6: holds a NUL byte: it is not a text file" REJECT "configuration accepted")
tovihost_test(check_utf16 EXIT_CODE 2 ARGUMENTS check --devices none ${bench}/utf16.ini
  EXPECT "utf16.ini:1: holds a NUL byte: it is UTF-16 text" REJECT "no section" "configuration accepted")
add_test(NAME emulator.tovihost_check_oversized
         COMMAND ${CMAKE_COMMAND} -DBIG_FILE=${out}/oversized_check.ini -DPROGRAM=$<TARGET_FILE:tovihost> "-DRUNNER=${runner}"
                 -DBIG_START=${mistakes}/cp1250.ini
                 "-DARGUMENTS=check@@--devices@@${plant_devices}@@${out}/oversized_check.ini" -DEXIT_CODE=2
                 "-DEXPECT=oversized_check.ini: cannot be read: it is larger than 32 MiB"
                 "-DREJECT=configuration accepted" -P ${here}/oversized_file.cmake)
set_tests_properties(emulator.tovihost_check_oversized PROPERTIES TIMEOUT 120)
# A refused file stays exit 1 when a channel map is asked for.
tovihost_test(check_refused_channels EXIT_CODE 1
  ARGUMENTS check --channels ${out}/refused_channels.csv ${PROJECT_SOURCE_DIR}/tests/emulator/data/duplicate_channel.ini
  EXPECT "no channel map written: the driver refused the configuration")
