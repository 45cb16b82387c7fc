// The I/O vocabulary: what a channel does on its module (IoType, chosen by keyword)
// and which value type the host uses for it (TypeCode).
#pragma once

#include <cstdint>

#include "host/text.h"

namespace tovi {

// Host value types.
enum TypeCode : std::uint32_t {
    kTypeNone = 0,
    kTypeBoolean = 2,
    kTypeReal = 10,
    kTypeString = 11,
};

// What a channel does on its module; 0 is none, 11 is not assigned.
enum IoType : std::int32_t {
    kIoNone = 0,
    kIoAi = 1,
    kIoAo = 2,
    kIoCjc = 3,
    kIoDiBit = 4,
    kIoDoBit = 5,
    kIoDiByte = 6,
    kIoDoByte = 7,
    kIoCntEventRead = 8,
    kIoCntEventStart = 9,
    kIoCntFreqRead = 10,
    kIoAlarmConfig = 12,
    kIoAlarmEnable = 13,
    kIoAlarmReset = 14,
    kIoAlarmCheckLo = 15,
    kIoAlarmCheckHi = 16,
    kIoDisplaySelect = 17,
    kIoDisplayData = 18,
};

struct IoTypeInfo {
    const char* keyword;
    IoType io_type;
    TypeCode expected_type;
};

// The keyword table, in lookup order.
inline constexpr IoTypeInfo kIoTypes[] = {
    {"ai", kIoAi, kTypeReal},
    {"ao", kIoAo, kTypeReal},
    {"cjc", kIoCjc, kTypeReal},
    {"di_bit", kIoDiBit, kTypeBoolean},
    {"do_bit", kIoDoBit, kTypeBoolean},
    {"di_byte", kIoDiByte, kTypeReal},
    {"do_byte", kIoDoByte, kTypeReal},
    {"cnt_event_read", kIoCntEventRead, kTypeReal},
    {"cnt_event_start", kIoCntEventStart, kTypeBoolean},
    {"cnt_freq_read", kIoCntFreqRead, kTypeReal},
    {"alarm_config", kIoAlarmConfig, kTypeBoolean},
    {"alarm_enable", kIoAlarmEnable, kTypeReal},
    {"alarm_reset", kIoAlarmReset, kTypeBoolean},
    {"alarm_check_lo", kIoAlarmCheckLo, kTypeBoolean},
    {"alarm_check_hi", kIoAlarmCheckHi, kTypeBoolean},
    {"display_select", kIoDisplaySelect, kTypeReal},
    {"display_data", kIoDisplayData, kTypeReal},
};

struct IoTypeMatch {
    bool found;
    IoType io_type;
    TypeCode expected_type;
};

// Lowers keyword in place (callers quote it lower-cased afterwards), then looks it
// up exactly in the keyword table. No match: {false, kIoNone, kTypeNone}.
IoTypeMatch IoTypeFromKeyword(host::Cap capacity, char* keyword);

// The keyword of an IoType; null for none.
const char* KeywordOfIoType(std::int32_t io_type);

// Display types have no port and no bit.
constexpr bool IsDisplayType(std::int32_t io_type) {
    return io_type == kIoDisplaySelect || io_type == kIoDisplayData;
}

// True when the InputPass serves the IoType, false for the OutputPass.
constexpr bool IsInputType(std::int32_t io_type) {
    switch (io_type) {
        case kIoAi:
        case kIoCjc:
        case kIoDiBit:
        case kIoDiByte:
        case kIoCntEventRead:
        case kIoCntFreqRead:
        case kIoAlarmCheckLo:
        case kIoAlarmCheckHi:
            return true;
        default:
            return false;
    }
}

}  // namespace tovi
