// Call durations in a fixed number of log-scale buckets: exact below 64 µs, then
// 16 buckets per power of two (within 1/32 of the value), so that a week of calls
// takes the same few kilobytes as a minute. The maximum is kept exactly.
#pragma once

#include <array>
#include <cstdint>

namespace tovihost {

class DurationHistogram {
public:
    // Durations below this are counted exactly.
    static constexpr std::uint64_t kExactBelow = 64;

    void Add(std::uint64_t microseconds);
    std::uint64_t count() const { return count_; }
    std::uint64_t maximum() const { return maximum_; }
    // The duration at quantile q (0.5 the median) by the nearest rank: exact below
    // kExactBelow, else the middle of its bucket (never above the maximum). 0 when empty.
    std::uint64_t Quantile(double q) const;

private:
    static constexpr int kSubBuckets = 16;
    static constexpr std::size_t kBuckets = kExactBelow + (64 - 6) * kSubBuckets;
    static std::size_t BucketOf(std::uint64_t microseconds);
    static std::uint64_t Middle(std::size_t bucket);

    std::array<std::uint64_t, kBuckets> buckets_{};
    std::uint64_t count_ = 0;
    std::uint64_t maximum_ = 0;
};

}  // namespace tovihost
