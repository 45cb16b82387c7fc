#include "recording/recording_format.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <ctime>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <vector>

namespace recording {
namespace {

enum class Kind { Integer, Real, Hex, Text, Entry };

struct KeyKind {
    std::string_view key;
    Kind kind;
};

// What every field key holds. A key means the same wherever it occurs.
constexpr KeyKind kKeys[] = {
    {"handle", Kind::Integer},   {"dev", Kind::Integer},        {"channel", Kind::Integer},
    {"port", Kind::Integer},     {"counter", Kind::Integer},    {"gain", Kind::Integer},
    {"trigger", Kind::Integer},  {"mask", Kind::Integer},       {"state", Kind::Integer},
    {"bit", Kind::Integer},      {"gate", Kind::Integer},       {"latch", Kind::Integer},
    {"enabled", Kind::Integer},  {"max", Kind::Integer},        {"size", Kind::Integer},
    {"index", Kind::Integer},    {"code", Kind::Integer},       {"length", Kind::Integer},
    {"timeout", Kind::Integer},  {"terminator", Kind::Integer}, {"returned", Kind::Integer},
    {"devices", Kind::Integer},  {"value", Kind::Integer},      {"count", Kind::Integer},
    {"overflow", Kind::Integer}, {"low", Kind::Integer},        {"high", Kind::Integer},
    {"received", Kind::Integer}, {"voltage", Kind::Real},       {"frequency", Kind::Real},
    {"low_limit", Kind::Real},   {"high_limit", Kind::Real},    {"features", Kind::Hex},
    {"config", Kind::Hex},       {"text", Kind::Text},          {"data", Kind::Text},
    {"entry", Kind::Entry},
};

constexpr std::string_view kFunctions[] = {
    "DRV_DeviceGetNumOfList", "DRV_DeviceGetList",    "DRV_DeviceGetSubList", "DRV_DeviceOpen",
    "DRV_DeviceClose",        "DRV_DeviceGetFeatures", "DRV_GetErrorMessage", "DRV_AIVoltageIn",
    "DRV_AOVoltageOut",       "DRV_DioReadPortByte",  "DRV_DioWritePortByte", "DRV_DioWriteBit",
    "DRV_CounterEventRead",   "DRV_CounterEventStart", "DRV_CounterReset",    "DRV_CounterFreqRead",
    "DRV_AlarmConfig",        "DRV_AlarmEnable",      "DRV_AlarmReset",       "DRV_AlarmCheck",
    "COMGetConfig",           "COMOpen",              "COMSetConfig",         "COMWrite",
    "COMRead",                "COMClose",
};

// Equal texts; the length and the last character first, as most keys and names
// differ there already.
bool Same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a.empty() || a.back() == b.back()) && a == b;
}

// Names looked up by their length first: every line names a function and
// several keys.
template <class Item, std::size_t N, class NameOf>
class ByLength {
public:
    ByLength(const Item (&items)[N], NameOf name_of) : name_of_(name_of) {
        for (const Item& item : items) {
            const std::size_t length = name_of(item).size();
            if (length < kLongest) lists_[length].push_back(&item);
        }
    }
    const Item* Find(std::string_view name) const {
        if (name.size() >= kLongest) return nullptr;
        for (const Item* item : lists_[name.size()])
            if (Same(name, name_of_(*item))) return item;
        return nullptr;
    }

private:
    static constexpr std::size_t kLongest = 32;
    NameOf name_of_;
    std::array<std::vector<const Item*>, kLongest> lists_;
};

const KeyKind* FindKey(std::string_view key) {
    static const auto keys = ByLength(kKeys, [](const KeyKind& entry) { return std::string_view(entry.key); });
    return keys.Find(key);
}

bool KnownFunction(std::string_view name) {
    static const auto functions = ByLength(kFunctions, [](std::string_view function) { return function; });
    return functions.Find(name) != nullptr;
}

bool Quoted(std::string_view key) {
    const KeyKind* entry = FindKey(key);
    return entry != nullptr && (entry->kind == Kind::Text || entry->kind == Kind::Entry);
}

