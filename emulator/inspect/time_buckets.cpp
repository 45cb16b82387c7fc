#include "emulator/inspect/time_buckets.h"

#include <algorithm>

namespace tovihost {

TimeBuckets::TimeBuckets(std::uint64_t origin, std::uint64_t first_width)
    : origin_(origin), width_(std::max<std::uint64_t>(first_width, 1)) {}

void TimeBuckets::Widen() {
    for (std::size_t i = 0; i < kBuckets / 2; ++i) {
        TimeBucket merged = buckets_[2 * i];
        const TimeBucket& later = buckets_[2 * i + 1];
        merged.count += later.count;
        merged.failures += later.failures;
        merged.minimum = std::min(merged.minimum, later.minimum);
        merged.maximum = std::max(merged.maximum, later.maximum);
        if (later.has_value) merged.last = later.last;
        merged.has_value = merged.has_value || later.has_value;
        buckets_[i] = merged;
    }
    std::fill(buckets_.begin() + kBuckets / 2, buckets_.end(), TimeBucket{});
    used_ = (used_ + 1) / 2;
    width_ *= 2;
}

TimeBucket& TimeBuckets::At(std::uint64_t t) {
    const std::uint64_t offset = t > origin_ ? t - origin_ : 0;
    while (offset / width_ >= kBuckets) Widen();
    const auto index = static_cast<std::size_t>(offset / width_);
    used_ = std::max(used_, index + 1);
    return buckets_[index];
}

void TimeBuckets::Count(std::uint64_t t, bool failed) {
    TimeBucket& bucket = At(t);
    ++bucket.count;
    if (failed) ++bucket.failures;
}

void TimeBuckets::Value(std::uint64_t t, double value) {
    TimeBucket& bucket = At(t);
    bucket.minimum = std::min(bucket.minimum, value);
    bucket.maximum = std::max(bucket.maximum, value);
    bucket.last = value;
    bucket.has_value = true;
}

}  // namespace tovihost
