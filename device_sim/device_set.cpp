// Reading device-set files (format: device_sim/README.md) and the pieces of them
// that the control interface also accepts on their own: sources, faults, durations.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "device_sim/model.h"

namespace devsim {
namespace {

constexpr const char* kFunctionNames[kFunctionCount] = {
    "DRV_DeviceGetNumOfList", "DRV_DeviceGetList",     "DRV_DeviceGetSubList", "DRV_DeviceOpen",
    "DRV_DeviceClose",        "DRV_DeviceGetFeatures", "DRV_GetErrorMessage",  "DRV_AIVoltageIn",
    "DRV_AOVoltageOut",       "DRV_DioReadPortByte",   "DRV_DioWritePortByte", "DRV_DioWriteBit",
    "DRV_CounterEventRead",   "DRV_CounterEventStart", "DRV_CounterReset",     "DRV_CounterFreqRead",
    "DRV_AlarmConfig",        "DRV_AlarmEnable",       "DRV_AlarmReset",       "DRV_AlarmCheck",
    "COMGetConfig",           "COMOpen",               "COMSetConfig",         "COMWrite",
    "COMRead",                "COMClose",
};

constexpr std::size_t kMaxUnits = 100000;
constexpr std::size_t kMaxListLength = 32767;  // the list counts are signed 16-bit
constexpr std::uint32_t kMaxRange = 10000;
constexpr std::uint32_t kMaxChannel = 0xFFFF;  // channel fields of the blocks are 16-bit

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Splits a line at blanks. Quoted parts ("..." with \" and \\) and parenthesised
// parts stay inside their token; a token that starts with '(' joins the previous
// one, so "sine (1, 2, 3s)" is one token. '#' outside quotes ends the line.
bool Tokenize(std::string_view line, std::vector<std::string>* tokens, std::string* error) {
    tokens->clear();
    std::string current;
    bool in_token = false;
    int depth = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            current.push_back(c);
            in_token = true;
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size()) current.push_back(line[i++]);
                current.push_back(line[i]);
            }
            if (i >= line.size()) {
                *error = "unterminated quoted text";
                return false;
            }
            current.push_back('"');
            continue;
        }
        if (c == '#' && depth == 0) break;
        if ((c == ' ' || c == '\t' || c == '\r') && depth == 0) {
            if (in_token) tokens->push_back(std::move(current));
            current.clear();
            in_token = false;
            continue;
        }
        if (c == '(') {
            if (!in_token && depth == 0 && !tokens->empty()) {
                current = std::move(tokens->back());
                tokens->pop_back();
            }
            ++depth;
        } else if (c == ')') {
            if (depth == 0) {
                *error = "')' without '('";
                return false;
            }
            --depth;
        }
        current.push_back(c);
        in_token = true;
    }
    if (depth != 0) {
        *error = "'(' without ')'";
        return false;
    }
    if (in_token) tokens->push_back(std::move(current));
    return true;
}

bool IsQuoted(std::string_view text) { return text.size() >= 2 && text.front() == '"' && text.back() == '"'; }

std::string Unquote(std::string_view text) {
    if (!IsQuoted(text)) return std::string(text);
    std::string out;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '\\' && i + 2 < text.size()) ++i;
        out.push_back(text[i]);
    }
    return out;
}

// "key=value" → key and value (value unquoted); false when there is no '='.
bool SplitOption(std::string_view token, std::string* key, std::string* value) {
    const std::size_t equals = token.find('=');
    if (equals == std::string_view::npos || token.front() == '"') return false;
    *key = std::string(token.substr(0, equals));
    *value = Unquote(token.substr(equals + 1));
    return true;
}

bool ParseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t* value) {
    text = Trim(text);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    std::uint64_t result = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result, base);
    if (ec != std::errc() || end != text.data() + text.size() || result > max) return false;
    *value = result;
    return true;
}

bool ParseSigned32(std::string_view text, std::int32_t* value) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    std::int32_t result = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result, 10);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    *value = result;
    return true;
}

