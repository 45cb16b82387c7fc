// Bounded texts of the host run-time.
//
// Every text is a pair (capacity, pointer); the capacity is the highest index, so
// the array holds capacity + 1 bytes. A source ends at its first NUL or after
// capacity + 1 characters (capacity 0 passes exactly one character). A destination
// receives at most capacity characters and is always terminated; a longer result is
// cut. Positions are 0-based. A null source reads as empty; a null destination is
// left alone. Sources may overlap the destination.
#pragma once

#include <cstdint>

namespace host {

using Cap = std::uint32_t;
using Flag = std::uint8_t;  // one byte, nonzero for success or true

// Each returns the length of the resulting destination text.
std::uint32_t StrCopy(Cap dst_cap, char* dst, Cap src_cap, const char* src);
std::uint32_t StrAppend(Cap dst_cap, char* dst, Cap src_cap, const char* src);
std::uint32_t StrConcat(Cap dst_cap, char* dst, Cap cap1, const char* s1, Cap cap2, const char* s2);
std::uint32_t StrPrepend(Cap dst_cap, char* dst, Cap src_cap, const char* src);

std::uint32_t StrLength(Cap cap, const char* s);
// Exact comparison: negative, 0 or positive (bytes compared as unsigned).
std::int32_t StrCompare(Cap cap1, const char* s1, Cap cap2, const char* s2);
// Position of the first occurrence of pattern in text; -1 when absent. An empty
// pattern is never found.
std::int32_t StrFind(Cap cap1, const char* text, Cap cap2, const char* pattern);
// Position of the last occurrence of c; -1 when absent.
std::int32_t StrFindLastChar(Cap cap, const char* text, char c);

// Removes leading and trailing blanks (space, tab, CR, LF, VT, FF) in place.
void StrTrim(Cap cap, char* s);
// Lowers ASCII letters in place.
void StrLower(Cap cap, char* s);

// dst := token number index of src. Tokens are the longest runs of characters not in
// the delimiter set, counted from 0: delimiters before the first token are skipped, a
// run of delimiters separates once, and a token beyond the last is empty.
void StrToken(Cap dst_cap, char* dst, Cap src_cap, const char* src, Cap set_cap, const char* set,
              std::int32_t index);

// Removes count characters from position on; count -1 removes to the end.
void StrDelete(Cap cap, char* s, std::int32_t position, std::int32_t count);
// dst := count characters of src from position on (-1: to the end).
void StrSub(Cap dst_cap, char* dst, Cap src_cap, const char* src, std::int32_t position, std::int32_t count);

// Digits of value in radix 10 or 16 (capital letters), "-" first when negative.
// *ok (when not null) is nonzero unless the radix is unsupported.
void IntToStr(std::int32_t value, Cap dst_cap, char* dst, std::int32_t radix, Flag* ok);
// The value of s in radix 10 or 16, with an optional sign. *ok is 0 and the result 0
// unless the whole text is such a number within the signed 32-bit range; empty text fails.
std::int32_t StrToInt(Cap cap, const char* s, std::int32_t radix, Flag* ok);
// The value of a decimal real with a point and an optional exponent; *ok as StrToInt
// (infinities and NaN are not numbers here).
double StrToReal(Cap cap, const char* s, Flag* ok);
// Fixed point with exactly decimals digits after a point, "-" first when negative.
// *ok is 0 for NaN and infinities, which are written as "nan", "inf" or "-inf".
void RealToStr(std::int32_t decimals, Cap dst_cap, double value, char* dst, Flag* ok);

}  // namespace host
