# A copy of bin/ carries its demo, and the help points where the options are.
# Included by CMakeLists.txt of this directory, with tovihost_test defined.

# The build puts the example plant beside the programs; a copy of bin/ taken
# elsewhere runs its demo from there and its hints name that copy.
set(demo_kit_files $<TARGET_FILE:tovihost> $<TARGET_FILE:tovi> $<TARGET_FILE:ADSAPI32> $<TARGET_FILE:ADSCOMM>
                   $<TARGET_FILE:qs_dapi> $<TARGET_FILE_DIR:tovi>/tovi.ini $<TARGET_FILE_DIR:tovihost>/examples)
string(REPLACE ";" "@@" demo_kit_files "${demo_kit_files}")
add_test(NAME emulator.tovihost_kit_demo
         COMMAND ${CMAKE_COMMAND} "-DFILES=${demo_kit_files}" -DKIT_DIR=${out}/demo_kit
                 -DPROGRAM=${out}/demo_kit/$<TARGET_FILE_NAME:tovihost> "-DRUNNER=${runner}" -DEXIT_CODE=0
                 "-DEXPECT=runs the shipped example plant [^\n]*demo_kit[/\\\\]examples[/\\\\]plant.ini@@cycle 5 at@@next: tovihost check [^\n]*demo_kit[/\\\\]examples[/\\\\]plant.ini[^\n]*tovihost scenario [^\n]*demo_kit[/\\\\]examples[/\\\\]scenarios[/\\\\]boiler.scenario"
                 "-DREJECT=is not here" -P ${here}/kit_copy.cmake)
set_tests_properties(emulator.tovihost_kit_demo PROPERTIES TIMEOUT 120)

# help knows itself; usage errors point to the command's own help.
tovihost_test(help_help EXIT_CODE 0 ARGUMENTS help help EXPECT "^usage: tovihost help \\[COMMAND\\]\n")
tovihost_test(help_too_many EXIT_CODE 2 ARGUMENTS help run write EXPECT "^usage: tovihost help \\[COMMAND\\]\n")
tovihost_test(replay_usage EXIT_CODE 2 ARGUMENTS replay only_one
  EXPECT "\\(tovihost help replay explains it\\)" REJECT "tovihost --help")