bool ParseReal(std::string_view text, double* value) {
    text = Trim(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t integer = 0;
        if (!ParseUnsigned(text, UINT64_MAX, &integer)) return false;
        *value = static_cast<double>(integer);
        return true;
    }
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    double result = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(result)) return false;
    *value = result;
    return true;
}

// "5" or "0-7" (inclusive).
bool ParseRange(std::string_view text, std::uint64_t max, std::uint64_t* first, std::uint64_t* last) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        if (!ParseUnsigned(text, max, first)) return false;
        *last = *first;
        return true;
    }
    return ParseUnsigned(text.substr(0, dash), max, first) && ParseUnsigned(text.substr(dash + 1), max, last) &&
           *first <= *last;
}

std::vector<std::string_view> SplitArguments(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(Trim(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return parts;
}

std::string Replace(std::string text, std::string_view pattern, const std::string& with) {
    for (std::size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + with.size()))
        text.replace(at, pattern.size(), with);
    return text;
}

}  // namespace

const char* FunctionName(Fn fn) {
    const int index = static_cast<int>(fn);
    return index >= 0 && index < kFunctionCount ? kFunctionNames[index] : "?";
}

bool FunctionFromName(std::string_view name, int* fn) {
    if (name == "*") {
        *fn = -1;
        return true;
    }
    for (int i = 0; i < kFunctionCount; ++i) {
        if (name == kFunctionNames[i]) {
            *fn = i;
            return true;
        }
    }
    return false;
}

bool ParseDuration(std::string_view text, std::int64_t* microseconds) {
    text = Trim(text);
    double scale = 1e6;
    auto strip = [&](std::string_view unit, double factor) {
        if (text.size() > unit.size() && text.substr(text.size() - unit.size()) == unit) {
            text.remove_suffix(unit.size());
            scale = factor;
            return true;
        }
        return false;
    };
    if (!strip("us", 1) && !strip("ms", 1e3) && !strip("min", 60e6)) strip("s", 1e6);
    double value = 0;
    if (!ParseReal(text, &value) || value < 0 || value * scale > 9e18) return false;
    *microseconds = static_cast<std::int64_t>(std::llround(value * scale));
    return true;
}

double Source::Value(double t) const {
    constexpr double kPi = 3.14159265358979323846;
    switch (kind) {
        case Kind::Constant:
            return p[0];
        case Kind::Ramp:
            return p[0] + (p[1] - p[0]) * (std::fmod(t, p[2]) / p[2]);
        case Kind::Sine:
            return p[0] + p[1] * std::sin(2 * kPi * t / p[2] + p[3] * kPi / 180.0);
        case Kind::Count: {
            double value = p[0] + std::floor(p[1] * t);
            if (has_last) {
                value = std::fmod(value, p[2]);
                if (value < 0) value += p[2];
            }
            return value;
        }
        case Kind::Square:
            return std::fmod(t, p[2]) < p[3] * p[2] ? p[1] : p[0];
    }
    return 0;
}

