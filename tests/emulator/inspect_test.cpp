// The bounded-memory summaries tovihost inspect keeps: duration percentiles from
// log-scale buckets, and values over time in buckets that widen as time goes on.
#include <gtest/gtest.h>

#include <cstdint>

#include "emulator/inspect/duration_histogram.h"
#include "emulator/inspect/time_buckets.h"

namespace tovihost {
namespace {

TEST(DurationHistogram, ExactBelowSixtyFourMicroseconds) {
    DurationHistogram histogram;
    for (std::uint64_t d : {5, 7, 7, 9, 40, 63, 2}) histogram.Add(d);
    EXPECT_EQ(histogram.count(), 7u);
    EXPECT_EQ(histogram.Quantile(0.5), 7u);   // 2 5 7 [7] 9 40 63
    EXPECT_EQ(histogram.Quantile(0.95), 63u);
    EXPECT_EQ(histogram.Quantile(0.0), 2u);
    EXPECT_EQ(histogram.maximum(), 63u);
}

TEST(DurationHistogram, WithinOneThirtySecondAboveAndMaximumExact) {
    DurationHistogram histogram;
    for (std::uint64_t d = 1; d <= 100000; ++d) histogram.Add(d);
    const double median = static_cast<double>(histogram.Quantile(0.5));
    const double p95 = static_cast<double>(histogram.Quantile(0.95));
    EXPECT_NEAR(median, 50000.0, 50000.0 / 32);
    EXPECT_NEAR(p95, 95000.0, 95000.0 / 32);
    EXPECT_EQ(histogram.maximum(), 100000u);
    EXPECT_LE(histogram.Quantile(1.0), 100000u);
}

TEST(DurationHistogram, HugeDurationsAndEmpty) {
    DurationHistogram histogram;
    EXPECT_EQ(histogram.Quantile(0.5), 0u);
    histogram.Add(UINT64_MAX);
    histogram.Add(1ull << 40);
    EXPECT_EQ(histogram.maximum(), UINT64_MAX);
    EXPECT_NEAR(static_cast<double>(histogram.Quantile(0.5)), static_cast<double>(1ull << 40), (1ull << 40) / 32.0);
    EXPECT_GE(histogram.Quantile(1.0), UINT64_MAX - UINT64_MAX / 32);
}

TEST(TimeBuckets, KeepsMinimumMaximumAndLastPerBucket) {
    TimeBuckets series(1000, 10);
    series.Value(1000, 5);
    series.Value(1005, -1);
    series.Value(1009, 3);
    series.Value(1030, 7);
    series.Count(1031, true);
    ASSERT_EQ(series.used(), 4u);
    EXPECT_EQ(series.at(0).minimum, -1);
    EXPECT_EQ(series.at(0).maximum, 5);
    EXPECT_EQ(series.at(0).last, 3);
    EXPECT_FALSE(series.at(1).has_value);
    EXPECT_EQ(series.at(3).last, 7);
    EXPECT_EQ(series.at(3).failures, 1u);
    EXPECT_EQ(series.at(3).count, 1u);
}

TEST(TimeBuckets, WidensByMergingPairsWhenTimeRunsPastTheLastBucket) {
    TimeBuckets series(0, 10);
    for (std::uint64_t t = 0; t < TimeBuckets::kBuckets * 10; t += 10) series.Value(t, static_cast<double>(t));
    EXPECT_EQ(series.width(), 10u);
    series.Value(TimeBuckets::kBuckets * 10, -5);  // one past the end: pairs merge
    EXPECT_EQ(series.width(), 20u);
    EXPECT_EQ(series.used(), TimeBuckets::kBuckets / 2 + 1);
    EXPECT_EQ(series.at(0).minimum, 0);
    EXPECT_EQ(series.at(0).maximum, 10);
    EXPECT_EQ(series.at(0).last, 10);
    EXPECT_EQ(series.at(TimeBuckets::kBuckets / 2).last, -5);
    // A time far beyond widens as often as it takes, in one step.
    series.Value(1000000000, 1);
    EXPECT_LT(1000000000 / series.width(), TimeBuckets::kBuckets);
    EXPECT_EQ(series.at(0).minimum, -5);  // everything before now falls in the first bucket
    EXPECT_EQ(series.at(0).maximum, TimeBuckets::kBuckets * 10 - 10);
    EXPECT_EQ(series.at(0).last, -5);
    EXPECT_EQ(series.at(series.used() - 1).last, 1);
}

TEST(TimeBuckets, AWideningThatHalvesAnOddCountKeepsItsLastBucket) {
    // Full at width 10, then a time that takes five widenings: 240, 120, 60, 30,
    // 15 and 8 buckets, the eighth holding the last values alone.
    TimeBuckets series(0, 10);
    for (std::uint64_t t = 0; t < TimeBuckets::kBuckets * 10; t += 10) series.Value(t, static_cast<double>(t));
    series.Value(38400, -1);
    EXPECT_EQ(series.width(), 320u);
    EXPECT_EQ(series.used(), 121u);
    EXPECT_EQ(series.at(6).minimum, 1920);
    EXPECT_EQ(series.at(6).maximum, 2230);
    EXPECT_EQ(series.at(7).minimum, 2240);
    EXPECT_EQ(series.at(7).maximum, 2390);
    EXPECT_EQ(series.at(7).last, 2390);
    EXPECT_FALSE(series.at(8).has_value);
    EXPECT_EQ(series.at(120).last, -1);
}

}  // namespace
}  // namespace tovihost
