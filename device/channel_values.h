// Reading channel values the way the passes take them, and the conversions the
// device calls need.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "config/channel.h"

namespace tovi {

inline double RealOf(const ValueCell& cell) {
    double value;
    std::memcpy(&value, cell.payload, sizeof value);
    return value;
}

inline bool BooleanOf(const ValueCell& cell) { return cell.payload[0] != 0; }

inline void StoreReal(ValueCell& cell, double value) {
    cell.type_code = kTypeReal;
    std::memcpy(cell.payload, &value, sizeof value);
}

// Only byte 0 is written: the other payload bytes keep their content.
inline void StoreBoolean(ValueCell& cell, bool value) {
    cell.type_code = kTypeBoolean;
    cell.payload[0] = value ? 1 : 0;
}

// Toward zero into the signed 32-bit range: values beyond it saturate, NaN gives 0.
inline std::int32_t TruncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

// Bit number bit of value; 0 for a bit outside 0 to width-1.
inline bool BitOf(std::uint32_t value, std::int32_t bit, std::int32_t width) {
    if (bit < 0 || bit >= width) return false;
    return ((value >> bit) & 1u) != 0;
}

}  // namespace tovi