bool ParseSource(std::string_view text, Source* source, std::string* error) {
    text = Trim(text);
    Source result;
    result.text = std::string(text);
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos) {
        if (!ParseReal(text, &result.p[0])) {
            *error = "'" + std::string(text) + "' is not a number or a source such as ramp(...)";
            return false;
        }
        *source = result;
        return true;
    }
    const std::string_view name = Trim(text.substr(0, open));
    if (text.back() != ')') {
        *error = "'" + std::string(text) + "': text after ')'";
        return false;
    }
    const std::vector<std::string_view> arguments = SplitArguments(text.substr(open + 1, text.size() - open - 2));
    struct Form {
        const char* name;
        Source::Kind kind;
        std::size_t required;
        int period;  // index of the argument that is a duration, or -1
        const char* usage;
    };
    static constexpr Form kForms[] = {
        {"ramp", Source::Kind::Ramp, 3, 2, "ramp(from, to, period)"},
        {"sine", Source::Kind::Sine, 3, 2, "sine(mean, amplitude, period[, phase in degrees])"},
        {"count", Source::Kind::Count, 2, -1, "count(start, per second[, modulo])"},
        {"square", Source::Kind::Square, 3, 2, "square(low, high, period[, duty])"},
    };
    const Form* form = nullptr;
    for (const Form& candidate : kForms)
        if (name == candidate.name) form = &candidate;
    if (!form) {
        *error = "unknown source '" + std::string(name) + "' (ramp, sine, count or square)";
        return false;
    }
    if (arguments.size() < form->required || arguments.size() > form->required + 1) {
        *error = std::string("expected ") + form->usage;
        return false;
    }
    result.kind = form->kind;
    result.has_last = arguments.size() > form->required;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        bool ok = false;
        if (static_cast<int>(i) == form->period) {
            std::int64_t microseconds = 0;
            ok = ParseDuration(arguments[i], &microseconds) && microseconds > 0;
            result.p[i] = static_cast<double>(microseconds) / 1e6;
        } else {
            ok = ParseReal(arguments[i], &result.p[i]);
        }
        if (!ok) {
            *error = "argument " + std::to_string(i + 1) + " of " + form->usage + ": '" + std::string(arguments[i]) +
                     "' is not " + (static_cast<int>(i) == form->period ? "a positive duration" : "a number");
            return false;
        }
    }
    if (result.kind == Source::Kind::Count && result.has_last && !(result.p[2] > 0)) {
        *error = "the modulo of count(...) must be positive";
        return false;
    }
    if (result.kind == Source::Kind::Square) {
        if (!result.has_last) result.p[3] = 0.5;
        if (!(result.p[3] > 0 && result.p[3] < 1)) {
            *error = "the duty of square(...) must lie between 0 and 1";
            return false;
        }
    }
    *source = result;
    return true;
}

namespace {

bool ParseFaultTokens(const std::vector<std::string>& tokens, std::size_t first, Fault* fault, std::string* error) {
    Fault result;
    if (first >= tokens.size()) {
        *error = "a fault needs a function name";
        return false;
    }
    if (!FunctionFromName(tokens[first], &result.function)) {
        *error = "unknown function '" + tokens[first] + "'";
        return false;
    }
    bool have_status = false;
    for (std::size_t i = first + 1; i < tokens.size(); ++i) {
        std::string key, value;
        if (tokens[i] == "once" || tokens[i] == "always") {
            key = "mode";
            value = tokens[i];
        } else if (!SplitOption(tokens[i], &key, &value)) {
            *error = "expected key=value, found '" + tokens[i] + "'";
            return false;
        }
        if (key == "status") {
            if (!ParseSigned32(value, &result.status) || result.status == 0) {
                *error = "status must be a nonzero 32-bit number";
                return false;
            }
            have_status = true;
        } else if (key == "text") {
            result.text = value.substr(0, 255);
        } else if (key == "device") {
            std::uint64_t number = 0;
            const std::string_view raw = std::string_view(tokens[i]).substr(key.size() + 1);
            if (!IsQuoted(raw) && ParseUnsigned(value, UINT32_MAX, &number))
                result.device_number = static_cast<std::uint32_t>(number);
            else
                result.device_name = value;
        } else if (key == "channel" || key == "port") {
            std::uint64_t channel = 0;
            if (!ParseUnsigned(value, UINT32_MAX, &channel)) {
                *error = "channel must be a number";
                return false;
            }
            result.channel = static_cast<std::int64_t>(channel);
        } else if (key == "mode") {
            if (value == "always") result.mode = FaultMode::Always;
            else if (value == "once") result.mode = FaultMode::Once;
            else {
                *error = "mode must be always or once (every=N for every Nth call)";
                return false;
            }
        } else if (key == "every") {
            std::uint64_t every = 0;
            if (!ParseUnsigned(value, UINT32_MAX, &every) || every == 0) {
                *error = "every must be a number from 1";
                return false;
            }
            result.mode = FaultMode::Every;
            result.every = static_cast<std::uint32_t>(every);
        } else {
            *error = "unknown fault option '" + key + "'";
            return false;
        }
    }
    if (!have_status) {
        *error = "a fault needs status=N";
        return false;
    }
    *fault = result;
    return true;
}

class Reader {
public:
    Reader(std::string_view origin, DeviceSet* set) : origin_(origin), set_(set) {}

