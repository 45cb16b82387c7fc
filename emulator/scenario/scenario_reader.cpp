// The scenario language as written: a file read whole into lines without their
// comments, each split into its keyword and the rest, and the rest into words and
// quoted texts; durations with their units.
#include "emulator/scenario/scenario_reader.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "emulator/plant/device_view.h"
#include "emulator/plant/ini_text.h"
#include "emulator/plant/plant.h"
#include "emulator/text/file_text.h"

namespace tovihost {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// The line without its comment: "#" outside quotes where a word begins.
std::string WithoutComment(const std::string& text) {
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (quoted && text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && text[i] == '#' && (i == 0 || IsSpace(text[i - 1]))) {
            return text.substr(0, i);
        }
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string Quote(const std::string& text) { return "\"" + Escaped(text) + "\""; }

bool Tokenize(const std::string& text, bool operators, std::vector<ScenarioToken>& tokens, std::string& error) {
    tokens.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSpace(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == '"') {
            ScenarioToken token{"", true};
            ++i;
            bool closed = false;
            while (i < text.size()) {
                char c = text[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (i >= text.size()) break;
                    const char e = text[i++];
                    if (e == 'r') c = '\r';
                    else if (e == 'n') c = '\n';
                    else if (e == 't') c = '\t';
                    else if (e == 'x') {
                        const int high = i < text.size() ? HexDigit(text[i]) : -1;
                        const int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                        if (high < 0 || low < 0) {
                            error = "\\x needs two hexadecimal digits";
                            return false;
                        }
                        c = static_cast<char>(high * 16 + low);
                        i += 2;
                    } else if (e == '"' || e == '\\') {
                        c = e;
                    } else {
                        error = std::string("unknown escape \\") + e + " in a quoted text";
                        return false;
                    }
                }
                token.text += c;
            }
            if (!closed) {
                error = "a quoted text is not closed";
                return false;
            }
            tokens.push_back(token);
            continue;
        }
        if (operators && (text[i] == '=' || text[i] == '~')) {
            tokens.push_back({std::string(1, text[i++]), false});
            continue;
        }
        if (operators && (text.compare(i, 2, "\xC2\xB1") == 0 || text.compare(i, 2, "+-") == 0)) {
            tokens.push_back({"\xC2\xB1", false});
            i += 2;
            continue;
        }
        // A word; quotes inside it (text="a b") belong to it, as written.
        ScenarioToken token;
        bool quoted = false;
        while (i < text.size() && (quoted || (!IsSpace(text[i]) && !(operators && (text[i] == '=' || text[i] == '~'))))) {
            if (quoted && text[i] == '\\' && i + 1 < text.size()) token.text += text[i++];
            if (text[i] == '"') quoted = !quoted;
            token.text += text[i++];
        }
        if (quoted) {
            error = "a quoted text is not closed";
            return false;
        }
        tokens.push_back(token);
    }
    return true;
}

std::optional<std::int64_t> ParseMicroseconds(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.')) {
        ++digits;
    }
    const auto number = ParseNumber(text.substr(0, digits));
    if (digits == 0 || !number || *number < 0) return std::nullopt;
    const std::string unit = text.substr(digits);
    double scale = 0;
    if (unit == "us") scale = 1;
    else if (unit == "ms") scale = 1e3;
    else if (unit == "s" || unit.empty()) scale = 1e6;
    else if (unit == "min") scale = 60e6;
    else return std::nullopt;
    const double microseconds = *number * scale;
    if (microseconds > 1e15) return std::nullopt;
    return static_cast<std::int64_t>(std::llround(microseconds));
}

bool Scenario::Read(std::string& error) {
    std::string content, reason;
    std::uint32_t nul_line = 0;
    if (!ReadTextFile(path_, content, reason, nul_line)) {
        error = CannotRead(path_, reason, nul_line);
        return false;
    }
    std::istringstream file(content);
    std::string text;
    std::uint32_t number = 0;
    while (std::getline(file, text)) {
        ++number;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        ScenarioLine line;
        line.number = number;
        line.text = Trim(WithoutComment(text));
        if (line.text.empty()) continue;
        std::size_t end = 0;
        while (end < line.text.size() && !IsSpace(line.text[end])) ++end;
        line.keyword = line.text.substr(0, end);
        line.rest = Trim(line.text.substr(end));
        lines_.push_back(line);
    }
    return true;
}

}  // namespace tovihost
