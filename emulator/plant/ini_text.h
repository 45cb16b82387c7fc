// An ini file as the host's ini reader sees it, kept with the file's line numbers
// so that the emulator can point at the line a configuration fault comes from.
// Read independently of the driver: sections and keys match without regard to
// ASCII letter case, the first of two equal section names counts, ";" lines are
// comments, keys and values are trimmed, a NUL ends a line's content, and a line
// without "=" is a key with an empty value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovihost {

struct IniLine {
    std::uint32_t number = 0;  // 1-based in the file
    std::string key;
    std::string value;
};

struct IniSection {
    std::string name;
    std::uint32_t header_number = 0;
    std::uint32_t comment_count = 0;
    std::vector<IniLine> lines;
};

class IniText {
public:
    // False when the file cannot be read, with the reason.
    bool Load(const std::string& path);
    const std::string& reason() const { return reason_; }

    const std::string& path() const { return path_; }
    // The section of that name, or null.
    const IniSection* Find(const std::string& name) const;
    // The first line of section whose key is key, or null.
    static const IniLine* FindKey(const IniSection& section, const std::string& key);
    // The file's text of a line, as it stands (without its line end).
    std::string RawLine(std::uint32_t number) const;

private:
    std::string path_;
    std::string reason_;
    std::vector<std::string> raw_lines_;
    std::vector<IniSection> sections_;
};

// ASCII lower case.
std::string Lower(std::string text);
// Without leading and trailing blanks.
std::string Trim(const std::string& text);
// Token index of text: runs of characters not in delimiters, counted from 0; empty
// beyond the last.
std::string Token(const std::string& text, const char* delimiters, std::size_t index);
// A decimal number with an optional sign within the signed 32-bit range.
std::optional<std::int32_t> Decimal(const std::string& text);

}  // namespace tovihost
