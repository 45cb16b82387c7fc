# The page of tovihost inspect --html on a recorded run of the example plant with
# an injected fault.
#   MODE=self_contained: the page refers to nothing outside itself.
#   MODE=browser: headless Chromium (BROWSER) renders it: a timeline and a duration
#   chart for every device the plant binds, a chart for every channel the host
#   reads or writes, one failure mark for each time the fault fired, and no console
#   message. Without a browser the test says "browser test skipped".
#   MODE=markup: the page of a recording whose texts hold markup and entities,
#   rendered: every text shows as written.
#   -DPROGRAM= tovihost  -DRUNNER=  -DSOURCE= project directory  -DWORK= a directory of its own
cmake_minimum_required(VERSION 3.25)
string(REPLACE "@@" ";" runner "${RUNNER}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
if(NOT MODE STREQUAL "self_contained" AND NOT EXISTS "${BROWSER}")
  message("browser test skipped: no headless Chromium (chromium-headless-shell) found")
  return()
endif()
# The page as the browser's DOM, serialised, in ${out}.
function(render page out)
  execute_process(COMMAND "${BROWSER}" --headless --no-sandbox --disable-gpu --disable-background-networking
                          --disable-component-update --disable-sync --no-first-run --disable-extensions
                          --user-data-dir=${WORK}/profile --enable-logging=stderr --v=0 --window-size=1100,3000
                          --dump-dom "file://${page}"
                  RESULT_VARIABLE code OUTPUT_VARIABLE dom ERROR_VARIABLE log TIMEOUT 120)
  if(NOT code EQUAL 0 OR NOT dom MATCHES "</html>")
    message(FATAL_ERROR "the browser did not render the page (exit code ${code}):\n${log}")
  endif()
  if(log MATCHES "CONSOLE[^\n]*")
    message(FATAL_ERROR "the page logged to the console: ${CMAKE_MATCH_0}")
  endif()
  set(${out} "${dom}" PARENT_SCOPE)
endfunction()

# Texts of the recording that hold markup and entities show as they are: the
# browser's DOM holds them as text, which it serialises with &, < and > escaped.
if(MODE STREQUAL "markup")
  set(recording "${SOURCE}/tests/emulator/data/inspect/markup.recording")
  execute_process(COMMAND ${runner} ${PROGRAM} inspect --plain "${recording}" --html "${WORK}/page.html"
                  RESULT_VARIABLE code OUTPUT_VARIABLE report ERROR_VARIABLE errors)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "inspect --html failed (exit code ${code}):\n${report}${errors}")
  endif()
  render("${WORK}/page.html" dom)
  set(device "device 1 \"ai8&amp;amp;&lt;i&gt;x&lt;/i&gt; COM1 Address=1\"")
  set(status "    status 1001 \"a &lt; b &amp; c &amp;lt; \\\"d\\\"\": 1 (DRV_AIVoltageIn)\n")
  string(FIND "${dom}" "<h2>${device}</h2>" heading)
  string(FIND "${dom}" "\n${device}\n" in_report)
  string(FIND "${dom}" "\n${status}" status_line)
  string(FIND "${dom}" "<title>${device}: calls and failures</title>" chart_title)
  string(FIND "${dom}" "<td>${device}</td>" failure_cell)
  if(heading EQUAL -1 OR in_report EQUAL -1 OR status_line EQUAL -1 OR chart_title EQUAL -1 OR failure_cell EQUAL -1
     OR dom MATCHES "<i>")
    message(FATAL_ERROR "the texts did not render as text (heading ${heading}, report ${in_report}, status "
                        "${status_line}, chart title ${chart_title}, failure cell ${failure_cell}):\n${dom}")
  endif()
  message("rendered as text: the device text and the error text, in the heading, report, chart title and failures")
  return()
endif()

set(plant "${SOURCE}/examples/plant.ini")
execute_process(COMMAND ${runner} ${PROGRAM} run "${plant}" --cycles 9 --period 0 --plain --log-dir "${WORK}"
                        --record "${WORK}/run.recording" --write 200=@101 --write 320=true --write 800=1 --write 801=@100
                        "--fault=DRV_AIVoltageIn status=1001 module=boiler_temps channel=2 every=3 text=\"Input overrange\""
                RESULT_VARIABLE code OUTPUT_VARIABLE run ERROR_VARIABLE errors)
if(NOT code EQUAL 0 OR NOT run MATCHES "Input overrange\": fired ([0-9]+) times")
  message(FATAL_ERROR "the recorded run failed (exit code ${code}):\n${run}${errors}")