    bool Line(std::size_t number, std::string_view line, std::string* error) {
        line_ = number;
        std::string message;
        std::vector<std::string> tokens;
        if (!Tokenize(line, &tokens, &message)) return Fail(message, error);
        if (tokens.empty()) return true;
        if (!Statement(tokens, &message)) return Fail(message, error);
        return true;
    }

    bool Finish(std::string* error) {
        for (const Unit& unit : set_->units) {
            if (unit.children.size() > kMaxListLength) {
                line_ = 0;
                return Fail("device " + std::to_string(unit.number) + " has more than 32767 sub-devices", error);
            }
        }
        return true;
    }

private:
    bool Fail(const std::string& message, std::string* error) {
        *error = std::string(origin_) + ":" + std::to_string(line_) + ": " + message;
        return false;
    }

    bool Statement(std::vector<std::string>& tokens, std::string* error) {
        const std::string& keyword = tokens[0];
        if (keyword == "device" || keyword == "subdevice") return DeviceLine(tokens, keyword == "subdevice", error);
        if (keyword == "clock") return ClockLine(tokens, error);
        if (keyword == "trace") return TraceLine(tokens, error);
        if (keyword == "fault") {
            Fault fault;
            if (!ParseFaultTokens(tokens, 1, &fault, error)) return false;
            set_->faults.push_back(fault);
            return true;
        }
        if (keyword == "delay") return DelayLine(tokens, error);
        static const std::set<std::string> kUnitKeywords = {"serial",  "di",   "do",    "inport", "outport", "ai",
                                                            "ao",      "counter", "freq", "alarm", "gains", "display"};
        if (kUnitKeywords.count(keyword) == 0) {
            *error = "unknown keyword '" + keyword + "'";
            return false;
        }
        if (current_.empty()) {
            *error = "'" + keyword + "' before the first device line";
            return false;
        }
        for (int index : current_)
            if (!UnitLine(set_->units[static_cast<std::size_t>(index)], tokens, error)) return false;
        return true;
    }

    bool DeviceLine(const std::vector<std::string>& tokens, bool sub, std::string* error) {
        const char* what = sub ? "subdevice" : "device";
        if (tokens.size() != 3 || !IsQuoted(tokens[2])) {
            *error = std::string("expected: ") + what + " NUMBER[-LAST] \"NAME\"";
            return false;
        }
        std::uint64_t first = 0, last = 0;
        if (!ParseRange(tokens[1], UINT32_MAX, &first, &last)) {
            *error = "'" + tokens[1] + "' is not a device number or a range such as 100-199";
            return false;
        }
        if (last - first >= kMaxRange) {
            *error = "a device range holds at most 10000 devices";
            return false;
        }
        int parent = -1;
        if (sub) {
            if (last_device_ < 0) {
                *error = "subdevice before the first device line";
                return false;
            }
            if (device_is_range_) {
                *error = "a subdevice cannot follow a device range";
                return false;
            }
            parent = last_device_;
        }
        const std::string pattern = Unquote(tokens[2]);
        current_.clear();
        for (std::uint64_t number = first; number <= last; ++number) {
            if (set_->units.size() >= kMaxUnits) {
                *error = "more than 100000 devices";
                return false;
            }
            if (!numbers_.insert(static_cast<std::uint32_t>(number)).second) {
                *error = "device number " + std::to_string(number) + " is used twice";
                return false;
            }
            Unit unit;
            unit.number = static_cast<std::uint32_t>(number);
            unit.name = Replace(Replace(pattern, "{n}", std::to_string(number)), "{i}", std::to_string(number - first));
            if (unit.name.size() > 49) {
                *error = "device name '" + unit.name + "' is longer than 49 characters";
                return false;
            }
            if (unit.name.find('\0') != std::string::npos) {
                *error = "device name holds a NUL character";
                return false;
            }
            const int index = static_cast<int>(set_->units.size());
            if (sub) {
                Unit& owner = set_->units[static_cast<std::size_t>(parent)];
                unit.parent = parent;
                unit.serial_port = owner.serial_port;
                owner.children.push_back(index);
            } else {
                if (set_->list.size() >= kMaxListLength) {
                    *error = "more than 32767 devices in the device list";
                    return false;
                }
                unit.list_position = static_cast<int>(set_->list.size());
                set_->list.push_back(index);
            }
            set_->units.push_back(std::move(unit));
            current_.push_back(index);
        }
        if (!sub) {
            last_device_ = current_.front();
            device_is_range_ = first != last;
        }
        return true;
    }

