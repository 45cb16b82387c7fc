// Ini file reader of the host tool library. Open keeps the whole file as one text
// and indexes it once: a hash map from section name to section, and per section a
// hash map from key to line. Names are views into the kept text and are hashed and
// compared without regard to ASCII letter case.
#include "host/ini_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

struct CaseInsensitiveHash {
    std::size_t operator()(std::string_view s) const noexcept {
        std::uint64_t h = 14695981039346656037ull;  // FNV-1a
        for (const char c : s) {
            h ^= static_cast<unsigned char>(Lower(c));
            h *= 1099511628211ull;
        }
        return static_cast<std::size_t>(h);
    }
};

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

struct CaseInsensitiveEqual {
    bool operator()(std::string_view a, std::string_view b) const noexcept { return EqualIgnoringCase(a, b); }
};

template <class Value>
using NameMap = std::unordered_map<std::string_view, Value, CaseInsensitiveHash, CaseInsensitiveEqual>;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A bounded text as a view (null reads as empty).
std::string_view Argument(Cap cap, const char* s) {
    return s == nullptr ? std::string_view{} : std::string_view{s, StrLength(cap, s)};
}

// dst := s, cut to cap characters; true when s was cut.
bool Deliver(Cap cap, char* dst, std::string_view s) {
    if (dst == nullptr) return false;
    const std::size_t n = std::min<std::size_t>(s.size(), cap);
    if (n != 0) std::memcpy(dst, s.data(), n);
    dst[n] = '\0';
    return n < s.size();
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bool ok = true;
    try {
        char chunk[16384];
        for (;;) {
            const std::size_t n = std::fread(chunk, 1, sizeof chunk, file);
            text.append(chunk, n);
            if (n < sizeof chunk) {
                ok = std::ferror(file) == 0;
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    std::fclose(file);
    return ok;
}

}  // namespace

struct IniFile::Content {
    struct Line {
        std::uint32_t number;  // 1-based in the file
        std::string_view key;
        std::string_view value;
    };
    struct Section {
        std::uint32_t header_number;
        std::uint32_t first_line;  // index into lines
        std::uint32_t line_count;
        std::uint32_t comment_count;
        NameMap<std::uint32_t> keys;  // key -> index into lines
    };

    std::string text;
    std::vector<Line> lines;
    std::vector<Section> sections;
    NameMap<std::uint32_t> section_index;

    std::uint32_t current_section = kNone;
    std::uint32_t cursor = kNone;  // index within the current section of the line last delivered
    std::uint32_t line_number = 0;
    bool key_cut = false;    // of the text last delivered
    bool value_cut = false;

    void Index();
    const Section* Current() const { return current_section == kNone ? nullptr : &sections[current_section]; }
    const Line* Lookup(std::string_view key) const;
};

void IniFile::Content::Index() {
    const std::string_view all = text;
    std::uint32_t number = 0;
    // Lines before the first section header belong to none and cannot be reached.
    Section* section = nullptr;
    bool section_counts = false;  // false for a repeated section name: the first occurrence counts
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\n', at);
        if (end == std::string_view::npos) end = all.size();
        std::string_view raw = all.substr(at, end - at);
        at = end + 1;
        ++number;
        // A NUL byte ends the line's content.
        const std::size_t nul = raw.find('\0');
        if (nul != std::string_view::npos) raw = raw.substr(0, nul);
        const std::string_view line = Trim(raw);  // also drops the CR of a CRLF line end
        if (line.empty()) continue;
        if (line.front() == ';') {
            if (section != nullptr) ++section->comment_count;
            continue;
        }
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            const std::size_t close = name.find(']');
            if (close != std::string_view::npos) name = name.substr(0, close);
            name = Trim(name);
            sections.push_back(Section{number, static_cast<std::uint32_t>(lines.size()), 0, 0, {}});
            section_counts = section_index.try_emplace(name, static_cast<std::uint32_t>(sections.size() - 1)).second;
            section = &sections.back();
            if (!section_counts) {
                sections.pop_back();
                section = nullptr;
            }
            continue;
        }
        if (section == nullptr) continue;
        const std::size_t equals = line.find('=');
        Line entry{number, line, {}};
        if (equals != std::string_view::npos) {
            entry.key = Trim(line.substr(0, equals));
            entry.value = Trim(line.substr(equals + 1));
        }
        const auto index = static_cast<std::uint32_t>(lines.size());
        lines.push_back(entry);
        section->keys.try_emplace(entry.key, index);  // the first of equal keys counts
        ++section->line_count;
    }
}

