// Control interface of the simulated device manager (libADSAPI32.so / ADSAPI32.dll).
//
// The simulator stands in for the module maker's device-manager library (DRV_
// functions) and its serial library (COM functions, libADSCOMM.so / ADSCOMM.dll).
// Both share one simulation state that lives in ADSAPI32; this header is how
// tests and the host emulator drive that state: load a device set, change inputs,
// move the simulated clock, inject faults and delays, and observe what the driver
// did (the trace, call counts, output states, display contents, open handles).
//
// Every function has C linkage and the platform's default calling convention
// (cdecl on 32-bit Windows). All of them are safe to call from any thread while
// the driver calls the DRV_ and COM functions from its own.
//
// Conventions:
// - Functions returning int give 0 on success and -1 on failure (unknown device or
//   channel, bad argument).
// - Text results go into a caller buffer of `capacity` bytes, always terminated
//   when capacity > 0, cut when too long.
// - A device is named by its device number (devices and sub-devices share one
//   number space).
// - Times are microseconds of the simulated clock.
//
// The device-set format is described in device_sim/README.md.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(DEVSIM_BUILDING_DEVICE_LIBRARY)
#define DEVSIM_API __declspec(dllexport)
#else
#define DEVSIM_API __declspec(dllimport)
#endif
#else
#define DEVSIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Status codes of the simulated libraries; DRV_GetErrorMessage knows a text for
// each. Injected faults may use any nonzero code, these included.
enum {
    DEVSIM_OK = 0,
    DEVSIM_E_DEVICE_NOT_FOUND = 101,   // no device with that number
    DEVSIM_E_INVALID_HANDLE = 102,     // handle not open (never opened, or closed)
    DEVSIM_E_INVALID_ARGUMENT = 103,   // null pointer or other unusable argument
    DEVSIM_E_TABLE_SIZE = 104,         // table size negative or above the list length
    DEVSIM_E_BUFFER_TOO_SMALL = 105,   // features block smaller than the device's block
    DEVSIM_E_CHANNEL = 106,            // analogue channel the device does not have
    DEVSIM_E_PORT = 107,               // digital port the device does not have
    DEVSIM_E_BIT = 108,                // bit number above 7
    DEVSIM_E_COUNTER = 109,            // counter the device does not have
    DEVSIM_E_ALARM = 110,              // alarm channel the device does not have
    DEVSIM_E_GAIN = 111,               // gain code the device does not accept
    DEVSIM_E_VALUE = 112,              // output value not finite or outside the channel's range
    DEVSIM_E_SERIAL_PORT = 113,        // serial port number outside 1..255
    DEVSIM_E_SERIAL_TIMEOUT = 114,     // nothing (or no terminator) received within the time-out
    DEVSIM_E_SERIAL_CONFIG = 115,      // serial configuration for another port, or unusable
    DEVSIM_E_LIST_POSITION = 116,      // device list position outside the list
};

// DRV_GetErrorMessage writes at most this many characters plus a terminating NUL
// (so 256 bytes: vendor::kErrorMessageSize). Longer injected texts are cut.
#define DEVSIM_MAX_ERROR_TEXT 255

// Number of characters of a device name, without terminator.
#define DEVSIM_MAX_DEVICE_NAME 49

// Fault modes.
enum {
    DEVSIM_ALWAYS = 0,  // every matching call fails
    DEVSIM_ONCE = 1,    // the first matching call fails, later ones do not
    DEVSIM_EVERY = 2,   // matching calls number N, 2N, 3N ... fail
};

// Input kinds for devsim_set_input*: "ai", "inport", "counter", "freq", "alarm".

// ---- Device set -----------------------------------------------------------------

// Replace the device set with one read from a file / from text. On failure the
// previous set stays as it was and `error` receives "ORIGIN:LINE: message".
// A successful load starts afresh: initial inputs and outputs, clock 0, the set's
// own faults and delays only, empty trace, zero counts, no open handles.
DEVSIM_API int devsim_load_file(const char* path, char* error, uint32_t capacity);
DEVSIM_API int devsim_load_text(const char* text, char* error, uint32_t capacity);
// Back to the state right after the last successful load.
DEVSIM_API void devsim_reset(void);
// Empty device set (what the simulator holds before any load).
DEVSIM_API void devsim_unload(void);

// ---- Replay ---------------------------------------------------------------------