    bool ClockLine(const std::vector<std::string>& tokens, std::string* error) {
        for (std::size_t i = 1; i < tokens.size(); ++i) {
            std::string key, value;
            if (tokens[i] == "real") {
                set_->clock_real = true;
            } else if (SplitOption(tokens[i], &key, &value) && key == "step") {
                if (!ParseDuration(value, &set_->clock_step)) {
                    *error = "step must be a duration such as 10ms";
                    return false;
                }
            } else {
                *error = "expected: clock step=DURATION | clock real";
                return false;
            }
        }
        if (tokens.size() < 2) {
            *error = "expected: clock step=DURATION | clock real";
            return false;
        }
        return true;
    }

    bool TraceLine(const std::vector<std::string>& tokens, std::string* error) {
        std::string key, value;
        std::uint64_t lines = 0;
        if (tokens.size() != 2 || !SplitOption(tokens[1], &key, &value) || key != "capacity" ||
            !ParseUnsigned(value, 10000000, &lines) || lines == 0) {
            *error = "expected: trace capacity=LINES (1 to 10000000)";
            return false;
        }
        set_->trace_capacity = static_cast<std::uint32_t>(lines);
        return true;
    }

    bool DelayLine(const std::vector<std::string>& tokens, std::string* error) {
        Delay delay;
        std::int64_t microseconds = 0;
        if (tokens.size() < 3 || !FunctionFromName(tokens[1], &delay.function) ||
            !ParseDuration(tokens[2], &microseconds) || microseconds > UINT32_MAX) {
            *error = "expected: delay FUNCTION DURATION [device=NUMBER] (at most 4294 s)";
            return false;
        }
        delay.microseconds = static_cast<std::uint32_t>(microseconds);
        for (std::size_t i = 3; i < tokens.size(); ++i) {
            std::string key, value;
            std::uint64_t number = 0;
            if (!SplitOption(tokens[i], &key, &value) || key != "device" || !ParseUnsigned(value, UINT32_MAX, &number)) {
                *error = "unknown delay option '" + tokens[i] + "'";
                return false;
            }
            delay.device = static_cast<std::int64_t>(number);
        }
        set_->delays.push_back(delay);
        return true;
    }

    // "ai 0-7 = sine(...)": the keyword, the range, "=" and the source, then options.
    // "0=2.5" and "= 2.5" are accepted too.
    static void SplitAssignment(std::vector<std::string>& tokens) {
        if (tokens.size() >= 2) {
            const std::size_t equals = tokens[1].find('=');
            if (equals != std::string::npos && equals > 0) {
                std::string rest = tokens[1].substr(equals + 1);
                tokens[1].resize(equals);
                tokens.insert(tokens.begin() + 2, "=");
                if (!rest.empty()) tokens.insert(tokens.begin() + 3, rest);
            }
        }
        if (tokens.size() >= 3 && tokens[2].size() > 1 && tokens[2][0] == '=') {
            std::string rest = tokens[2].substr(1);
            tokens[2] = "=";
            tokens.insert(tokens.begin() + 3, rest);
        }
    }

