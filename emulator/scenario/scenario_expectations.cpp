// Expectations of a scenario: expect on a channel's value or status, the error
// line, the host's message log, the error log, a vendor call count and what a
// simulated device holds, each reported as passed or FAILED with what was found.
#include "emulator/scenario/scenario.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "device_sim/device_sim.h"
#include "emulator/commands/commands.h"
#include "emulator/plant/device_view.h"
#include "emulator/plant/ini_text.h"
#include "emulator/scenario/scenario_reader.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

std::optional<double> NumberOrBoolean(const std::string& text) {
    if (const auto number = ParseNumber(text)) return number;
    if (const auto boolean = ParseBoolean(Lower(text))) return *boolean ? 1.0 : 0.0;
    return std::nullopt;
}

bool Near(double got, double expected, std::optional<double> tolerance) {
    if (std::isnan(expected)) return std::isnan(got);
    if (std::isinf(expected)) return got == expected;
    const double allowed = tolerance ? *tolerance : 1e-6 * std::max(1.0, std::fabs(expected));
    return std::fabs(got - expected) <= allowed;
}

}  // namespace

bool Scenario::ExpectText(const ScenarioLine& line, const std::vector<std::string>& texts,
                          const std::vector<ScenarioToken>& left, const std::string& what, const std::string& op,
                          const ScenarioToken& expected, bool dry) {
    const std::string selector = left.size() > 1 ? left[1].text : "";
    if (left.size() > 2) return Bad(line, "expect " + what + " [count|N|last] = or ~ TEXT");
    if (selector == "count") {
        const auto count = ParseCount(expected.text, 0, 1000000000);
        if (op != "=" || !count) return Bad(line, "expect " + what + " count = N");
        if (dry) return true;
        if (texts.size() == static_cast<std::size_t>(*count)) return Pass(line);
        std::string listing;
        for (const std::string& t : texts) listing += "\n      " + Quote(t);
        return Fail(line, "there " + std::string(texts.size() == 1 ? "is " : "are ") + std::to_string(texts.size()) +
                              (texts.empty() ? "" : ":" + listing));
    }
    std::optional<std::size_t> index;
    if (!selector.empty() && selector != "last") {
        const auto n = ParseCount(selector, 1, 1000000000);
        if (!n) return Bad(line, "\"" + selector + "\" selects no " + what + ": count, a number from 1, or last");
        index = static_cast<std::size_t>(*n - 1);
    }
    if (dry) return true;
    auto matches = [&](const std::string& text) {
        return op == "=" ? text == expected.text : text.find(expected.text) != std::string::npos;
    };
    if (selector.empty()) {
        if (std::any_of(texts.begin(), texts.end(), matches)) return Pass(line);
    } else {
        if (selector == "last" && !texts.empty()) index = texts.size() - 1;
        if (index && *index < texts.size() && matches(texts[*index])) return Pass(line);
        if (!index || *index >= texts.size()) {
            return Fail(line, "there is no such " + what + " (" + std::to_string(texts.size()) + " in all)");
        }
        return Fail(line, "got " + Quote(texts[*index]));
    }
    if (texts.empty()) return Fail(line, "the " + what + " is empty");
    std::string listing;
    for (const std::string& t : texts) listing += "\n      " + Quote(t);
    return Fail(line, "got" + listing);
}