// A recording (a text starting "tovi-recording") loaded by devsim_load_file,
// devsim_load_text or devsim_replay_open becomes the device set: every DRV_ and
// COM call is answered from it, in the recorded order per function, device and
// channel, and its inputs are compared with the recorded ones. Files are read as
// the replay goes (a window of recorded calls around the latest one made), never
// whole. devsim_reset rewinds it.
typedef struct devsim_replay_state {
    uint64_t calls;             // calls made since the load or reset
    uint64_t divergences;       // calls not in the recording as made, recorded calls not made
    uint64_t remaining;         // recorded calls read and not made yet
    uint64_t remaining_closes;  // of those, DRV_DeviceClose and COMClose
    int32_t ended;              // 1: a call came after every recorded call was made
    char first_divergence[512]; // the earliest in the recording's order: "call N: FUNCTION KEY: ..."
                                // or "FILE:LINE: recorded FUNCTION FIELDS, not made"
    uint64_t made;              // recorded calls made
    uint64_t missing;           // recorded calls the replay passed over
    uint64_t unused_setup;      // recorded opens, lists, features, serial set-ups passed over: no divergence
    uint64_t extra;             // calls the recording does not hold
    int32_t read_all;           // 1: every recorded call has been read
    int32_t through;            // 1: ... and every one after the latest made is a close
    int32_t continues;          // 1: the recording begins in the middle of a run ...
    uint64_t continues_us;      // ... at this recorded time
    uint64_t reached_us;        // recorded time of the latest recorded call made
    char reached_at[320];       // its "FILE:LINE" ("" before the first)
    uint64_t position, size;    // bytes of the recording read, and its whole size
    uint32_t files;             // files of the run
    char started[64];           // the run's start as recorded ("started" header)
    uint64_t before_start;      // calls made before the first recorded cycle of a file that begins mid-run
    uint64_t before_unheld;     // of those, calls of what the file holds no call of (failed)
    uint64_t left_out;          // recorded calls of the partial pass such a file begins with, not replayed
    char damage[512];           // "FILE:LINE: message": a damaged line the replay cannot go past
} devsim_replay_state;
DEVSIM_API int devsim_replay_state_of(devsim_replay_state* state);
// Replays the files of one run: one file, or the files of a rotated set in any
// order. -1 with "PATH: cannot be read: REASON", "PATH:1: not a recording ..." or
// "PATH:LINE: message" in error, the device set kept.
DEVSIM_API int devsim_replay_open(const char* const* paths, uint32_t count, char* error, uint32_t capacity);
// The driver's stop begins: calls the recording does not hold are answered with an
// error but are no divergence (a replay may stop before the recording's end).
DEVSIM_API void devsim_replay_stopping(void);
// A cycle of the host (its reads and its writes) is over. A file that begins
// mid-run has its start within the first cycle: what comes after it counts.
DEVSIM_API void devsim_replay_cycle_done(void);
// The replay is over: recorded calls before the latest one made that were never
// made count as missing.
DEVSIM_API void devsim_replay_finish(void);
// One recorded call: its number in the recording's order and its recording line
// ("carried " first for a carried call).
typedef void (*devsim_replay_call_callback)(uint64_t number, const char* line, void* context);
// The recorded output calls coming next (AO, port byte and bit writes, serial
// writes, counter and alarm settings): for each device, channel and function, the
// next one the driver has not made, in recorded order, of the current cycle (it
// ends where an input the driver read before is read again). The callback runs
// after the replay's lock is released. -1 when no recording is loaded.
DEVSIM_API int devsim_replay_upcoming_outputs(devsim_replay_call_callback callback, void* context);
// The last recorded answer of each describing call made so far: device lists,
// sub-lists, features, serial configurations (number 0).
DEVSIM_API int devsim_replay_described(devsim_replay_call_callback callback, void* context);
// A recorded call the run cannot make (number from devsim_replay_upcoming_outputs):
// a missing call now, its divergence ending with why. -1 when it is not waiting.
DEVSIM_API int devsim_replay_pass_over(uint64_t number, const char* why);

// Records every DRV_ and COM call answered from now on (simulated or replayed)
// into path, in the recording format with durations, replacing the file. 0 on
// success, else -1 with the reason in error. devsim_record_stop ends the
// recording: 0 when the file is complete, else -1 with the reason.
DEVSIM_API int devsim_record_start(const char* path, char* error, uint32_t capacity);
DEVSIM_API int devsim_record_stop(char* error, uint32_t capacity);