template <class T>
bool Whole(std::string_view text, T& value) {
    if (text.empty()) return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool IsHex(std::string_view text) {
    if (text.size() % 2 != 0) return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

// "NUMBER SUBDEVICES NAME" of a device-list entry.
bool IsEntry(std::string_view text) {
    const auto first = text.find(' ');
    const auto second = first == std::string_view::npos ? first : text.find(' ', first + 1);
    std::uint32_t number = 0;
    std::int16_t subdevices = 0;
    return second != std::string_view::npos && Whole(text.substr(0, first), number) &&
           Whole(text.substr(first + 1, second - first - 1), subdevices) && text.size() - second - 1 <= 50;
}

// Reads one line's tokens; false with the reason.
class LineReader {
public:
    explicit LineReader(std::string_view line) : line_(line) {}

    bool AtEnd() {
        SkipBlanks();
        return pos_ >= line_.size();
    }
    std::string_view Word() {
        SkipBlanks();
        const std::size_t start = std::min(pos_, line_.size());
        const std::size_t blank = line_.find(' ', start);
        pos_ = blank == std::string_view::npos ? line_.size() : blank;
        return line_.substr(start, pos_ - start);
    }
    // Whether the next word is "->"; if so, past it.
    bool AtArrow() {
        SkipBlanks();
        if (line_.substr(pos_, 2) != "->" || (pos_ + 2 < line_.size() && line_[pos_ + 2] != ' ')) return false;
        pos_ += 2;
        return true;
    }
    // A quoted text at the current position, escapes resolved.
    bool QuotedText(std::string& out, std::string& why) {
        out.clear();
        if (pos_ >= line_.size() || line_[pos_] != '"') return Fail(why, "a text must start with \"");
        for (++pos_; pos_ < line_.size(); ++pos_) {
            const char c = line_[pos_];
            if (c == '"') {
                ++pos_;
                if (pos_ < line_.size() && line_[pos_] != ' ') return Fail(why, "a blank must follow a text's \"");
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (++pos_ >= line_.size()) break;
            switch (line_[pos_]) {
                case '\\': out += '\\'; break;
                case '"': out += '"'; break;
                case 'r': out += '\r'; break;
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'x': {
                    unsigned value = 0;
                    if (pos_ + 2 >= line_.size() || !IsHex(line_.substr(pos_ + 1, 2)) ||
                        std::from_chars(line_.data() + pos_ + 1, line_.data() + pos_ + 3, value, 16).ec != std::errc()) {
                        return Fail(why, "\\x takes two hexadecimal digits");
                    }
                    out += static_cast<char>(value);
                    pos_ += 2;
                    break;
                }
                default: return Fail(why, "unknown escape \\" + std::string(1, line_[pos_]));
            }
        }
        return Fail(why, "a text has no closing \"");
    }
    // key=value; the value's form is checked against what the key holds.
    bool ReadField(Field& field, std::string& why) {
        SkipBlanks();
        const std::size_t start = pos_;
        while (pos_ < line_.size() && line_[pos_] != '=' && line_[pos_] != ' ') ++pos_;
        field.key.assign(line_.substr(start, pos_ - start));
        const KeyKind* kind = FindKey(field.key);
        if (kind == nullptr) return Fail(why, "unknown field \"" + field.key + "\"");
        if (pos_ >= line_.size() || line_[pos_] != '=') return Fail(why, field.key + " has no value");
        ++pos_;
        if (kind->kind == Kind::Text || kind->kind == Kind::Entry) {
            if (!QuotedText(field.value, why)) return false;
            if (kind->kind == Kind::Entry && !IsEntry(field.value)) {
                return Fail(why, "entry must be \"NUMBER SUBDEVICES NAME\" with a name of at most 50 bytes");
            }
            return true;
        }
        field.value.assign(Word());
        std::int64_t integer = 0;
        float real = 0;
        const bool good = kind->kind == Kind::Integer ? Whole(field.value, integer)
                          : kind->kind == Kind::Real  ? Whole(field.value, real)
                                                      : IsHex(field.value);
        if (!good) return Fail(why, field.key + "=" + field.value + " is not " +
                                    (kind->kind == Kind::Integer ? "a whole number"
                                     : kind->kind == Kind::Real  ? "a number"
                                                                 : "hexadecimal bytes"));
        return true;
    }

private:
    void SkipBlanks() {
        while (pos_ < line_.size() && line_[pos_] == ' ') ++pos_;
    }
    static bool Fail(std::string& why, const std::string& text) {
        why = text;
        return false;
    }

    std::string_view line_;
    std::size_t pos_ = 0;
};

// "START" (version 1) or "START+DURATION" (version 2), in microseconds.
bool ParseTimes(std::string_view word, int version, Call& call, std::string& why) {
    const std::size_t plus = word.find('+');
    if (version < 2) {
        if (Whole(word, call.time_us)) return true;
        why = plus == std::string_view::npos ? "a call line starts with its time in microseconds"
                                             : "a version 1 call line has no duration: it starts with its time alone";
        return false;
    }
    if (plus == std::string_view::npos || !Whole(word.substr(0, plus), call.time_us) ||
        !Whole(word.substr(plus + 1), call.duration_us)) {
        why = "a call line starts with its time and duration in microseconds, START+DURATION";
        return false;
    }
    call.has_duration = true;
    return true;
}

bool ParseCall(std::string_view line, int version, Call& call, std::string& why) {
    LineReader reader(line);
    if (!ParseTimes(reader.Word(), version, call, why)) return false;
    if (!Whole(reader.Word(), call.thread)) {
        why = "the time must be followed by the thread number";
        return false;
    }
    call.function.assign(reader.Word());
    if (!KnownFunction(call.function)) {
        why = "unknown function \"" + call.function + "\"";
        return false;
    }
    std::vector<Field>* side = &call.inputs;
    while (!reader.AtEnd()) {
        // "->" separates the inputs from the status and the outputs.
        if (side == &call.inputs && reader.AtArrow()) {
            if (!Whole(reader.Word(), call.status)) {
                why = "\"->\" must be followed by the status, a whole number";
                return false;
            }
            side = &call.outputs;
            continue;
        }
        if (side->capacity() == 0) side->reserve(6);
        if (!reader.ReadField(side->emplace_back(), why)) return false;
    }
    if (side != &call.outputs) {
        why = "the line ends before \"-> STATUS\": a call line cut short";
        return false;
    }
    return true;
}

bool ParseHeaderLine(std::string_view line, Header& header, std::string& why) {
    LineReader reader(line);
    const std::string_view word = reader.Word();
    std::string* target = word == "device-library" ? &header.device_library
                          : word == "serial-library" ? &header.serial_library
                                                     : nullptr;
    if (word == "continues") {
        if (!Whole(reader.Word(), header.continues_us) || !reader.AtEnd()) {
            why = "continues takes the recorded time in microseconds at which the file's own calls start";
            return false;
        }
        header.continues = true;
        return true;
    }
    if (word == "started") {
        const std::size_t text = line.find_first_not_of(' ', line.find("started") + 7);
        header.started.assign(text == std::string_view::npos ? std::string_view() : line.substr(text));
        return true;
    }
    if (target == nullptr) {
        why = "unknown header line \"" + std::string(word) + "\"";
        return false;
    }
    if (reader.AtEnd() || !reader.QuotedText(*target, why)) {
        if (why.empty()) why = std::string(word) + " takes a quoted path";
        return false;
    }
    if (!reader.AtEnd()) {
        why = "text after the path";
        return false;
    }
    return true;
}

}  // namespace

const Field* Call::Input(std::string_view key) const {
    for (const Field& field : inputs) {
        if (field.key == key) return &field;
    }
    return nullptr;
}

bool LooksLikeRecording(std::string_view text) {
    const std::size_t length = std::strlen(kMagic);
    return text.size() > length && text.substr(0, length) == kMagic && text[length] == ' ';
}

std::string Quote(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte >= 0x7F) {
            static const char digits[] = "0123456789ABCDEF";
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string HeaderText(const Header& header) {
    return std::string(kMagic) + " " + std::to_string(header.version) + "\nstarted " + header.started +
           "\ndevice-library " + Quote(header.device_library) + "\nserial-library " + Quote(header.serial_library) +
           "\n" + (header.continues ? "continues " + std::to_string(header.continues_us) + "\n" : std::string());
}

std::string FieldsText(const std::vector<Field>& fields) {
    std::string out;
    for (const Field& field : fields) {
        if (!out.empty()) out += ' ';
        out += field.key;
        out += '=';
        out += Quoted(field.key) ? Quote(field.value) : field.value;
    }
    return out;
}

void AppendCallLine(const Call& call, std::string& out) {
    if (call.carried) out += "carried ";
    char numbers[72];
    if (call.has_duration) {
        std::snprintf(numbers, sizeof numbers, "%llu+%llu %u ", static_cast<unsigned long long>(call.time_us),
                      static_cast<unsigned long long>(call.duration_us), static_cast<unsigned>(call.thread));
    } else {
        std::snprintf(numbers, sizeof numbers, "%llu %u ", static_cast<unsigned long long>(call.time_us),
                      static_cast<unsigned>(call.thread));
    }
    out += numbers;
    out += call.function;
    if (!call.inputs.empty()) out += ' ';
    out += FieldsText(call.inputs);
    out += " -> ";
    out += std::to_string(call.status);
    if (!call.outputs.empty()) out += ' ';
    out += FieldsText(call.outputs);
    out += '\n';
}

bool ParseFirstLine(std::string_view line, int& version, std::string& why) {
    LineReader reader(line);
    if (reader.Word() != kMagic) {
        why = std::string("not a recording: it must start with \"") + kMagic + " " + std::to_string(kFormatVersion) + "\"";
        return false;
    }
    const std::string_view word = reader.Word();
    if (!Whole(word, version) || !reader.AtEnd()) {
        why = "the first line must be \"" + std::string(kMagic) + " VERSION\"";
        return false;
    }
    if (version < kOldestVersion || version > kFormatVersion) {
        why = "recording format version " + std::string(word) + " is not known (this build reads versions " +
              std::to_string(kOldestVersion) + " to " + std::to_string(kFormatVersion) + ")";
        return false;
    }
    return true;
}

bool ParseLine(std::string_view line, int version, bool calls_seen, Header& header, Call& call, bool& call_read,
               std::string& why) {
    call_read = false;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') return true;
    constexpr std::string_view kCarried = "carried ";
    const bool carried = line.substr(0, kCarried.size()) == kCarried;
    if (carried) {
        if (version < 2) {
            why = "carried calls need format version 2";
            return false;
        }
        if (!header.continues) {
            why = "a carried call in a file that does not continue a run (no \"continues\" line)";
            return false;
        }
        line.remove_prefix(kCarried.size());
    }
    if (!line.empty() && line[0] >= '0' && line[0] <= '9') {
        // Reset, keeping the room the fields took for the next line.
        call.inputs.clear();
        call.outputs.clear();
        call.time_us = call.duration_us = 0;
        call.has_duration = false;
        call.thread = 0;
        call.status = 0;
        call.line = 0;
        call.file = 0;
        call.carried = carried;
        if (!ParseCall(line, version, call, why)) return false;
        call_read = true;
        return true;
    }
    if (carried) {
        why = "\"carried\" must be followed by a call line";
        return false;
    }
    if (calls_seen) {
        why = "a call line must start with its time in microseconds";
        return false;
    }
    if (!ParseHeaderLine(line, header, why)) return false;
    if (header.continues && version < 2) {
        why = "\"continues\" needs format version 2";
        return false;
    }
    return true;
}

bool ParseRecording(std::string_view text, const std::string& origin, Recording& out, std::string& error) {
    out = Recording();
    std::size_t number = 0;
    bool calls_seen = false, own_calls_seen = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        std::string why;
        auto fail = [&](const std::string& message) {
            error = origin + ":" + std::to_string(number) + ": " + message;
            return false;
        };
        if (number == 1) {
            std::string_view first = line;
            if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
            if (!ParseFirstLine(first, out.header.version, why)) return fail(why);
            continue;
        }
        Call call;
        bool call_read = false;
        if (!ParseLine(line, out.header.version, calls_seen, out.header, call, call_read, why)) return fail(why);
        if (!call_read) continue;
        if (call.carried && own_calls_seen) return fail("a carried call after the file's own calls");
        calls_seen = true;
        own_calls_seen = own_calls_seen || !call.carried;
        call.line = number;
        out.calls.push_back(std::move(call));
    }
    if (number == 0) {
        error = origin + ":1: the recording is empty";
        return false;
    }
    return true;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::uint32_t ThreadNumber() {
    static std::atomic<std::uint32_t> next{1};
    thread_local const std::uint32_t number = next.fetch_add(1);
    return number;
}

}  // namespace recording
