#include "host/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>

namespace {

using namespace host;

TEST(Text, CopyCutsToCapacityAndTerminates) {
    char dst[6];
    EXPECT_EQ(StrCopy(5, dst, 20, "abcdefgh"), 5u);
    EXPECT_STREQ(dst, "abcde");
    EXPECT_EQ(StrCopy(0, dst, 20, "abc"), 0u);
    EXPECT_STREQ(dst, "");
    // A source of capacity 0 is exactly one character, with no NUL after it.
    const char single[2] = {'x', 'y'};
    EXPECT_EQ(StrCopy(5, dst, 0, single), 1u);
    EXPECT_STREQ(dst, "x");
    const char unterminated[3] = {'p', 'q', 'r'};
    EXPECT_EQ(StrLength(2, unterminated), 3u);
    EXPECT_EQ(StrCopy(5, dst, 5, nullptr), 0u);
    EXPECT_STREQ(dst, "");
}

TEST(Text, AppendConcatAndPrependOntoThemselves) {
    char dst[12] = "ab";
    EXPECT_EQ(StrConcat(11, dst, 11, dst, 2, " : "), 5u);
    EXPECT_STREQ(dst, "ab : ");
    EXPECT_EQ(StrPrepend(11, dst, 11, dst), 10u);
    EXPECT_STREQ(dst, "ab : ab : ");
    EXPECT_EQ(StrAppend(11, dst, 11, dst), 11u);
    EXPECT_STREQ(dst, "ab : ab : a");
    std::strcpy(dst, "xyz");
    EXPECT_EQ(StrPrepend(11, dst, 3, "12345"), 7u);
    EXPECT_STREQ(dst, "1234xyz");
}

// Every placement of both sources around and inside the destination against a reference.
TEST(Text, ConcatWithSourcesAnywhereInTheDestination) {
    std::mt19937 random(7);
    for (int round = 0; round < 40000; ++round) {
        char buffer[40];
        for (char& c : buffer) c = static_cast<char>('a' + random() % 26);
        buffer[39] = '\0';
        char* const dst = buffer + random() % 8;
        const auto a = random() % 39, b = random() % 39;
        const Cap cap1 = random() % (39 - a), cap2 = random() % (39 - b);
        const Cap dst_cap = random() % static_cast<Cap>(buffer + 39 - dst);
        const std::string s1(buffer + a, cap1 + 1), s2(buffer + b, cap2 + 1);
        const std::string expected = (s1 + s2).substr(0, dst_cap);
        EXPECT_EQ(StrConcat(dst_cap, dst, cap1, buffer + a, cap2, buffer + b), expected.size());
        ASSERT_EQ(std::string(dst), expected) << a << ' ' << cap1 << ' ' << b << ' ' << cap2 << ' ' << dst_cap;
    }
}

TEST(Text, TokensFindAndCompare) {
    char dst[8];
    const char* text = ", a, bb,,ccc ";
    const std::pair<int, const char*> tokens[] = {{0, "a"}, {1, "bb"}, {2, "ccc"}, {3, ""}, {-1, ""}};
    for (const auto& [index, expected] : tokens) {
        StrToken(7, dst, 40, text, 2, " ,", index);
        EXPECT_STREQ(dst, expected) << index;
    }
    std::strcpy(dst, "k=v");
    StrToken(7, dst, 7, dst, 0, "=", 1);
    EXPECT_STREQ(dst, "v");

    EXPECT_EQ(StrFind(20, "abcabc", 20, "ca"), 2);
    EXPECT_EQ(StrFind(20, "abc", 20, ""), -1);
    EXPECT_EQ(StrFind(20, "abc", 20, "abcd"), -1);
    EXPECT_EQ(StrFind(20, "abc", 20, "B"), -1);
    EXPECT_EQ(StrFindLastChar(20, "a.b.c", '.'), 3);
    EXPECT_EQ(StrFindLastChar(20, "abc", '.'), -1);
    EXPECT_LT(StrCompare(9, "ab", 9, "abc"), 0);
    EXPECT_GT(StrCompare(9, "\xE9", 9, "z"), 0);
    EXPECT_EQ(StrCompare(1, "abc", 9, "ab"), 0);
}

TEST(Text, InPlaceEditsStayWithinTheText) {
    char s[16] = " \t\r\nab c\v\f ";
    StrTrim(15, s);
    EXPECT_STREQ(s, "ab c");
    std::strcpy(s, "MiXeD-\xC4");
    StrLower(15, s);
    EXPECT_STREQ(s, "mixed-\xC4");
    std::strcpy(s, "abcdef");
    StrDelete(15, s, 1, 2);
    EXPECT_STREQ(s, "adef");
    StrDelete(15, s, 2, -1);
    EXPECT_STREQ(s, "ad");
    StrDelete(15, s, 1, 100);
    EXPECT_STREQ(s, "a");
    for (const auto& [position, count] : {std::pair{-1, 1}, {5, 1}, {0, -2}, {0, 0}}) StrDelete(15, s, position, count);
    EXPECT_STREQ(s, "a");

    char dst[4];
    StrSub(3, dst, 15, "abcdef", 1, -1);
    EXPECT_STREQ(dst, "bcd");
    StrSub(3, dst, 15, "abcdef", 4, 9);
    EXPECT_STREQ(dst, "ef");
    StrSub(3, dst, 15, "abcdef", 6, 1);
    EXPECT_STREQ(dst, "");
    StrSub(3, dst, 15, "abcdef", -1, 1);
    EXPECT_STREQ(dst, "");
}

TEST(Text, IntegerConversions) {
    char dst[16];
    Flag ok = 0;
    const std::tuple<std::int32_t, std::int32_t, const char*> written[] = {
        {0, 10, "0"}, {-2147483647 - 1, 10, "-2147483648"}, {-255, 16, "-FF"}, {0x7FFFFFFF, 16, "7FFFFFFF"}};
    for (const auto& [value, radix, expected] : written) {
        IntToStr(value, 15, dst, radix, &ok);
        EXPECT_STREQ(dst, expected);
        EXPECT_EQ(ok, 1);
    }
    IntToStr(5, 15, dst, 8, &ok);
    EXPECT_EQ(ok, 0);
    IntToStr(-12345, 3, dst, 10, &ok);
    EXPECT_STREQ(dst, "-12");

    const std::tuple<const char*, std::int32_t, std::int32_t, Flag> read[] = {
        {"2147483647", 10, 2147483647, 1}, {"2147483648", 10, 0, 0}, {"-2147483648", 10, -2147483647 - 1, 1},
        {"-2147483649", 10, 0, 0},         {"99999999999999999999", 10, 0, 0}, {"", 10, 0, 0},
        {"-", 10, 0, 0},                   {"12x", 10, 0, 0},          {" 12", 10, 0, 0},
        {"+12", 10, 12, 1},                {"fF", 16, 255, 1},         {"-80000000", 16, -2147483647 - 1, 1},
        {"80000000", 16, 0, 0},            {"1A", 10, 0, 0},           {"7", 2, 0, 0}};
    for (const auto& [text, radix, value, flag] : read) {
        ok = 9;
        EXPECT_EQ(StrToInt(40, text, radix, &ok), value) << text;
        EXPECT_EQ(ok, flag) << text;
    }
}

TEST(Text, RealConversions) {
    Flag ok = 0;
    const std::tuple<const char*, double, Flag> read[] = {
        {"1.5", 1.5, 1},   {"-2.25e2", -225.0, 1}, {"+0.5", 0.5, 1}, {"+-1", 0, 0}, {"inf", 0, 0},
        {"nan", 0, 0},     {"1.0x", 0, 0},         {"", 0, 0},       {"1e999", 0, 0}, {" 1", 0, 0}};
    for (const auto& [text, value, flag] : read) {
        EXPECT_EQ(StrToReal(40, text, &ok), value) << text;
        EXPECT_EQ(ok, flag) << text;
    }

    char dst[16];
    const std::tuple<double, std::int32_t, const char*> written[] = {
        {2.675, 1, "2.7"}, {-1.005, 2, "-1.00"}, {-0.001, 2, "0.00"}, {-0.0, 0, "0"},
        {1234.5, 0, "1234"}, {-7.25, -3, "-7"}, {0.125, 3, "0.125"}};
    for (const auto& [value, decimals, expected] : written) {
        RealToStr(decimals, 15, value, dst, &ok);
        EXPECT_STREQ(dst, expected) << value;
        EXPECT_EQ(ok, 1);
    }
    RealToStr(2, 15, -std::numeric_limits<double>::infinity(), dst, &ok);
    EXPECT_STREQ(dst, "-inf");
    EXPECT_EQ(ok, 0);
    RealToStr(2, 15, std::nan(""), dst, &ok);
    EXPECT_STREQ(dst, "nan");
    RealToStr(20, 15, 1e300, dst, &ok);
    EXPECT_EQ(std::strlen(dst), 15u);
}

}  // namespace