typedef struct devsim_device_info {
    uint32_t number;
    char name[DEVSIM_MAX_DEVICE_NAME + 1];
    int32_t list_position;    // position in the device list; -1 for a sub-device
    int64_t parent;           // parent's number for a sub-device, else -1
    int32_t subdevice_count;  // sub-devices of a device (0 for a sub-device)
    uint32_t serial_port;     // own port, or the parent's for a sub-device
    uint16_t digital_inputs;  // features block counts
    uint16_t digital_outputs;
    int32_t has_display;
    uint32_t display_address;
} devsim_device_info;

// Devices and sub-devices in file order; index 0 .. devsim_device_count()-1.
DEVSIM_API int32_t devsim_device_count(void);
DEVSIM_API int devsim_device_info_at(int32_t index, devsim_device_info* info);
// The device (or sub-device) with exactly this name.
DEVSIM_API int devsim_find_device(const char* name, uint32_t* number);

// ---- Inputs ---------------------------------------------------------------------

// Give an input a source written as in the device-set file ("2.5", "0x5A",
// "ramp(0, 10, 20s)", "sine(...)", "count(...)", "square(...)"). An input the
// device did not have is created.
DEVSIM_API int devsim_set_input(uint32_t device, const char* kind, int32_t channel, const char* source,
                                char* error, uint32_t capacity);
DEVSIM_API int devsim_set_input_value(uint32_t device, const char* kind, int32_t channel, double value);

// ---- Clock ----------------------------------------------------------------------

// Every DRV_ and COM call first advances the clock by the step (0: frozen, the
// default). In real-time mode the clock follows the wall clock instead, plus
// whatever devsim_advance_clock added.
DEVSIM_API void devsim_advance_clock(int64_t microseconds);
DEVSIM_API void devsim_set_clock_step(int64_t microseconds);
DEVSIM_API void devsim_set_clock_real(int on);
DEVSIM_API int64_t devsim_clock(void);

// ---- Faults and delays ----------------------------------------------------------

// A call of `function` (exact DRV_/COM name, or "*" for all) fails with `status`.
// `text` (may be null) becomes the text of that status for DRV_GetErrorMessage,
// cut to DEVSIM_MAX_ERROR_TEXT; it stays attached to the status until the next
// load or reset. Narrowing: device_number (-1 any) and/or device_name (null any,
// exact name), channel (-1 any: analogue channel, port, counter, alarm channel or,
// for COM functions, the serial port number). mode DEVSIM_ALWAYS, DEVSIM_ONCE or
// DEVSIM_EVERY with every_n >= 1. Returns the fault's id (> 0), or -1.
DEVSIM_API int32_t devsim_inject_fault(const char* function, int32_t status, const char* text,
                                       int64_t device_number, const char* device_name, int32_t channel,
                                       int32_t mode, uint32_t every_n);
// The same from a line of the device-set syntax:
//   "DRV_DioReadPortByte status=7 device=3 channel=1 mode=once text=\"Bus error\"".
DEVSIM_API int32_t devsim_inject_fault_line(const char* line, char* error, uint32_t capacity);
DEVSIM_API int devsim_clear_fault(int32_t id);
DEVSIM_API void devsim_clear_faults(void);
// How often the fault has made a call fail.
DEVSIM_API uint64_t devsim_fault_hits(int32_t id);

// Each call of `function` ("*" all) on that device (-1 any) sleeps this long
// before it is served (outside the simulator's lock). 0 removes the delay.
DEVSIM_API int devsim_set_delay(const char* function, int64_t device_number, uint32_t microseconds);
DEVSIM_API void devsim_clear_delays(void);

// ---- Trace ----------------------------------------------------------------------

// One line per DRV_/COM call:
//   #<seq> <function> <key>=<value>... -> <status> [injected] <key>=<value>...
// The oldest lines are dropped beyond the capacity (default 10000).
DEVSIM_API uint32_t devsim_trace_count(void);
// Line `index` (0 = oldest kept) into buffer; returns its full length, or -1.
DEVSIM_API int32_t devsim_trace_line(uint32_t index, char* buffer, uint32_t capacity);
DEVSIM_API void devsim_trace_clear(void);
DEVSIM_API void devsim_trace_set_capacity(uint32_t lines);
// Lines dropped because of the capacity since the last clear.
DEVSIM_API uint64_t devsim_trace_dropped(void);
// Called with every new line, on the calling thread, outside the simulator's lock;
// null removes it. The callback must not set another callback.
typedef void (*devsim_trace_callback)(void* context, const char* line);
DEVSIM_API void devsim_trace_set_callback(devsim_trace_callback callback, void* context);

