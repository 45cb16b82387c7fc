#include "emulator/commands/write_warnings.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace tovihost {
namespace {

// The driver's conversion of a real to an integer: toward zero, NaN as 0, held
// to the signed 32-bit range.
std::int32_t Truncated(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

}  // namespace

std::string WriteWarning(const PlantChannel& channel, const ChannelValue& value) {
    if (value.type_code != kReal || channel.type_code != kReal) return "";
    const double real = value.real;
    const std::string given = "channel " + std::to_string(channel.number) + " (" + channel.Function() + ") = " +
                              FormatNumber(real);
    const std::int32_t whole = Truncated(real);
    const bool exact = std::isfinite(real) && real == static_cast<double>(whole);
    const std::string& k = channel.keyword;
    if (channel.parameter && (k == "ai" || k == "cnt_event_start")) {
        const auto field = static_cast<std::uint32_t>(whole) & 0xFFFF;
        if (exact && whole >= 0 && whole <= 0xFFFF) return "";
        return given + ": the device takes a 16-bit " + (k == "ai" ? "gain code" : "gate mode") +
               "; the driver truncates it and the device receives " + std::to_string(field) + " (" + Hex(field, 4) + ")";
    }
    if (channel.parameter) return "";
    if (k == "do_byte") {
        const auto byte = static_cast<std::uint32_t>(whole) & 0xFF;
        if (exact && whole >= 0 && whole <= 0xFF) return "";
        return given + ": a port holds a byte; the driver truncates the value and the port receives " + Hex(byte, 2) +
               " (" + std::to_string(byte) + ")";
    }
    if (k == "display_select" || k == "alarm_enable") {
        if (exact) return "";
        return given + ": the device takes a whole number; the driver truncates it and the device receives " +
               std::to_string(whole);
    }
    if (k == "display_data" && std::isnan(real)) {
        return given + ": a display shows numbers; the driver sends NaN as 0 and the display receives 0";
    }
    if (k == "display_data" && std::isinf(real)) {
        return given + ": a display shows numbers; the driver holds the value to the display's range (display_data "
                       "in the module type's PAR section of tovi.ini) and the display receives its " +
               (real > 0 ? "maximum" : "minimum");
    }
    return "";
}

}  // namespace tovihost
