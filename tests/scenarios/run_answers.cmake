# What run shows and how it ends: a display's calls in the trace and the
# statistics, columns that fit long module names, copies of an input, an error log
# that cannot be written, and the exit status of failed transfers.
# Included by CMakeLists.txt of this directory, with tovihost_test defined.

# A display without an address: its serial calls name no device, yet belong to it.
tovihost_test(run_trace_unaddressed_display EXIT_CODE 1
  ARGUMENTS run ${mistakes}/mistakes.ini --devices ${plant_devices} --cycles 1 --period 0 --trace=panel --write 801=4
  EXPECT "#[0-9]+ COMWrite [^\n]*port=3 [^\n]*data=\"\\$9\\+4.0000\\\\r\"" "#[0-9]+ COMRead [^\n]*port=3 "
         "\n  panel +0 +1 +1 +[1-9][0-9]* +[0-9]")
# A module name longer than the column pushes the columns out, in every table.
tovihost_test(run_long_module_name EXIT_CODE 0
  ARGUMENTS run ${mistakes}/cp1250.ini --devices ${plant_devices} --cycles 1 --period 0 --plain --write 200=1.5
  EXPECT "\n +200  ventily_čerpadel  ao 0 +write +1.5 +ok\n"
         "\ndevices now hold:\n +200  ventily_čerpadel  ao 0 +analogue output 0 = 1.5"
         "\n  module +reads +writes" "\n  ventily_čerpadel +0 +1 +0 ")
# A copy of a real into a boolean channel is warned of; real into real is not.
tovihost_test(run_copy_real_to_boolean EXIT_CODE 0
  ARGUMENTS run ${plant} --cycles 1 --period 0 --plain --write 320=@100 --write 801=@100
  EXPECT "warning: --write 320=@100: channel 100 \\(ai 0\\) holds a real, channel 320 \\(do_bit 1.0\\) takes a boolean: it receives true for every value but 0"
  REJECT "warning: --write 801")
# A cycle whose read of the source failed writes nothing: two cycles, one write.
tovihost_test(run_copy_skips_failed_read EXIT_CODE 0
  ARGUMENTS run ${plant} --cycles 2 --period 0 --plain --write 801=@100
            --fault "DRV_AIVoltageIn status=1001 module=boiler_temps channel=0 once"
  EXPECT "\n  panel +0 +1 +0 ")
# An error log that cannot be written is said at the start and at the end.
tovihost_test(run_log_not_writable EXIT_CODE 0
  ARGUMENTS run ${bench}/logged.ini --cycles 1 --period 0 --plain --log-dir ${here}/no_dir
  EXPECT "warning: the error log [^\n]*no_dir[/\\\\]logged.log cannot be written: no directory [^\n]*no_dir: the driver's device errors are lost\n"
         "\nerror log: [^\n]*no_dir[/\\\\]logged.log cannot be written \\(no directory [^\n]*no_dir\\): no lines added\n"
  REJECT "[0-9] lines? added")

# Exit status: 1 when a read or write failed that no --fault asked for.
tovihost_test(run_failed_write EXIT_CODE 1 ARGUMENTS run ${plant} --cycles 1 --period 0 --plain --write 201=50
  EXPECT "201 +valves +ao 1 +write +50 +ERROR"
         "\nfailed transfers: 1 that no --fault asked for: exit status 1\n")
tovihost_test(run_asked_failure EXIT_CODE 0 ARGUMENTS run ${plant} --cycles 1 --period 0 --plain
            --fault "DRV_AIVoltageIn status=1001 module=boiler_temps channel=2"
  EXPECT "102 +boiler_temps +ai 2 +read +- +ERROR" REJECT "failed transfers")
tovihost_test(run_usage EXIT_CODE 2 ARGUMENTS run
  EXPECT "\\(tovihost help run lists the options\\)" REJECT "tovihost --help")
# read follows the same rule.
tovihost_test(read_unasked_failure EXIT_CODE 1
  ARGUMENTS read --devices ${plant_devices} ${mistakes}/wrong_device.ini 100
  EXPECT "\n  100 temps ai 0: ERROR \\(status 2\\)\n")
tovihost_test(read_asked_failure EXIT_CODE 0
  ARGUMENTS read ${plant} 108 102 --fault "DRV_AIVoltageIn status=1001 module=boiler_temps channel=2"
  EXPECT "\n  102 boiler_temps ai 2: ERROR \\(status 2\\)\n")