// ---- Call counts ----------------------------------------------------------------

// Calls of `function` (null or "*": all functions) made on that device (-1: any,
// including calls that concern no device). Failed calls count too.
DEVSIM_API uint64_t devsim_call_count(const char* function, int64_t device_number);
DEVSIM_API void devsim_clear_call_counts(void);

// ---- Outputs --------------------------------------------------------------------

typedef struct devsim_analog_output_state {
    float voltage;     // last accepted value (the initial value before any write)
    uint32_t writes;   // accepted writes
} devsim_analog_output_state;

typedef struct devsim_port_state {
    uint8_t value;        // what the 8 output lines show
    uint32_t writes;      // accepted DioWritePortByte and DioWriteBit calls
    uint16_t last_mask;   // raw mask and state of the last DioWritePortByte
    uint16_t last_state;  // (DioWriteBit: 1 << bit and the bit's state)
} devsim_port_state;

typedef struct devsim_counter_state {
    int32_t started;     // started and not reset since
    uint16_t gate_mode;  // of the last start
    uint32_t starts;
    uint32_t resets;
    uint32_t count;      // what DRV_CounterEventRead would report now
    int32_t overflow;
} devsim_counter_state;

typedef struct devsim_alarm_state {
    int32_t configured;
    float low_limit;
    float high_limit;
    int32_t enabled;
    uint16_t latch;
    int32_t low_latched;  // latched states (latch mode only)
    int32_t high_latched;
    uint32_t configs;
    uint32_t enables;
    uint32_t resets;
} devsim_alarm_state;

typedef struct devsim_display_state {
    uint32_t address;
    uint32_t frames;          // frames addressed to this display
    uint32_t rejected;        // of those, frames it refused (bad checksum, bad data)
    int32_t has_value;        // a "9" frame has been accepted
    double value;             // the number shown
    char shown[16];           // the data field shown, as sent ("012.50", "+0.2500")
    int32_t has_selection;    // an "8" frame has been accepted
    int32_t selection;
    char last_frame[260];     // raw bytes of the last frame including its CR
    int32_t last_command;     // 8 or 9 (0: unknown)
    int32_t last_checksum_present;
    int32_t last_checksum_ok;
    int32_t last_accepted;
} devsim_display_state;

DEVSIM_API int devsim_analog_output(uint32_t device, int32_t channel, devsim_analog_output_state* state);
DEVSIM_API int devsim_port_output(uint32_t device, int32_t port, devsim_port_state* state);
DEVSIM_API int devsim_counter_state_of(uint32_t device, int32_t counter, devsim_counter_state* state);
DEVSIM_API int devsim_alarm_state_of(uint32_t device, int32_t channel, devsim_alarm_state* state);
DEVSIM_API int devsim_display_state_of(uint32_t device, devsim_display_state* state);

// ---- Handles --------------------------------------------------------------------

// Open DRV_DeviceOpen handles (of that device, -1 all) and open COMOpen handles
// (on that serial port, -1 all).
DEVSIM_API int32_t devsim_open_device_handles(int64_t device_number);
DEVSIM_API int32_t devsim_open_serial_handles(int64_t port);

#ifdef __cplusplus
}  // extern "C"

// C++ conveniences over the C interface (header-only, usable across the library
// boundary).
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace devsim {

// Empty string on success, else the message.
inline std::string LoadText(const std::string& text) {
    char error[512];
    return devsim_load_text(text.c_str(), error, sizeof error) == 0 ? std::string() : std::string(error);
}
inline std::string LoadFile(const std::string& path) {
    char error[512];
    return devsim_load_file(path.c_str(), error, sizeof error) == 0 ? std::string() : std::string(error);
}

inline std::vector<std::string> Trace() {
    std::vector<std::string> lines;
    const std::uint32_t count = devsim_trace_count();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string line(256, '\0');
        std::int32_t length = devsim_trace_line(i, line.data(), static_cast<std::uint32_t>(line.size()));
        if (length < 0) break;  // cleared meanwhile
        if (static_cast<std::size_t>(length) >= line.size()) {
            line.assign(static_cast<std::size_t>(length) + 1, '\0');
            length = devsim_trace_line(i, line.data(), static_cast<std::uint32_t>(line.size()));
            if (length < 0) break;
        }
        line.resize(static_cast<std::size_t>(length));
        lines.push_back(std::move(line));
    }
    return lines;
}