bool Scenario::DoExpect(const ScenarioLine& line, bool dry) {
    std::vector<ScenarioToken> tokens;
    std::string error;
    if (!Tokenize(line.rest, true, tokens, error)) return Bad(line, error);
    std::size_t op_at = 0;
    while (op_at < tokens.size() && (tokens[op_at].quoted || (tokens[op_at].text != "=" && tokens[op_at].text != "~"))) {
        ++op_at;
    }
    if (op_at == 0 || op_at + 1 >= tokens.size()) {
        return Bad(line, "expect SUBJECT = VALUE (or ~ TEXT for a part of a text)");
    }
    const std::vector<ScenarioToken> left(tokens.begin(), tokens.begin() + static_cast<std::ptrdiff_t>(op_at));
    const std::string op = tokens[op_at].text;
    const ScenarioToken expected = tokens[op_at + 1];
    std::optional<double> tolerance;
    const std::size_t after = op_at + 2;
    if (after < tokens.size()) {
        if (tokens[after].text == "\xC2\xB1" && after + 2 == tokens.size()) {
            tolerance = ParseNumber(tokens[after + 1].text);
        }
        if (!tolerance || *tolerance < 0) return Bad(line, "after the value only a tolerance may follow: \xC2\xB1 0.01");
    }
    const std::string subject = left[0].text;
    const bool numeric_op = op == "=";

    if (subject == "value" || subject == "status") {
        if (left.size() != 2) return Bad(line, "expect " + subject + " CH = VALUE");
        const PlantChannel* channel = ChannelArgument(line, left[1].text, dry);
        if (channel == nullptr) return false;
        if (!numeric_op) return Bad(line, "a " + subject + " is compared with =");
        if (subject == "status") {
            if (expected.text != "0" && expected.text != "2" && expected.text != "none") {
                return Bad(line, "a status is 0 (good), 2 (failed) or none (no answer)");
            }
            if (tolerance) return Bad(line, "a status takes no tolerance");
            if (dry) return true;
            const auto found = statuses_.find(channel->number);
            if (found == statuses_.end()) return Fail(line, "channel " + left[1].text + " has not been in a completed batch");
            const std::string got = found->second < 0 ? "none" : std::to_string(found->second);
            return got == expected.text ? Pass(line) : Fail(line, "got " + got);
        }
        std::optional<double> want;
        if (channel->type_code == kBoolean) {
            const auto b = ParseBoolean(Lower(expected.text));
            if (b) want = *b ? 1.0 : 0.0;
        } else {
            want = ParseNumber(expected.text);
        }
        if (!want) {
            return Bad(line, "channel " + left[1].text + " holds a " +
                                 (channel->type_code == kBoolean ? "boolean (true or false)" : "number") + ", not \"" +
                                 expected.text + "\"");
        }
        if (dry) return true;
        const auto found = values_.find(channel->number);
        if (found == values_.end()) return Fail(line, "no value of channel " + left[1].text + " yet: read or get it first");
        const ChannelValue& got = found->second;
        const double number = got.type_code == kBoolean ? (got.boolean ? 1.0 : 0.0) : got.real;
        if (Near(number, *want, tolerance)) return Pass(line);
        char exact[64];
        std::snprintf(exact, sizeof exact, "%.9g", number);
        return Fail(line, "got " + (got.type_code == kBoolean ? FormatValue(got) : std::string(exact)));
    }
    if (subject == "finalized") {
        if (left.size() != 3 || (left[1].text != "read" && left[1].text != "write")) {
            return Bad(line, "expect finalized read|write CH = 0|2|none");
        }
        const PlantChannel* channel = ChannelArgument(line, left[2].text, dry);
        if (channel == nullptr) return false;
        if (!numeric_op || (expected.text != "0" && expected.text != "2" && expected.text != "none")) {
            return Bad(line, "expect finalized read|write CH = 0|2|none");
        }
        if (dry) return true;
        EnsureStarted(line);
        std::int32_t status = -1;
        const bool finished = host_.session().Finalized(left[1].text == "read" ? 0 : 1, channel->number, status) != 0;
        const std::string got = finished ? std::to_string(status) : "none";
        return got == expected.text ? Pass(line) : Fail(line, "got " + got);
    }
    if (subject == "error-line") {
        if (left.size() != 1 || tolerance) return Bad(line, "expect error-line = \"TEXT\" (or ~ \"PART\")");
        if (dry) return NeedPlant(line);
        EnsureStarted(line);
        const std::string got = host_.ErrorLine();
        const bool ok = op == "=" ? got == expected.text : got.find(expected.text) != std::string::npos;
        return ok ? Pass(line) : Fail(line, "got " + Quote(got));
    }
    if (subject == "log" || subject == "message") {
        if (tolerance) return Bad(line, "texts take no tolerance");
        if (dry) return ExpectText(line, {}, left, subject, op, expected, true) && NeedPlant(line);
        EnsureStarted(line);
        return ExpectText(line, subject == "log" ? LogLines() : host_.HostMessages(), left,
                          subject == "log" ? "error log line" : "host message", op, expected, false);
    }
    if (subject == "trace") {
        if (left.size() != 1 || op != "~" || tolerance) return Bad(line, "expect trace ~ \"PART OF A CALL LINE\"");
        if (dry) return true;
        const std::vector<std::string> trace = devsim::Trace();
        if (std::any_of(trace.begin(), trace.end(),
                        [&](const std::string& t) { return t.find(expected.text) != std::string::npos; })) {
            return Pass(line);
        }
        return Fail(line, "no call line holds it (" + std::to_string(trace.size()) + " lines since the last clear)");
    }
    if (subject == "init") {
        if (left.size() != 1 || tolerance || (op == "=" && expected.text != "ok")) {
            return Bad(line, "expect init = ok, or expect init ~ \"PART OF THE DRIVER'S MESSAGE\"");
        }
        if (dry) return true;
        if (!init_message_) return Fail(line, "the driver has not been started");
        if (op == "=") return init_message_->empty() ? Pass(line) : Fail(line, "Init failed: " + *init_message_);
        if (init_message_->empty()) return Fail(line, "Init succeeded");
        return init_message_->find(expected.text) != std::string::npos ? Pass(line)
                                                                       : Fail(line, "Init said " + Quote(*init_message_));
    }
    if (subject == "calls") {
        if (left.size() < 2 || left.size() > 3 || !numeric_op) return Bad(line, "expect calls FUNCTION [MODULE] = N");
        const auto count = ParseCount(expected.text, 0, 1000000000000LL);
        if (!count || tolerance) return Bad(line, "a call count is a whole number");
        const PlantModule* module = left.size() == 3 ? ModuleArgument(line, left[2].text, dry) : nullptr;
        if (left.size() == 3 && module == nullptr) return false;
        if (dry) return true;
        // Without a module: every device's calls.
        const std::int64_t device = module == nullptr ? std::int64_t{-1} : std::int64_t{DeviceOf(line, *module)};
        EnsureDevices(line);
        const std::uint64_t got = devsim_call_count(left[1].text.c_str(), device);
        return got == static_cast<std::uint64_t>(*count) ? Pass(line) : Fail(line, "got " + std::to_string(got));
    }
    if (subject == "ao" || subject == "port" || subject == "counter" || subject == "alarm" || subject == "display") {
        return ExpectDevice(line, left, op, expected, tolerance, dry);
    }
    return Bad(line, "unknown expectation \"" + subject +
                         "\" (value, status, finalized, error-line, log, message, trace, init, calls, ao, port, "
                         "counter, alarm, display)");
}

