#include "emulator/plant/device_view.h"

#include <cstdio>

#include "device_sim/device_sim.h"

namespace tovihost {
namespace {

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string Plural(std::uint32_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string Port(std::uint32_t device, std::int32_t port) {
    devsim_port_state state{};
    if (devsim_port_output(device, port, &state) != 0) return "port " + std::to_string(port) + ": not an output";
    std::string lines;
    for (int bit = 7; bit >= 0; --bit) lines += (state.value >> bit) & 1 ? '1' : '0';
    return "port " + std::to_string(port) + " = " + Hex(state.value, 2) + " (lines 7..0 " + lines + "), " +
           Plural(state.writes, "write") +
           (state.writes == 0 ? "" : ", last mask " + Hex(state.last_mask, 4) + " state " + Hex(state.last_state, 4));
}

std::string Display(std::uint32_t device) {
    devsim_display_state state{};
    if (devsim_display_state_of(device, &state) != 0) return "no display on this device";
    std::string text = "display " + Hex(state.address, 2).substr(2) + ": ";
    text += state.has_value ? "shows \"" + std::string(state.shown) + "\" (" + FormatNumber(state.value) + ")"
                            : "shows nothing yet";
    if (state.has_selection) text += ", selection " + std::to_string(state.selection);
    text += ", " + Plural(state.frames, "frame") + " (" + std::to_string(state.rejected) + " refused)";
    if (state.frames != 0) {
        text += ", last \"" + Escaped(state.last_frame) + "\" " +
                (state.last_checksum_present == 0 ? "without checksum"
                 : state.last_checksum_ok != 0    ? "with good checksum"
                                                  : "with BAD checksum") +
                (state.last_accepted != 0 ? ", accepted" : ", refused");
    }
    return text;
}

}  // namespace

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string DescribeOutput(const Plant& plant, const PlantChannel& channel) {
    if (channel.parameter) {
        return "kept by the driver for channel " + std::to_string(channel.owner) + "'s next write";
    }
    const PlantModule* module = plant.ModuleOf(channel);
    if (module == nullptr || module->device_number < 0) return "module has no simulated device";
    const auto device = static_cast<std::uint32_t>(module->device_number);
    const std::string& k = channel.keyword;
    if (k == "ao") {
        devsim_analog_output_state state{};
        if (devsim_analog_output(device, channel.port, &state) != 0) return "no analogue output " + std::to_string(channel.port);
        return "analogue output " + std::to_string(channel.port) + " = " + FormatNumber(state.voltage) + ", " +
               Plural(state.writes, "write");
    }
    if (k == "do_bit" || k == "do_byte") return Port(device, channel.port);
    if (k == "cnt_event_start") {
        devsim_counter_state state{};
        if (devsim_counter_state_of(device, channel.port, &state) != 0) return "no counter " + std::to_string(channel.port);
        return "counter " + std::to_string(channel.port) + (state.started ? " started, gate mode " + std::to_string(state.gate_mode) : " stopped") +
               ", count " + std::to_string(state.count) + ", " + Plural(state.starts, "start") + ", " +
               Plural(state.resets, "reset");
    }
    if (k == "alarm_config" || k == "alarm_enable" || k == "alarm_reset") {
        devsim_alarm_state state{};
        if (devsim_alarm_state_of(device, channel.port, &state) != 0) return "no alarm " + std::to_string(channel.port);
        std::string text = "alarm " + std::to_string(channel.port) + ": ";
        text += state.configured ? "limits " + FormatNumber(state.low_limit) + " .. " + FormatNumber(state.high_limit)
                                 : "no limits";
        text += state.enabled ? ", enabled, latch " + std::to_string(state.latch) : ", disabled";
        text += ", " + Plural(state.configs, "config") + ", " + Plural(state.enables, "enable") + ", " +
                Plural(state.resets, "reset");
        return text;
    }
    if (k == "display_select" || k == "display_data") return Display(device);
    return "an input: nothing is written to the device";
}

}  // namespace tovihost
