# Records a run of the example plant through the recorder in front of the
# simulated device manager, with injected faults, then replays the recording with
# no faults and checks that the driver saw the same: every error line, every
# channel's status and value, every device write (the replay compares each one).
#   -DPROGRAM= tovihost  -DRUNNER= what starts it (@@-separated, may be empty)
#   -DBIN= the build's bin/  -DDRIVER= the driver library  -DRECORDER_DIR= bin/recorder
#   -DSOURCE= project directory  -DWORK= a directory of this test's own
#   -DSEPARATOR= the path separator the recorder's ini uses
#   -DSERIAL_LIBRARY= (optional) the serial library the recorder forwards to, instead
#    of the simulated one in BIN; -DINNER_CALLS=N: the recording must hold N notes of
#    calls made from inside the vendor libraries
cmake_minimum_required(VERSION 3.25)
string(REPLACE "@@" ";" runner "${RUNNER}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/plant")
# The plant's driver directory: the driver, its tovi.ini, the two recorder libraries
# and their ini naming the simulated libraries in bin/.
file(GLOB recorder_libraries "${RECORDER_DIR}/*ADSAPI32*" "${RECORDER_DIR}/*ADSCOMM*")
file(COPY "${DRIVER}" "${BIN}/tovi.ini" ${recorder_libraries} DESTINATION "${WORK}/plant")
file(RELATIVE_PATH up "${WORK}/plant" "${BIN}")
string(REGEX REPLACE "/$" "" up "${up}")
string(REPLACE "/" "${SEPARATOR}" up "${up}")
file(GLOB device_library RELATIVE "${BIN}" "${BIN}/*ADSAPI32.*")
file(GLOB serial_library RELATIVE "${BIN}" "${BIN}/*ADSCOMM.*")
list(FILTER device_library EXCLUDE REGEX "\\.a$")
list(FILTER serial_library EXCLUDE REGEX "\\.a$")
set(serial_library "${up}${SEPARATOR}${serial_library}")
if(DEFINED SERIAL_LIBRARY)
  file(RELATIVE_PATH serial_library "${WORK}/plant" "${SERIAL_LIBRARY}")
  string(REPLACE "/" "${SEPARATOR}" serial_library "${serial_library}")
endif()
file(WRITE "${WORK}/plant/recorder.ini"
     "[recorder]\ndevice_library=${up}${SEPARATOR}${device_library}\nserial_library=${serial_library}\n"
     "file=plant.recording\n")
get_filename_component(driver_name "${DRIVER}" NAME)

set(plant "${SOURCE}/examples/plant.ini")
# Outputs every cycle: the valve follows the return temperature, the panel shows
# the flow temperature; port, bit and gate writes in the first cycle.
set(writes --write 200=@101 --write 320=true --write 400=0x5A --write 600=1 --write 800=1 --write 801=@100)

function(run_tovihost output)
  execute_process(COMMAND ${runner} ${PROGRAM} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(WRITE "${WORK}/${output}.out" "${out}${err}")
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "tovihost ${ARGN}\nexit code ${code}:\n${out}${err}")
  endif()
  set(${output} "${out}" PARENT_SCOPE)
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/repeated_read.cmake)
# A recording whose pass read a device twice depends on timing (repeated_read.cmake).
set(recording "${WORK}/plant/plant.recording")
record_without_repeated_read("${recording}" --driver "${WORK}/plant/${driver_name}" run "${plant}"
    --devices "${SOURCE}/examples/devices/plant.devices" --cycles 8 --period 0 --plain --log-dir "${WORK}"
    --csv "${WORK}/recorded.csv" ${writes}
    "--fault=DRV_AIVoltageIn status=1001 module=boiler_temps channel=2 every=3 text=\"Input overrange\""
    "--fault=DRV_DioWritePortByte status=107 module=pumps once"
    "--fault=COMRead status=114 module=panel every=4")
file(STRINGS "${recording}" call_lines REGEX "^[0-9]")
list(LENGTH call_lines recorded_calls)
file(STRINGS "${recording}" inner_calls REGEX "^# inner call")
list(LENGTH inner_calls inner_count)
if(DEFINED INNER_CALLS AND NOT inner_count EQUAL INNER_CALLS)
  message(FATAL_ERROR "${inner_count} notes of inner calls, not ${INNER_CALLS}: ${inner_calls}")
endif()
foreach(expected "DRV_AIVoltageIn [^\n]* -> 1001" "DRV_DioWritePortByte [^\n]* -> 107" "COMRead [^\n]* -> 114"
                 "DRV_GetErrorMessage code=1001 -> 0 text=\"Input overrange\"")
  if(NOT call_lines MATCHES "${expected}")
    message(FATAL_ERROR "the recording holds no call like: ${expected}")
  endif()
endforeach()

run_tovihost(replayed replay "${recording}" "${plant}" --log-dir "${WORK}" --csv "${WORK}/replayed.csv" ${writes})
if(NOT replayed MATCHES "\nreproduced: ${recorded_calls} calls, 0 divergences\n")
  message(FATAL_ERROR "the replay did not make the ${recorded_calls} recorded calls:\n${replayed}")