// A trace line taken apart. Values are unquoted and unescaped.
struct TraceRecord {
    std::uint64_t sequence = 0;
    std::string function;
    std::vector<std::pair<std::string, std::string>> arguments;
    std::int32_t status = 0;
    bool injected = false;
    std::vector<std::pair<std::string, std::string>> results;

    // The value of a key, or "" when absent.
    std::string Argument(std::string_view key) const { return Find(arguments, key); }
    std::string Result(std::string_view key) const { return Find(results, key); }
    bool HasArgument(std::string_view key) const { return Has(arguments, key); }
    bool HasResult(std::string_view key) const { return Has(results, key); }

private:
    static std::string Find(const std::vector<std::pair<std::string, std::string>>& list, std::string_view key) {
        for (const auto& entry : list)
            if (entry.first == key) return entry.second;
        return std::string();
    }
    static bool Has(const std::vector<std::pair<std::string, std::string>>& list, std::string_view key) {
        for (const auto& entry : list)
            if (entry.first == key) return true;
        return false;
    }
};

namespace trace_detail {
inline bool Unquote(std::string_view text, std::size_t* position, std::string* out) {
    std::size_t i = *position + 1;  // past the opening quote
    out->clear();
    while (i < text.size() && text[i] != '"') {
        char c = text[i++];
        if (c == '\\') {
            if (i >= text.size()) return false;
            const char e = text[i++];
            if (e == 'r') c = '\r';
            else if (e == 'n') c = '\n';
            else if (e == 't') c = '\t';
            else if (e == 'x') {
                if (i + 2 > text.size()) return false;
                int value = 0;
                for (int k = 0; k < 2; ++k) {
                    const char h = text[i++];
                    value <<= 4;
                    if (h >= '0' && h <= '9') value |= h - '0';
                    else if (h >= 'A' && h <= 'F') value |= h - 'A' + 10;
                    else if (h >= 'a' && h <= 'f') value |= h - 'a' + 10;
                    else return false;
                }
                c = static_cast<char>(value);
            } else c = e;
        }
        out->push_back(c);
    }
    if (i >= text.size()) return false;
    *position = i + 1;
    return true;
}
}  // namespace trace_detail

// False when the line does not have the trace format.
inline bool ParseTraceLine(std::string_view line, TraceRecord* record) {
    *record = TraceRecord();
    std::size_t i = 0;
    auto skip_blanks = [&] {
        while (i < line.size() && line[i] == ' ') ++i;
    };
    auto word = [&] {
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '=' && line[i] != '"') ++i;
        return line.substr(start, i - start);
    };
    if (line.empty() || line[0] != '#') return false;
    ++i;
    const std::string_view sequence = word();
    if (sequence.empty()) return false;
    for (char c : sequence) {
        if (c < '0' || c > '9') return false;
        record->sequence = record->sequence * 10 + static_cast<std::uint64_t>(c - '0');
    }
    skip_blanks();
    record->function = std::string(word());
    if (record->function.empty()) return false;
    bool after_arrow = false;
    bool have_status = false;
    for (;;) {
        skip_blanks();
        if (i >= line.size()) break;
        const std::string_view key = word();
        if (key == "->" && !after_arrow) {
            after_arrow = true;
            skip_blanks();
            const std::string_view status = word();
            if (status.empty()) return false;
            std::int64_t value = 0;
            std::size_t k = 0;
            const bool negative = status[0] == '-';
            if (negative) k = 1;
            if (k == status.size()) return false;
            for (; k < status.size(); ++k) {
                if (status[k] < '0' || status[k] > '9') return false;
                value = value * 10 + (status[k] - '0');
            }
            record->status = static_cast<std::int32_t>(negative ? -value : value);
            have_status = true;
            continue;
        }
        if (key.empty()) return false;
        if (i < line.size() && line[i] == '=') {
            ++i;
            std::string value;
            if (i < line.size() && line[i] == '"') {
                if (!trace_detail::Unquote(line, &i, &value)) return false;
            } else {
                value = std::string(word());
            }
            (after_arrow ? record->results : record->arguments).emplace_back(std::string(key), std::move(value));
        } else if (after_arrow && key == "injected") {
            record->injected = true;
        } else {
            return false;
        }
    }
    return have_status;
}

}  // namespace devsim
#endif
