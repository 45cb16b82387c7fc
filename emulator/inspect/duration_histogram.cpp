#include "emulator/inspect/duration_histogram.h"

#include <algorithm>
#include <cmath>

namespace tovihost {

std::size_t DurationHistogram::BucketOf(std::uint64_t microseconds) {
    if (microseconds < kExactBelow) return static_cast<std::size_t>(microseconds);
    int exponent = 63;
    while ((microseconds >> exponent) == 0) --exponent;
    const std::uint64_t sub = (microseconds >> (exponent - 4)) & (kSubBuckets - 1);
    return kExactBelow + static_cast<std::size_t>(exponent - 6) * kSubBuckets + static_cast<std::size_t>(sub);
}

std::uint64_t DurationHistogram::Middle(std::size_t bucket) {
    if (bucket < kExactBelow) return bucket;
    const std::size_t offset = bucket - kExactBelow;
    const int exponent = static_cast<int>(offset / kSubBuckets) + 6;
    const std::uint64_t sub = offset % kSubBuckets;
    const std::uint64_t width = std::uint64_t{1} << (exponent - 4);
    const std::uint64_t lowest = (std::uint64_t{1} << exponent) + sub * width;
    return lowest + width / 2;
}

void DurationHistogram::Add(std::uint64_t microseconds) {
    ++buckets_[BucketOf(microseconds)];
    ++count_;
    maximum_ = std::max(maximum_, microseconds);
}

std::uint64_t DurationHistogram::Quantile(double q) const {
    if (count_ == 0) return 0;
    const double wanted = std::ceil(q * static_cast<double>(count_));
    const std::uint64_t rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(wanted));
    std::uint64_t seen = 0;
    for (std::size_t bucket = 0; bucket < kBuckets; ++bucket) {
        seen += buckets_[bucket];
        if (seen >= rank) return std::min(Middle(bucket), maximum_);
    }
    return maximum_;
}

}  // namespace tovihost
