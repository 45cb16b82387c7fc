// Display frames' number field and checksum, and the value conversions of the passes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "device/channel_values.h"
#include "device/display_command.h"

namespace {

using namespace tovi;

std::string Format(double value, double minimum = -1e9, double maximum = 1e9, bool sign = false) {
    char text[kFrameCapacity + 1];
    std::memset(text, 'x', sizeof text);
    FormatDisplayNumber(value, minimum, maximum, sign, text);
    return text;
}

TEST(DisplayNumber, SixCharactersCutWithoutRounding) {
    EXPECT_EQ(Format(12.5), "12.500");
    EXPECT_EQ(Format(123.456), "123.45");
    EXPECT_EQ(Format(0.25), "0.2500");
    EXPECT_EQ(Format(99999.99), "99999.");
    EXPECT_EQ(Format(-12.5), "12.500");  // no sign asked: the absolute value
    EXPECT_EQ(Format(-12.5, -1e9, 1e9, true), "-12.500");
    EXPECT_EQ(Format(0.0, -1e9, 1e9, true), "+0.0000");
    EXPECT_EQ(Format(-0.0, -1e9, 1e9, true), "+0.0000");
}

TEST(DisplayNumber, ClampedToTheModuleRange) {
    EXPECT_EQ(Format(500.0, -50.0, 150.5, true), "+150.50");
    EXPECT_EQ(Format(-80.0, -50.0, 150.5, true), "-50.000");
    EXPECT_EQ(Format(42.0, 0.0, 0.0), "0.0000");  // a type without display parameters
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Format(infinity, -50.0, 150.5), "150.50");
    EXPECT_EQ(Format(-infinity, -50.0, 150.5, true), "-50.000");
    EXPECT_EQ(Format(std::nan(""), -50.0, 150.5, true), "+0.0000");
    EXPECT_EQ(Format(std::nan(""), 10.0, 20.0), "10.000");
    // A range so wide that the number's text is hundreds of characters long.
    EXPECT_EQ(Format(1e300, -1e300, 1e300, true), "+100000");
    EXPECT_EQ(Format(infinity, -infinity, infinity), "0.0000");
}

TEST(DisplayFrame, ChecksumIsTheCharacterSumInHex) {
    char frame[kFrameCapacity + 1] = "$0185";
    AppendChecksum(frame);
    EXPECT_STREQ(frame, "$0185F2");
    char empty_data[kFrameCapacity + 1] = "$A9";
    AppendChecksum(empty_data);
    EXPECT_STREQ(empty_data, "$A99E");  // 0x24 + 0x41 + 0x39
}

TEST(ValueConversions, TruncationSaturatesAndBitsOutsideThePortReadZero) {
    EXPECT_EQ(TruncateToInt32(3.9), 3);
    EXPECT_EQ(TruncateToInt32(-1.5), -1);
    EXPECT_EQ(TruncateToInt32(300.7), 300);
    EXPECT_EQ(TruncateToInt32(1e20), 2147483647);
    EXPECT_EQ(TruncateToInt32(-1e20), -2147483647 - 1);
    EXPECT_EQ(TruncateToInt32(std::nan("")), 0);
    EXPECT_EQ(TruncateToInt32(std::numeric_limits<double>::infinity()), 2147483647);
    EXPECT_TRUE(BitOf(0x80, 7, 8));
    EXPECT_FALSE(BitOf(0x180, 8, 8));
    EXPECT_TRUE(BitOf(0x180, 8, 16));
    EXPECT_FALSE(BitOf(0xFFFFFFFFu, 32, 16));
    EXPECT_FALSE(BitOf(0xFFFFFFFFu, -1, 16));
    EXPECT_FALSE(BitOf(0xFFFFFFFFu, 1000, 16));
}

}  // namespace