    bool UnitLine(Unit& unit, std::vector<std::string> tokens, std::string* error) {
        const std::string keyword = tokens[0];
        if (keyword == "serial") return SerialLine(unit, tokens, error);
        if (keyword == "display") return DisplayLine(unit, tokens, error);
        if (keyword == "di" || keyword == "do") {
            std::uint64_t count = 0;
            if (tokens.size() != 2 || !ParseUnsigned(tokens[1], 0xFFFF, &count)) {
                *error = "expected: " + keyword + " COUNT (0 to 65535)";
                return false;
            }
            (keyword == "di" ? unit.digital_inputs : unit.digital_outputs) = static_cast<std::uint16_t>(count);
            return true;
        }
        if (keyword == "gains") {
            unit.gains.clear();
            for (std::size_t i = 1; i < tokens.size(); ++i) {
                for (std::string_view part : SplitArguments(tokens[i])) {
                    if (part.empty()) continue;
                    std::uint64_t first = 0, last = 0;
                    if (!ParseRange(part, 0xFFFF, &first, &last)) {
                        *error = "gain codes are numbers 0 to 65535 or ranges such as 0-4";
                        return false;
                    }
                    for (std::uint64_t code = first; code <= last; ++code) unit.gains.insert(static_cast<std::uint16_t>(code));
                }
            }
            if (unit.gains.empty()) {
                *error = "expected: gains CODE[,CODE...]";
                return false;
            }
            return true;
        }
        SplitAssignment(tokens);
        std::uint64_t first = 0, last = 0;
        if (tokens.size() < 2 || !ParseRange(tokens[1], kMaxChannel, &first, &last)) {
            *error = "expected a channel number (0 to 65535) or range after '" + keyword + "'";
            return false;
        }
        const bool output = keyword == "ao" || keyword == "outport";
        std::size_t next = 2;
        Source source;
        bool has_source = false;
        if (next < tokens.size() && tokens[next] == "=") {
            if (next + 1 >= tokens.size()) {
                *error = "'=' without a value";
                return false;
            }
            if (!ParseSource(tokens[next + 1], &source, error)) return false;
            has_source = true;
            next += 2;
        }
        if (!output && !has_source) {
            *error = "expected: " + keyword + " CHANNEL[-LAST] = VALUE";
            return false;
        }
        if (output && has_source && source.kind != Source::Kind::Constant) {
            *error = "the initial value of an output is a number";
            return false;
        }
        double min = 0, max = 0;
        bool has_min = false, has_max = false;
        for (; next < tokens.size(); ++next) {
            std::string key, value;
            if (keyword == "ao" && SplitOption(tokens[next], &key, &value) && (key == "min" || key == "max")) {
                if (!ParseReal(value, key == "min" ? &min : &max)) {
                    *error = key + " must be a number";
                    return false;
                }
                (key == "min" ? has_min : has_max) = true;
            } else {
                *error = "unexpected '" + tokens[next] + "'";
                return false;
            }
        }
        if (has_min || has_max) {
            if (!has_min) min = -HUGE_VAL;
            if (!has_max) max = HUGE_VAL;
            if (min > max) {
                *error = "min is above max";
                return false;
            }
        }
        for (std::uint64_t channel64 = first; channel64 <= last; ++channel64) {
            const auto channel = static_cast<std::uint32_t>(channel64);
            if (keyword == "ai") unit.analog_inputs[channel] = source;
            else if (keyword == "inport") unit.input_ports[channel] = source;
            else if (keyword == "freq") unit.frequencies[channel] = source;
            else if (keyword == "counter") unit.counters[channel] = Counter{source};
            else if (keyword == "alarm") unit.alarms[channel] = Alarm{source};
            else if (keyword == "ao") {
                AnalogOutput out;
                out.initial = out.value = static_cast<float>(source.p[0]);
                out.limited = has_min || has_max;
                out.min = min;
                out.max = max;
                if (out.limited && !(out.initial >= min && out.initial <= max)) {
                    *error = "the initial value lies outside min..max";
                    return false;
                }
                unit.analog_outputs[channel] = out;
            } else {  // outport
                if (source.p[0] < 0 || source.p[0] > 255 || source.p[0] != std::floor(source.p[0])) {
                    *error = "the initial value of an output port is a byte (0 to 255)";
                    return false;
                }
                OutputPort port;
                port.initial = port.value = static_cast<std::uint8_t>(source.p[0]);
                unit.output_ports[channel] = port;
            }
        }
        return true;
    }

