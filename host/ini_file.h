// Ini file reader of the host tool library.
//
// Open reads the whole file once and indexes it: sections and keys are found
// without rescanning. Format: "[section]" lines, "key=value" lines, lines whose
// first non-blank character is ';' are comments, blank lines are skipped; CRLF or
// LF line ends. Keys and values are trimmed of surrounding blanks; a line without
// "=" is a key with an empty value. Section and key names match without regard to
// ASCII letter case. When a section name occurs twice, the first occurrence counts;
// when a key occurs twice in a section, ReadString finds the first.
#pragma once

#include <cstdint>
#include <memory>

#include "host/text.h"

namespace host {

class IniFile {
public:
    IniFile();
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Reads the file; false when it cannot be read.
    bool Open(Cap path_cap, const char* path);
    // Makes the named section current; false when there is none (no section is current then).
    bool FindSection(Cap cap, const char* name);
    // value := the text of key in the current section; false when absent (value untouched).
    bool ReadString(Cap key_cap, const char* key, Cap value_cap, char* value);
    // *flag := truth of key's value: 1/0, true/false, yes/no, on/off in any case.
    // False (flag untouched) when the key is absent or its value is none of these.
    bool ReadBool(Cap key_cap, const char* key, Flag* flag);
    // The current section's first line: key := text before "=", value := text after it.
    bool FirstLine(Cap key_cap, char* key, Cap value_cap, char* value);
    // The line after the one last delivered; false after the section's last line.
    bool NextLine(Cap key_cap, char* key, Cap value_cap, char* value);
    // Disposes of what Open read; safe after a failed Open and when repeated.
    void Close();

    // Number of comment lines within the current section (FirstLine and NextLine
    // skip them); 0 when no section is current.
    std::uint32_t CommentLineCount() const;

    // Whether the key or the value that FirstLine, NextLine or ReadString last
    // delivered was cut to fit its buffer.
    bool KeyCut() const;
    bool ValueCut() const;

    // 1-based file line number of the line last delivered by FirstLine or NextLine,
    // or of the current section's header after FindSection; 0 when there is none.
    std::uint32_t CurrentLineNumber() const;

private:
    struct Content;
    std::unique_ptr<Content> content_;
};

}  // namespace host
