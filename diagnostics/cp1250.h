// Windows-1250, the code page of every text the driver hands the host.
//
// Texts are written in this source as UTF-8 and turned into Windows-1250 bytes at
// compile time with Cp1250("..."); a character outside the code page stops the
// build. Tools that show the driver's texts turn them back with Utf8FromCp1250.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tovi::text {

// Unicode code points of the bytes 0x80 to 0xFF; 0 where the code page has none.
inline constexpr char16_t kCp1250Upper[128] = {
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021, 0x0000, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// The Windows-1250 byte of a code point; -1 when the code page has none.
constexpr int Cp1250Byte(char32_t code_point) {
    if (code_point < 0x80) return static_cast<int>(code_point);
    for (int i = 0; i < 128; ++i) {
        if (kCp1250Upper[i] != 0 && kCp1250Upper[i] == code_point) return 0x80 + i;
    }
    return -1;
}

// A NUL-terminated Windows-1250 text made at compile time.
template <std::size_t N>
struct Cp1250Text {
    char bytes[N] = {};
    std::uint32_t length = 0;

    constexpr const char* c_str() const { return bytes; }
    constexpr std::string_view view() const { return {bytes, length}; }
    // The highest index of the text, as a bounded source capacity.
    constexpr std::uint32_t capacity() const { return length; }
};

template <std::size_t N>
consteval Cp1250Text<N> Cp1250(const char (&utf8)[N]) {
    Cp1250Text<N> out;
    std::size_t i = 0;
    while (i + 1 < N) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        char32_t code_point = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            code_point = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code_point = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            code_point = lead & 0x0F;
            extra = 2;
        } else {
            throw "text holds a character outside Windows-1250";
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            code_point = (code_point << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += 1 + extra;
        const int byte = Cp1250Byte(code_point);
        if (byte < 0) throw "text holds a character outside Windows-1250";
        out.bytes[out.length++] = static_cast<char>(byte);
    }
    return out;
}

// UTF-8 form of a Windows-1250 text; bytes without a character become U+FFFD.
inline std::string Utf8FromCp1250(std::string_view cp1250) {
    std::string out;
    out.reserve(cp1250.size() + cp1250.size() / 4);
    for (const char c : cp1250) {
        const unsigned char byte = static_cast<unsigned char>(c);
        char32_t code_point = byte < 0x80 ? byte : kCp1250Upper[byte - 0x80];
        if (byte >= 0x80 && code_point == 0) code_point = 0xFFFD;
        if (code_point < 0x80) {
            out += static_cast<char>(code_point);
        } else if (code_point < 0x800) {
            out += static_cast<char>(0xC0 | (code_point >> 6));
            out += static_cast<char>(0x80 | (code_point & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code_point >> 12));
            out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code_point & 0x3F));
        }
    }
    return out;
}

// Windows-1250 form of a UTF-8 text, for tools; characters outside the code page become '?'.
inline std::string Cp1250FromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        std::size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : 3;
        char32_t code_point = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F) : (lead & 0x07);
        if (i + extra >= utf8.size()) extra = utf8.size() - i - 1;  // cut sequence at the end
        for (std::size_t k = 1; k <= extra; ++k) {
            code_point = (code_point << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += 1 + extra;
        const int byte = Cp1250Byte(code_point);
        out += byte < 0 ? '?' : static_cast<char>(byte);
    }
    return out;
}

}  // namespace tovi::text