endif()

# Without the host's --write options: the writes come from the recorded output
# calls (the panel's selection and value frames of one cycle among them).
run_tovihost(derived replay "${recording}" "${plant}" --log-dir "${WORK}")
if(NOT derived MATCHES "\nreproduced: ${recorded_calls} calls, 0 divergences\n")
  message(FATAL_ERROR "the replay without --write did not make the ${recorded_calls} recorded calls:\n${derived}")
endif()

# A replayed call counts for its module's device, as a simulated one does.
if(NOT replayed MATCHES "\n  boiler_temps +32 +0 +2 +32 " OR NOT replayed MATCHES "\n  valves +0 +8 +0 +8 ")
  message(FATAL_ERROR "the statistics do not count the replayed vendor calls per module:\n${replayed}")
endif()

# What the host saw, without the times: cycle, channel, module, function,
# direction, value, status of every read and write; and each change of the error line.
foreach(run recorded replayed)
  file(STRINGS "${WORK}/${run}.csv" rows)
  list(TRANSFORM rows REPLACE "^([^,]*),[^,]*," "\\1,")
  set(${run}_rows "${rows}")
  string(REGEX MATCHALL "error line: [^\n]*" ${run}_errors "${${run}}")
endforeach()
# A counter start derived from the recording writes the gate mode channel with it,
# which this host left at its default: the replay's one extra write row.
list(FILTER replayed_rows EXCLUDE REGEX "^1,601,.*cnt_event_start 0 gate,")
if(NOT recorded_rows STREQUAL replayed_rows)
  message(FATAL_ERROR "statuses or values differ:\nrecorded: ${recorded_rows}\nreplayed: ${replayed_rows}")
endif()
if(NOT recorded_errors STREQUAL replayed_errors OR NOT recorded_errors MATCHES "Input overrange")
  message(FATAL_ERROR "error lines differ:\nrecorded: ${recorded_errors}\nreplayed: ${replayed_errors}")
endif()
# A changed output value diverges: the port write of channel 400 names the call.
string(REPLACE "400=0x5A" "400=0x5B" changed "${writes}")
execute_process(COMMAND ${runner} ${PROGRAM} replay "${recording}" "${plant}" --log-dir "${WORK}" ${changed}
                RESULT_VARIABLE code OUTPUT_VARIABLE diverged ERROR_VARIABLE err)
set(port_write "DRV_DioWritePortByte dev=4 port=0: expected dev=4 port=0 mask=65535 state=90 \\([^)]*plant.recording:[0-9]+\\), got dev=4 port=0 mask=65535 state=91")
if(NOT code EQUAL 1 OR NOT diverged MATCHES "\nfirst divergence: call [0-9]+: ${port_write}\nreplay: [0-9]+ calls, 1 divergences\n$")
  message(FATAL_ERROR "a changed write must diverge (exit code ${code}):\n${diverged}${err}")
endif()


# A parameter file without the pumps module: the recorded write of its port is the
# first divergence, named with its recording line.
file(READ "${plant}" plant_text)
string(REGEX REPLACE "\npumps[^\n]*" "" plant_text "${plant_text}")
string(REGEX REPLACE "\n\\[pumps\\][^[]*" "\n" plant_text "${plant_text}")
file(WRITE "${WORK}/without_pumps.ini" "${plant_text}")
file(STRINGS "${recording}" all_lines)
set(pump_line 0)
set(index 0)
foreach(line IN LISTS all_lines)
  math(EXPR index "${index} + 1")
  if(line MATCHES " DRV_DioWritePortByte handle=[0-9]+ dev=4 port=0 mask=65535 state=90 ")
    set(pump_line ${index})
    break()
  endif()
endforeach()
set(other_writes --write 200=@101 --write 320=true --write 600=1 --write 800=1 --write 801=@100)
execute_process(COMMAND ${runner} ${PROGRAM} replay "${recording}" "${WORK}/without_pumps.ini" --log-dir "${WORK}"
                        ${other_writes}
                RESULT_VARIABLE code OUTPUT_VARIABLE without ERROR_VARIABLE err)
set(pump_write "${recording}:${pump_line}: recorded DRV_DioWritePortByte dev=4 port=0 mask=65535 state=90, not made")
string(FIND "${without}" "\nfirst divergence: ${pump_write}\n" at)
if(NOT code EQUAL 1 OR pump_line EQUAL 0 OR at EQUAL -1
   OR NOT without MATCHES "\nrecorded calls: [0-9]+ made, 1 missing, [0-9]+ not reached; calls not in the recording: 0\n")
  message(FATAL_ERROR "the missing module's write must be the first divergence (exit code ${code}):\n${without}${err}")
endif()

list(LENGTH recorded_rows rows)
message("round trip: ${recorded_calls} calls recorded and replayed, ${rows} CSV rows and the error lines identical")