bool Scenario::ExpectDevice(const ScenarioLine& line, const std::vector<ScenarioToken>& left, const std::string& op,
                            const ScenarioToken& expected, std::optional<double> tolerance, bool dry) {
    const std::string& subject = left[0].text;
    const bool indexed = subject != "display";
    static const std::map<std::string, std::vector<std::string>> kFields = {
        {"ao", {"value", "writes"}},
        {"port", {"value", "mask", "state", "writes"}},
        {"counter", {"started", "gate", "starts", "resets", "count", "overflow"}},
        {"alarm", {"configured", "low", "high", "enabled", "latch", "low-latched", "high-latched", "configs", "enables",
                   "resets"}},
        {"display", {"value", "shown", "selection", "frame", "frames", "rejected", "checksum", "accepted"}},
    };
    const std::vector<std::string>& fields = kFields.at(subject);
    const std::size_t base = indexed ? 3 : 2;
    const bool field_required = subject == "counter" || subject == "alarm";
    if (left.size() < base || left.size() > base + 1 || (field_required && left.size() != base + 1)) {
        std::string list;
        for (const std::string& f : fields) list += (list.empty() ? "" : "|") + f;
        return Bad(line, "expect " + subject + " MODULE" + (indexed ? " N" : "") + (field_required ? " " : " [") + list +
                             (field_required ? "" : "]") + " = VALUE");
    }
    const std::string field = left.size() == base + 1 ? left[base].text : "value";
    if (std::find(fields.begin(), fields.end(), field) == fields.end()) {
        return Bad(line, "\"" + field + "\" is not a field of " + subject);
    }
    const PlantModule* module = ModuleArgument(line, left[1].text, dry);
    if (module == nullptr) return false;
    std::int32_t index = 0;
    if (indexed) {
        const auto parsed = Decimal(left[2].text);
        if (!parsed || *parsed < 0 || *parsed > 65535) return Bad(line, "\"" + left[2].text + "\" is no number 0 to 65535");
        index = *parsed;
    }
    const bool text_field = field == "shown" || field == "frame" || field == "checksum";
    std::optional<double> want;
    if (!text_field) {
        want = NumberOrBoolean(expected.text);
        if (!want || op != "=") return Bad(line, "the " + field + " of " + subject + " is compared with = NUMBER");
    } else if (tolerance) {
        return Bad(line, "a text takes no tolerance");
    }
    if (dry) return true;
    const std::uint32_t device = DeviceOf(line, *module);
    double got = 0;
    std::string got_text;
    bool hex = false;
    int found = -1;
    if (subject == "ao") {
        devsim_analog_output_state s{};
        found = devsim_analog_output(device, index, &s);
        got = field == "writes" ? s.writes : s.voltage;
    } else if (subject == "port") {
        devsim_port_state s{};
        found = devsim_port_output(device, index, &s);
        hex = field != "writes";
        got = field == "value" ? s.value : field == "mask" ? s.last_mask : field == "state" ? s.last_state : s.writes;
    } else if (subject == "counter") {
        devsim_counter_state s{};
        found = devsim_counter_state_of(device, index, &s);
        got = field == "started" ? s.started : field == "gate" ? s.gate_mode : field == "starts" ? s.starts
            : field == "resets"  ? s.resets  : field == "count" ? s.count : s.overflow;
    } else if (subject == "alarm") {
        devsim_alarm_state s{};
        found = devsim_alarm_state_of(device, index, &s);
        got = field == "configured"     ? s.configured
              : field == "low"          ? s.low_limit
              : field == "high"         ? s.high_limit
              : field == "enabled"      ? s.enabled
              : field == "latch"        ? s.latch
              : field == "low-latched"  ? s.low_latched
              : field == "high-latched" ? s.high_latched
              : field == "configs"      ? s.configs
              : field == "enables"      ? s.enables
                                        : s.resets;
    } else {
        devsim_display_state s{};
        found = devsim_display_state_of(device, &s);
        got = field == "value" ? s.value : field == "selection" ? s.selection : field == "frames" ? s.frames
            : field == "rejected" ? s.rejected : s.last_accepted;
        if (field == "value" && s.has_value == 0) return Fail(line, "the display has shown no number yet");
        if (field == "selection" && s.has_selection == 0) return Fail(line, "the display has had no selection yet");
        got_text = field == "shown" ? s.shown : field == "frame" ? s.last_frame
                 : s.frames == 0 ? "none" : s.last_checksum_present == 0 ? "none" : s.last_checksum_ok ? "ok" : "bad";
    }
    if (found != 0) Abort(line, "module " + module->name + "'s device has no such " + subject);
    if (text_field) {
        const bool ok = op == "=" ? got_text == expected.text : got_text.find(expected.text) != std::string::npos;
        return ok ? Pass(line) : Fail(line, "got " + Quote(got_text));
    }
    if (Near(got, *want, tolerance)) return Pass(line);
    char text[64];
    if (hex) std::snprintf(text, sizeof text, "0x%02X (%.0f)", static_cast<unsigned>(got), got);
    else std::snprintf(text, sizeof text, "%.9g", got);
    return Fail(line, std::string("got ") + text);
}

}  // namespace tovihost
