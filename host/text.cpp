// Bounded texts of the host run-time. Nothing here allocates: results are built in
// place with memmove, so a source may be any part of the destination.
#include "host/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>

namespace host {
namespace {

// Length of a source text: up to its first NUL, at most cap + 1 characters.
std::size_t SourceLength(Cap cap, const char* s) {
    if (s == nullptr) return 0;
    const std::uint64_t limit = std::uint64_t{cap} + 1;
    std::size_t n = 0;
    while (n < limit && s[n] != '\0') ++n;
    return n;
}

std::string_view View(Cap cap, const char* s) { return {s == nullptr ? "" : s, SourceLength(cap, s)}; }

// Length of a destination's present text, never more than its capacity.
std::size_t DestinationLength(Cap cap, const char* s) { return std::min<std::size_t>(SourceLength(cap, s), cap); }

std::uint32_t ToLength(std::size_t n) { return static_cast<std::uint32_t>(n); }

std::int32_t ToPosition(std::size_t n) {
    return n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) ? -1 : static_cast<std::int32_t>(n);
}

// dst := text, cut to cap characters. text may lie inside dst.
std::uint32_t Put(Cap cap, char* dst, const char* text, std::size_t length) {
    if (dst == nullptr) return 0;
    const std::size_t n = std::min<std::size_t>(length, cap);
    if (n != 0) std::memmove(dst, text, n);
    dst[n] = '\0';
    return ToLength(n);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Signed distance from base to p; only used for pointers into the same array.
std::ptrdiff_t Offset(const char* base, const char* p) {
    return static_cast<std::ptrdiff_t>(reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(base));
}

// True when [p, p + n) and [q, q + m) share a byte.
bool Intersect(const char* p, std::size_t n, const char* q, std::size_t m) {
    if (n == 0 || m == 0) return false;
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t b = reinterpret_cast<std::uintptr_t>(q);
    return a < b + m && b < a + n;
}

// Places n1 characters of s1 and then n2 characters of s2 at dst and terminates.
// Either source may lie anywhere, including inside dst and inside each other; when
// both are in the way of the other's copy they are rearranged within dst itself.
void PlaceTwo(char* dst, const char* s1, std::size_t n1, const char* s2, std::size_t n2) {
    if (!Intersect(s2, n2, dst, n1)) {
        // Writing s1 leaves s2 intact.
        if (n1 != 0) std::memmove(dst, s1, n1);
        if (n2 != 0) std::memmove(dst + n1, s2, n2);
    } else if (!Intersect(s1, n1, dst + n1, n2)) {
        // Writing s2 leaves s1 intact.
        std::memmove(dst + n1, s2, n2);
        if (n1 != 0) std::memmove(dst, s1, n1);
    } else {
        // Both sources lie in dst's array, each in the way of the other.
        std::ptrdiff_t a = Offset(dst, s1);
        std::ptrdiff_t b = Offset(dst, s2);
        const auto sn1 = static_cast<std::ptrdiff_t>(n1);
        const auto sn2 = static_cast<std::ptrdiff_t>(n2);
        if (a + sn1 <= b || b + sn2 <= a) {
            // Apart, s2 before s1: bring both to the front as s2 s1, then rotate.
            if (b >= 0) {
                std::memmove(dst, dst + b, n2);
                std::memmove(dst + n2, dst + a, n1);
            } else {
                std::memmove(dst + n2, dst + a, n1);
                std::memmove(dst, dst + b, n2);
            }
            std::rotate(dst, dst + n2, dst + n1 + n2);
        } else {
            // Overlapping: move their union to the front; it is shorter than the result.
            const std::ptrdiff_t low = std::min(a, b);
            const std::ptrdiff_t high = std::max(a + sn1, b + sn2);
            const auto u = static_cast<std::size_t>(high - low);
            std::memmove(dst, dst + low, u);
            a -= low;
            b -= low;
            if (a == 0 && sn1 >= b + sn2) {
                // s2 within s1.
                std::memcpy(dst + n1, dst + b, n2);
            } else if (a == 0) {
                // s1 = P Q, s2 = Q R: make P Q Q R.
                const std::size_t q = n1 - static_cast<std::size_t>(b);
                std::memmove(dst + n1 + q, dst + n1, n2 - q);
                std::memcpy(dst + n1, dst + b, q);
            } else if (sn2 >= a + sn1) {
                // s1 within s2.
                std::memmove(dst + n1, dst, n2);
                std::memcpy(dst, dst + n1 + a, n1);
            } else {
                // s2 = P Q, s1 = Q R: make Q R P, then Q R P Q.
                const std::size_t q = n2 - static_cast<std::size_t>(a);
                std::rotate(dst, dst + a, dst + u);
                std::memcpy(dst + u, dst, q);
            }
        }
    }
    dst[n1 + n2] = '\0';
}

std::uint32_t Concat(Cap dst_cap, char* dst, const char* s1, std::size_t l1, const char* s2, std::size_t l2) {
    if (dst == nullptr) return 0;
    const std::size_t n1 = std::min<std::size_t>(l1, dst_cap);
    const std::size_t n2 = std::min<std::size_t>(l2, dst_cap - n1);
    PlaceTwo(dst, s1, n1, s2, n2);
    return ToLength(n1 + n2);
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

void SetFlag(Flag* ok, bool value) {
    if (ok != nullptr) *ok = value ? 1 : 0;
}

}  // namespace

std::uint32_t StrCopy(Cap dst_cap, char* dst, Cap src_cap, const char* src) {
    const std::string_view s = View(src_cap, src);
    return Put(dst_cap, dst, s.data(), s.size());
}

std::uint32_t StrAppend(Cap dst_cap, char* dst, Cap src_cap, const char* src) {
    if (dst == nullptr) return 0;
    return Concat(dst_cap, dst, dst, DestinationLength(dst_cap, dst), src == nullptr ? "" : src,
                  SourceLength(src_cap, src));
}

std::uint32_t StrConcat(Cap dst_cap, char* dst, Cap cap1, const char* s1, Cap cap2, const char* s2) {
    const std::string_view first = View(cap1, s1);
    const std::string_view second = View(cap2, s2);
    return Concat(dst_cap, dst, first.data(), first.size(), second.data(), second.size());
}

std::uint32_t StrPrepend(Cap dst_cap, char* dst, Cap src_cap, const char* src) {
    if (dst == nullptr) return 0;
    const std::string_view first = View(src_cap, src);
    return Concat(dst_cap, dst, first.data(), first.size(), dst, DestinationLength(dst_cap, dst));
}

std::uint32_t StrLength(Cap cap, const char* s) { return ToLength(SourceLength(cap, s)); }

std::int32_t StrCompare(Cap cap1, const char* s1, Cap cap2, const char* s2) {
    const std::string_view a = View(cap1, s1);
    const std::string_view b = View(cap2, s2);
    const std::size_t n = std::min(a.size(), b.size());
    const int order = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);  // memcmp compares unsigned bytes
    if (order != 0) return order < 0 ? -1 : 1;
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::int32_t StrFind(Cap cap1, const char* text, Cap cap2, const char* pattern) {
    const std::string_view t = View(cap1, text);
    const std::string_view p = View(cap2, pattern);
    if (p.empty()) return -1;
    const std::size_t at = t.find(p);
    return at == std::string_view::npos ? -1 : ToPosition(at);
}

std::int32_t StrFindLastChar(Cap cap, const char* text, char c) {
    const std::size_t at = View(cap, text).rfind(c);
    return at == std::string_view::npos ? -1 : ToPosition(at);
}

void StrTrim(Cap cap, char* s) {
    if (s == nullptr) return;
    const std::size_t length = SourceLength(cap, s);
    std::size_t begin = 0;
    std::size_t end = length;
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
    if (begin == 0 && end == length) return;
    std::memmove(s, s + begin, end - begin);
    s[end - begin] = '\0';  // shorter than before, so within the array
}

void StrLower(Cap cap, char* s) {
    if (s == nullptr) return;
    const std::size_t length = SourceLength(cap, s);
    for (std::size_t i = 0; i < length; ++i) {
        if (s[i] >= 'A' && s[i] <= 'Z') s[i] = static_cast<char>(s[i] - 'A' + 'a');
    }
}

void StrToken(Cap dst_cap, char* dst, Cap src_cap, const char* src, Cap set_cap, const char* set,
              std::int32_t index) {
    const std::string_view text = View(src_cap, src);
    const std::string_view delimiters = View(set_cap, set);
    if (index < 0) {
        Put(dst_cap, dst, "", 0);
        return;
    }
    std::size_t at = 0;
    for (std::int32_t token = 0;; ++token) {
        at = text.find_first_not_of(delimiters, at);
        if (at == std::string_view::npos) {
            Put(dst_cap, dst, "", 0);
            return;
        }
        std::size_t end = text.find_first_of(delimiters, at);
        if (end == std::string_view::npos) end = text.size();
        if (token == index) {
            Put(dst_cap, dst, text.data() + at, end - at);
            return;
        }
        at = end;
    }
}

void StrDelete(Cap cap, char* s, std::int32_t position, std::int32_t count) {
    if (s == nullptr || position < 0 || count == 0 || count < -1) return;
    const std::size_t length = SourceLength(cap, s);
    const auto from = static_cast<std::size_t>(position);
    if (from >= length) return;
    const std::size_t rest = length - from;
    const std::size_t removed = count == -1 ? rest : std::min<std::size_t>(static_cast<std::size_t>(count), rest);
    std::memmove(s + from, s + from + removed, rest - removed);
    s[length - removed] = '\0';  // at least one character removed, so within the array
}

void StrSub(Cap dst_cap, char* dst, Cap src_cap, const char* src, std::int32_t position, std::int32_t count) {
    const std::string_view text = View(src_cap, src);
    if (position < 0 || count < -1 || static_cast<std::size_t>(position) >= text.size()) {
        Put(dst_cap, dst, "", 0);
        return;
    }
    const std::string_view part =
        text.substr(static_cast<std::size_t>(position), count == -1 ? std::string_view::npos : static_cast<std::size_t>(count));
    Put(dst_cap, dst, part.data(), part.size());
}

void IntToStr(std::int32_t value, Cap dst_cap, char* dst, std::int32_t radix, Flag* ok) {
    if (radix != 10 && radix != 16) {
        SetFlag(ok, false);
        Put(dst_cap, dst, "", 0);
        return;
    }
    // Magnitude in unsigned arithmetic, so that the most negative value is exact.
    std::uint32_t magnitude = static_cast<std::uint32_t>(value);
    if (value < 0) magnitude = 0u - magnitude;
    char digits[34];
    char* end = digits + sizeof digits;
    char* p = end;
    const auto base = static_cast<std::uint32_t>(radix);
    do {
        *--p = "0123456789ABCDEF"[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    Put(dst_cap, dst, p, static_cast<std::size_t>(end - p));
    SetFlag(ok, true);
}

std::int32_t StrToInt(Cap cap, const char* s, std::int32_t radix, Flag* ok) {
    SetFlag(ok, false);
    if (radix != 10 && radix != 16) return 0;
    const std::string_view text = View(cap, s);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return 0;
    // The magnitude may reach 2^31 only for a negative number.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i]);
        if (digit >= radix) return 0;
        magnitude = magnitude * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(digit);
        if (magnitude > limit) return 0;
    }
    SetFlag(ok, true);
    if (negative) return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    return static_cast<std::int32_t>(magnitude);
}

double StrToReal(Cap cap, const char* s, Flag* ok) {
    SetFlag(ok, false);
    std::string_view text = View(cap, s);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return 0.0;
    }
    if (text.empty()) return 0.0;
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return 0.0;
    SetFlag(ok, true);
    return value;
}

void RealToStr(std::int32_t decimals, Cap dst_cap, double value, char* dst, Flag* ok) {
    if (std::isnan(value)) {
        Put(dst_cap, dst, "nan", 3);
        SetFlag(ok, false);
        return;
    }
    if (std::isinf(value)) {
        if (value < 0) {
            Put(dst_cap, dst, "-inf", 4);
        } else {
            Put(dst_cap, dst, "inf", 3);
        }
        SetFlag(ok, false);
        return;
    }
    constexpr std::int32_t kMostDecimals = 20;
    const std::int32_t precision = std::clamp(decimals, 0, kMostDecimals);
    // The largest double has 309 integer digits.
    char text[352];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
    if (error != std::errc{}) {
        Put(dst_cap, dst, "", 0);
        SetFlag(ok, false);
        return;
    }
    const char* begin = text;
    // A value that rounds to zero is written without a sign.
    if (*begin == '-' && std::all_of(begin + 1, static_cast<const char*>(end), [](char c) { return c == '0' || c == '.'; })) {
        ++begin;
    }
    Put(dst_cap, dst, begin, static_cast<std::size_t>(end - begin));
    SetFlag(ok, true);
}

}  // namespace host
