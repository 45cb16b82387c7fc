// The recording format: a text file, one vendor call a line, written by the
// recorder libraries and read back by the replay. Layout (also in README.md,
// "Recording a plant"):
//
//   tovi-recording 2
//   started 2026-12-08T21:40:00Z
//   device-library "/opt/vendor/libADSAPI32.so"
//   serial-library "/opt/vendor/libADSCOMM.so"
//   1520+38 1 DRV_AIVoltageIn handle=65537 dev=1 channel=0 gain=0 trigger=0 -> 0 voltage=5.25
//
// A call line: microseconds since the start, '+' and the call's duration in
// microseconds (version 1 has the start alone), the thread (numbered from 1 in
// the order threads first called), the function, its input fields, "->", the
// status, its output fields as they were after the call. Lines starting with "#"
// are notes. Every field is key=value; texts and byte strings are quoted with
// \\, \", \r, \n, \t and \xHH escapes.
//
// A file that begins in the middle of a run (a rotated file, a recording started
// while the host ran) has the header line "continues TIME": its own calls start at
// that recorded time. Before them it restates, as lines "carried CALL LINE", the
// calls of the run so far that a replay needs (device lists, opens, features,
// serial set-up), with their original times. Version 2 only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace recording {

inline constexpr int kFormatVersion = 2;
// The oldest version this build still reads.
inline constexpr int kOldestVersion = 1;
inline constexpr char kMagic[] = "tovi-recording";

struct Field {
    std::string key;
    std::string value;  // as written, escapes resolved
};

struct Call {
    std::uint64_t time_us = 0;
    std::uint64_t duration_us = 0;
    bool has_duration = false;  // false in version 1, which records no durations
    bool carried = false;       // restated at the top of a file that continues a run
    std::uint32_t thread = 0;
    std::string function;
    std::vector<Field> inputs;
    std::int32_t status = 0;
    std::vector<Field> outputs;
    std::size_t line = 0;  // in the file it was read from; 0 for calls made here
    std::uint32_t file = 0;  // which file of a set it was read from, counted from 0

    const Field* Input(std::string_view key) const;
};

struct Header {
    int version = kFormatVersion;
    std::string started;
    std::string device_library;
    std::string serial_library;
    bool continues = false;  // the file begins in the middle of a run ...
    std::uint64_t continues_us = 0;  // ... at this recorded time
};

struct Recording {
    Header header;
    std::vector<Call> calls;
};

// The time now in UTC, as a header's "started" holds it: 2026-12-09T10:38:32Z.
std::string UtcNow();
// The number a recording gives the calling thread: 1 for the first thread of the
// process that asks this library, 2 for the next, ...
std::uint32_t ThreadNumber();

// True for text that starts with the recording's first word.
bool LooksLikeRecording(std::string_view text);

// The header lines (four, five with "continues").
std::string HeaderText(const Header& header);
// Appends the call's line, ending in '\n' ("carried " first for a carried call;
// the duration when the call has one).
void AppendCallLine(const Call& call, std::string& out);
// The fields of one side of a call as they appear in a line (for messages).
std::string FieldsText(const std::vector<Field>& fields);

// Reads one line of a recording after its first: a call (true, call_read set),
// a header line into header, a note or an empty line. False with the reason.
// calls_seen: whether a call line came before (header lines may not follow one).
bool ParseLine(std::string_view line, int version, bool calls_seen, Header& header, Call& call, bool& call_read,
               std::string& why);
// Reads the first line, "tovi-recording VERSION"; false with the reason.
bool ParseFirstLine(std::string_view line, int& version, std::string& why);

// Reads a whole recording. False with "ORIGIN:LINE: message" in error; every
// field is checked against what its key holds.
bool ParseRecording(std::string_view text, const std::string& origin, Recording& out, std::string& error);

// Bytes as a quoted text with escapes.
std::string Quote(std::string_view bytes);

}  // namespace recording
