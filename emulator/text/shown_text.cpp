#include "emulator/text/shown_text.h"

#include <cstdio>

#include "diagnostics/cp1250.h"

namespace tovihost {
namespace {

void AppendHex(std::string& out, unsigned char byte) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    out += hex;
}

// Length of the sequence at text[at] when it is well formed and not a C1
// control (U+0080..U+009F, shown as bytes), or 0.
std::size_t SequenceLength(const std::string& text, std::size_t at) {
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 2 && static_cast<unsigned char>(text[at]) == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
        return 0;
    }
    return length;
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

std::size_t Utf8SequenceLength(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t code_point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code_point = (code_point << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && code_point < 0x800) || (length == 4 && code_point < 0x10000);
    const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
    return overlong || surrogate || code_point > 0x10FFFF ? 0 : length;
}

std::string ShownCp1250(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControl(byte) || (byte >= 0x80 && tovi::text::kCp1250Upper[byte - 0x80] == 0)) {
            AppendHex(out, byte);
        } else {
            out += tovi::text::Utf8FromCp1250(std::string_view(&c, 1));
        }
    }
    return out;
}

std::string ShownUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            if (IsControl(byte)) AppendHex(out, byte);
            else out += bytes[i];
            ++i;
            continue;
        }
        const std::size_t length = SequenceLength(bytes, i);
        if (length == 0) {
            AppendHex(out, byte);
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return out;
}

std::size_t Columns(const std::string& utf8) {
    std::size_t columns = 0;
    for (const char c : utf8) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return columns;
}

std::string PadColumns(const std::string& utf8, std::size_t width) {
    const std::size_t columns = Columns(utf8);
    return columns >= width ? utf8 : utf8 + std::string(width - columns, ' ');
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string FitColumns(const std::string& utf8, std::size_t width) {
    if (Columns(utf8) <= width) return PadColumns(utf8, width);
    if (width == 0) return "";
    std::string out;
    std::size_t columns = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const bool starts = (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80;
        if (starts && ++columns == width) break;
        out += utf8[i];
    }
    return out + "~";
}

}  // namespace tovihost
