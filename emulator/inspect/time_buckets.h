// Values over time in a fixed number of buckets: each bucket keeps how many values
// fell in it, how many of them were failures, and their minimum, maximum and last.
// When a value comes past the last bucket, neighbouring buckets are merged in pairs
// and the width doubles, so any length of recording takes the same room.
#pragma once

#include <array>
#include <cstdint>
#include <limits>

namespace tovihost {

struct TimeBucket {
    std::uint64_t count = 0;
    std::uint64_t failures = 0;
    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -std::numeric_limits<double>::infinity();
    double last = 0;
    bool has_value = false;  // a value was added (counts alone carry none)
};

class TimeBuckets {
public:
    static constexpr std::size_t kBuckets = 240;

    // Times are microseconds; origin is where the first bucket starts.
    TimeBuckets() : TimeBuckets(0) {}
    explicit TimeBuckets(std::uint64_t origin, std::uint64_t first_width = 1000);

    // One event at time t (at or after the origin): a call, failed or not.
    void Count(std::uint64_t t, bool failed);
    // One value at time t.
    void Value(std::uint64_t t, double value);

    std::uint64_t origin() const { return origin_; }
    std::uint64_t width() const { return width_; }
    // Buckets in use: 0 .. used()-1.
    std::size_t used() const { return used_; }
    const TimeBucket& at(std::size_t index) const { return buckets_[index]; }

private:
    TimeBucket& At(std::uint64_t t);
    void Widen();

    std::array<TimeBucket, kBuckets> buckets_{};
    std::uint64_t origin_;
    std::uint64_t width_;
    std::size_t used_ = 0;
};

}  // namespace tovihost