const IniFile::Content::Line* IniFile::Content::Lookup(std::string_view key) const {
    const Section* section = Current();
    if (section == nullptr) return nullptr;
    const auto found = section->keys.find(key);
    return found == section->keys.end() ? nullptr : &lines[found->second];
}

IniFile::IniFile() = default;
IniFile::~IniFile() = default;

bool IniFile::Open(Cap path_cap, const char* path) {
    Close();
    try {
        auto content = std::make_unique<Content>();
        const std::string name(Argument(path_cap, path));
        if (name.empty() || !ReadWholeFile(name, content->text)) return false;
        content->Index();
        content_ = std::move(content);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool IniFile::FindSection(Cap cap, const char* name) {
    if (!content_) return false;
    Content& c = *content_;
    c.cursor = kNone;
    const auto found = c.section_index.find(Argument(cap, name));
    if (found == c.section_index.end()) {
        c.current_section = kNone;
        c.line_number = 0;
        return false;
    }
    c.current_section = found->second;
    c.line_number = c.sections[found->second].header_number;
    return true;
}

bool IniFile::ReadString(Cap key_cap, const char* key, Cap value_cap, char* value) {
    if (!content_) return false;
    const Content::Line* line = content_->Lookup(Argument(key_cap, key));
    if (line == nullptr) return false;
    content_->key_cut = false;
    content_->value_cut = Deliver(value_cap, value, line->value);
    return true;
}

bool IniFile::ReadBool(Cap key_cap, const char* key, Flag* flag) {
    if (!content_) return false;
    const Content::Line* line = content_->Lookup(Argument(key_cap, key));
    if (line == nullptr) return false;
    const std::string_view v = line->value;
    for (const char* word : {"1", "true", "yes", "on"}) {
        if (EqualIgnoringCase(v, word)) {
            if (flag != nullptr) *flag = 1;
            return true;
        }
    }
    for (const char* word : {"0", "false", "no", "off"}) {
        if (EqualIgnoringCase(v, word)) {
            if (flag != nullptr) *flag = 0;
            return true;
        }
    }
    return false;
}

bool IniFile::FirstLine(Cap key_cap, char* key, Cap value_cap, char* value) {
    if (!content_) return false;
    content_->cursor = kNone;
    return NextLine(key_cap, key, value_cap, value);
}

bool IniFile::NextLine(Cap key_cap, char* key, Cap value_cap, char* value) {
    if (!content_) return false;
    Content& c = *content_;
    const Content::Section* section = c.Current();
    if (section == nullptr) return false;
    const std::uint32_t next = c.cursor == kNone ? 0 : c.cursor + 1;
    if (next >= section->line_count) return false;
    c.cursor = next;
    const Content::Line& line = c.lines[section->first_line + next];
    c.line_number = line.number;
    c.key_cut = Deliver(key_cap, key, line.key);
    c.value_cut = Deliver(value_cap, value, line.value);
    return true;
}

void IniFile::Close() { content_.reset(); }

std::uint32_t IniFile::CommentLineCount() const {
    const Content::Section* section = content_ ? content_->Current() : nullptr;
    return section == nullptr ? 0 : section->comment_count;
}

bool IniFile::KeyCut() const { return content_ && content_->key_cut; }

bool IniFile::ValueCut() const { return content_ && content_->value_cut; }

std::uint32_t IniFile::CurrentLineNumber() const { return content_ ? content_->line_number : 0; }

}  // namespace host
