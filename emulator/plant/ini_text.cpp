#include "emulator/plant/ini_text.h"

#include "emulator/text/file_text.h"

namespace tovihost {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

}  // namespace

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Trim(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string Token(const std::string& text, const char* delimiters, std::size_t index) {
    std::size_t at = 0;
    for (std::size_t token = 0;; ++token) {
        at = text.find_first_not_of(delimiters, at);
        if (at == std::string::npos) return "";
        std::size_t end = text.find_first_of(delimiters, at);
        if (end == std::string::npos) end = text.size();
        if (token == index) return text.substr(at, end - at);
        at = end;
    }
}

std::optional<std::int32_t> Decimal(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

bool IniText::Load(const std::string& path) {
    path_ = path;
    std::string text;
    if (!ReadWholeFile(path, text, reason_)) return false;

    IniSection* section = nullptr;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string raw = text.substr(at, end - at);
        at = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        raw_lines_.push_back(raw);
        const auto number = static_cast<std::uint32_t>(raw_lines_.size());

        const std::size_t nul = raw.find('\0');
        const std::string line = Trim(nul == std::string::npos ? raw : raw.substr(0, nul));
        if (line.empty()) continue;
        if (line.front() == ';') {
            if (section != nullptr) ++section->comment_count;
            continue;
        }
        if (line.front() == '[') {
            std::string name = line.substr(1);
            const std::size_t close = name.find(']');
            if (close != std::string::npos) name.resize(close);
            name = Trim(name);
            if (Find(name) != nullptr) {
                section = nullptr;  // the first of equal sections counts
            } else {
                sections_.push_back(IniSection{name, number, 0, {}});
                section = &sections_.back();
            }
            continue;
        }
        if (section == nullptr) continue;
        IniLine entry{number, line, ""};
        if (const std::size_t equals = line.find('='); equals != std::string::npos) {
            entry.key = Trim(line.substr(0, equals));
            entry.value = Trim(line.substr(equals + 1));
        }
        section->lines.push_back(entry);
    }
    return true;
}

const IniSection* IniText::Find(const std::string& name) const {
    for (const IniSection& section : sections_) {
        if (SameName(section.name, name)) return &section;
    }
    return nullptr;
}

const IniLine* IniText::FindKey(const IniSection& section, const std::string& key) {
    for (const IniLine& line : section.lines) {
        if (SameName(line.key, key)) return &line;
    }
    return nullptr;
}

std::string IniText::RawLine(std::uint32_t number) const {
    return number >= 1 && number <= raw_lines_.size() ? raw_lines_[number - 1] : std::string();
}

}  // namespace tovihost
