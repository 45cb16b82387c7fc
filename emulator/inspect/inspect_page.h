// tovihost inspect --html: one self-contained page (inline SVG and CSS, nothing
// fetched) with per device a timeline of calls and failures and the call
// durations over time, per channel of the plant its values or writes over time,
// and the failures with their recording lines. Every chart is aggregated into a
// fixed number of time buckets, so the page's size does not grow with the
// recording's length.
//
// Charts are <svg class="chart ..."> with data-device (the device number, or
// "port N" for a serial port) and data-channel (the host's channel, with a plant);
// each failure drawn is one element of class "failure".
#pragma once

#include <string>

#include "emulator/inspect/inspect_report.h"

namespace tovihost {

std::string InspectPage(const InspectSource& source, const RecordingSummary& summary, const Plant* plant);
// Writes the page; false with "PATH: cannot be written: REASON".
bool WriteInspectPage(const std::string& path, const InspectSource& source, const RecordingSummary& summary,
                      const Plant* plant, std::string& error);

}  // namespace tovihost
