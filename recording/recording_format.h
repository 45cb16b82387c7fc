// The recording format: a text file, one vendor call a line, written by the
// recorder libraries and read back by the replay. Layout (also in README.md,
// "Recording a plant"):
//
//   tovi-recording 1
//   started 2026-12-08T21:40:00Z
//   device-library "/opt/vendor/libADSAPI32.so"
//   serial-library "/opt/vendor/libADSCOMM.so"
//   1520 1 DRV_AIVoltageIn handle=65537 dev=1 channel=0 gain=0 trigger=0 -> 0 voltage=5.25
//
// A call line: microseconds since the start, the thread (numbered from 1 in the
// order threads first called), the function, its input fields, "->", the status,
// its output fields as they were after the call. Lines starting with "#" are
// notes. Every field is key=value; texts and byte strings are quoted with \\, \",
// \r, \n, \t and \xHH escapes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace recording {

inline constexpr int kFormatVersion = 1;
inline constexpr char kMagic[] = "tovi-recording";

struct Field {
    std::string key;
    std::string value;  // as written, escapes resolved
};

struct Call {
    std::uint64_t time_us = 0;
    std::uint32_t thread = 0;
    std::string function;
    std::vector<Field> inputs;
    std::int32_t status = 0;
    std::vector<Field> outputs;
    std::size_t line = 0;  // in the file it was read from; 0 for calls made here

    const Field* Input(std::string_view key) const;
};

struct Header {
    int version = kFormatVersion;
    std::string started;
    std::string device_library;
    std::string serial_library;
};

struct Recording {
    Header header;
    std::vector<Call> calls;
};

// True for text that starts with the recording's first word.
bool LooksLikeRecording(std::string_view text);

// The four header lines.
std::string HeaderText(const Header& header);
// Appends the call's line, ending in '\n'.
void AppendCallLine(const Call& call, std::string& out);
// The fields of one side of a call as they appear in a line (for messages).
std::string FieldsText(const std::vector<Field>& fields);

// Reads a whole recording. False with "ORIGIN:LINE: message" in error; every
// field is checked against what its key holds.
bool ParseRecording(std::string_view text, const std::string& origin, Recording& out, std::string& error);

// Bytes as a quoted text with escapes.
std::string Quote(std::string_view bytes);

}  // namespace recording