endif()
set(fired ${CMAKE_MATCH_1})
execute_process(COMMAND ${runner} ${PROGRAM} inspect --plain "${WORK}/run.recording" "${plant}" --html "${WORK}/page.html"
                RESULT_VARIABLE code OUTPUT_VARIABLE report ERROR_VARIABLE errors)
if(NOT code EQUAL 0 OR NOT EXISTS "${WORK}/page.html")
  message(FATAL_ERROR "inspect --html failed (exit code ${code}):\n${report}${errors}")
endif()
file(READ "${WORK}/page.html" page)

if(MODE STREQUAL "self_contained")
  # Anything a browser would fetch: links, sources, style imports and urls, any scheme.
  foreach(pattern "[hH][tT][tT][pP][sS]?:" "[fF][iI][lL][eE]:" "[sS][rR][cC] *=" "@[iI][mM][pP][oO][rR][tT]"
                  "[uU][rR][lL] *\\(" "<[sS][cC][rR][iI][pP][tT]" "<[lL][iI][nN][kK]" "<[iI][mM][gG]" "[hH][rR][eE][fF] *= *\"[^#]")
    if(page MATCHES "${pattern}")
      message(FATAL_ERROR "the page refers to something outside itself (${pattern}): ${CMAKE_MATCH_0}")
    endif()
  endforeach()
  string(LENGTH "${page}" size)
  message("page of ${size} bytes refers to nothing outside itself")
  # The bench run's recording replays like a plant's, and the replay records the same calls.
  execute_process(COMMAND ${runner} ${PROGRAM} replay "${WORK}/run.recording" "${plant}" --log-dir "${WORK}"
                          --write 200=@101 --write 320=true --write 800=1 --write 801=@100
                          --record "${WORK}/replayed.recording"
                  RESULT_VARIABLE code OUTPUT_VARIABLE replayed ERROR_VARIABLE errors)
  file(STRINGS "${WORK}/run.recording" recorded_calls REGEX "^[0-9]+\\+[0-9]+ [0-9]+ ")
  file(STRINGS "${WORK}/replayed.recording" replayed_calls REGEX "^[0-9]+\\+[0-9]+ [0-9]+ ")
  list(LENGTH recorded_calls recorded)
  list(LENGTH replayed_calls again)
  if(NOT code EQUAL 0 OR NOT replayed MATCHES "\nreproduced: ${recorded} calls, 0 divergences\n" OR
     NOT again EQUAL recorded)
    message(FATAL_ERROR "the recorded run did not replay as recorded (exit code ${code}, ${recorded} calls "
                        "recorded, ${again} recorded again):\n${replayed}${errors}")
  endif()
  message("recorded, replayed and recorded again: ${recorded} calls")
  return()
endif()

render("${WORK}/page.html" dom)
# What the browser built of the page: the charts per device and channel, and the failure marks.
foreach(device 1 2 3 4 5 10 11 21)
  foreach(kind timeline durations)
    string(REGEX MATCHALL "<svg class=\"chart ${kind}\" data-device=\"${device}\"" found "${dom}")
    list(LENGTH found count)
    if(NOT count EQUAL 1)
      message(FATAL_ERROR "device ${device}: ${count} ${kind} charts rendered, expected 1")
    endif()
  endforeach()
endforeach()
string(REGEX MATCHALL "<svg class=\"chart channel\" data-device=\"[0-9]+\" data-channel=\"[0-9]+\"" charts "${dom}")
list(TRANSFORM charts REPLACE ".*data-channel=\"([0-9]+)\"" "\\1")
set(channels 100 101 102 108 200 201 300 301 310 320 321 400 417 504 600 602 610 700 701 704 705 706 707 800 801)
if(NOT charts STREQUAL channels)
  message(FATAL_ERROR "channel charts rendered: ${charts}\nexpected: ${channels}")
endif()
string(REGEX MATCHALL "<line class=\"failure\" data-device=\"1\" data-status=\"1001\"" marks "${dom}")
list(LENGTH marks mark_count)
string(REGEX MATCHALL "class=\"failure\"" all_marks "${dom}")
list(LENGTH all_marks all_count)
if(NOT mark_count EQUAL fired OR NOT all_count EQUAL fired)
  message(FATAL_ERROR "${all_count} failure marks rendered (${mark_count} on device 1), the fault fired ${fired} times")
endif()
message("rendered: 8 devices, ${mark_count} failure marks for ${fired} faults, charts of channels ${charts}")