    bool SerialLine(Unit& unit, const std::vector<std::string>& tokens, std::string* error) {
        if (unit.parent >= 0) {
            *error = "a sub-device uses its device's serial line; 'serial' belongs to the device";
            return false;
        }
        std::uint64_t port = 0;
        if (tokens.size() < 2 || !ParseUnsigned(tokens[1], 255, &port) || port == 0) {
            *error = "expected: serial PORT (1 to 255) [baud=N] [data=7|8] [parity=none|odd|even] [stop=1|2]";
            return false;
        }
        unit.serial_port = static_cast<std::uint32_t>(port);
        for (std::size_t i = 2; i < tokens.size(); ++i) {
            std::string key, value;
            std::uint64_t number = 0;
            if (!SplitOption(tokens[i], &key, &value)) {
                *error = "unexpected '" + tokens[i] + "'";
                return false;
            }
            if (key == "baud" && ParseUnsigned(value, 10000000, &number) && number > 0) {
                unit.baud = static_cast<std::uint32_t>(number);
            } else if (key == "data" && (value == "7" || value == "8")) {
                unit.data_bits = static_cast<std::uint8_t>(value[0] - '0');
            } else if (key == "stop" && (value == "1" || value == "2")) {
                unit.stop_bits = static_cast<std::uint8_t>(value[0] - '0');
            } else if (key == "parity" && (value == "none" || value == "odd" || value == "even")) {
                unit.parity = value == "none" ? 0 : value == "odd" ? 1 : 2;
            } else {
                *error = "bad serial option '" + tokens[i] + "'";
                return false;
            }
        }
        for (int child : unit.children) set_->units[static_cast<std::size_t>(child)].serial_port = unit.serial_port;
        return true;
    }

    bool DisplayLine(Unit& unit, const std::vector<std::string>& tokens, std::string* error) {
        Display display;
        bool has_address = false;
        for (std::size_t i = 1; i < tokens.size(); ++i) {
            std::string key, value;
            std::uint64_t number = 0;
            if (!SplitOption(tokens[i], &key, &value)) {
                *error = "unexpected '" + tokens[i] + "'";
                return false;
            }
            if (key == "address" && ParseUnsigned(value, 0x7FFFFFFF, &number)) {
                display.address = static_cast<std::uint32_t>(number);
                has_address = true;
            } else if (key == "checksum" && (value == "auto" || value == "on" || value == "off")) {
                display.checksum = value == "auto" ? ChecksumMode::Auto : value == "on" ? ChecksumMode::On : ChecksumMode::Off;
            } else {
                *error = "bad display option '" + tokens[i] + "'";
                return false;
            }
        }
        if (!has_address) {
            *error = "expected: display address=N [checksum=auto|on|off]";
            return false;
        }
        unit.display = display;
        return true;
    }

    std::string_view origin_;
    DeviceSet* set_;
    std::size_t line_ = 0;
    std::vector<int> current_;  // the units that unit lines apply to
    int last_device_ = -1;
    bool device_is_range_ = false;
    std::set<std::uint32_t> numbers_;
};

}  // namespace

bool ParseFault(std::string_view line, Fault* fault, std::string* error) {
    std::vector<std::string> tokens;
    if (!Tokenize(line, &tokens, error)) return false;
    std::size_t first = !tokens.empty() && tokens[0] == "fault" ? 1 : 0;
    return ParseFaultTokens(tokens, first, fault, error);
}

bool ParseDeviceSet(std::string_view text, std::string_view origin, DeviceSet* set, std::string* error) {
    DeviceSet result;
    Reader reader(origin, &result);
    std::size_t number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        ++number;
        if (!reader.Line(number, line, error)) return false;
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (!reader.Finish(error)) return false;
    *set = std::move(result);
    return true;
}

}  // namespace devsim
