// Memory blocks of the host run-time, with a failure hook for tests.
#include "host/memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

// The call number at which failures start (0: none); the top bit marks "from then on".
// One word, so that a failure plan is always read whole by concurrent callers.
constexpr std::uint64_t kFromThenOnBit = std::uint64_t{1} << 63;

std::atomic<std::uint64_t> g_calls{0};
std::atomic<std::int64_t> g_live{0};
std::atomic<std::uint64_t> g_failure_plan{0};

bool ShouldFail(std::uint64_t call) {
    const std::uint64_t plan = g_failure_plan.load(std::memory_order_acquire);
    const std::uint64_t first = plan & ~kFromThenOnBit;
    if (first == 0) return false;
    if (call == first) return true;
    return (plan & kFromThenOnBit) != 0 && call > first;
}

}  // namespace

void MemAlloc(void** block, std::uint32_t size) {
    if (block == nullptr) return;
    *block = nullptr;
    const std::uint64_t call = g_calls.fetch_add(1, std::memory_order_acq_rel) + 1;
    if (ShouldFail(call)) return;
    // A block of size 0 is still a distinct, releasable block.
    void* obtained = std::malloc(size == 0 ? 1 : size);
    if (obtained == nullptr) return;
    g_live.fetch_add(1, std::memory_order_relaxed);
    *block = obtained;
}

void MemFree(void** block) {
    if (block == nullptr || *block == nullptr) return;
    std::free(*block);
    *block = nullptr;
    g_live.fetch_sub(1, std::memory_order_relaxed);
}

void MemFill(void* block, std::uint32_t count, std::uint8_t value) {
    if (block == nullptr || count == 0) return;
    std::memset(block, value, count);
}

namespace testing {

void FailAllocation(std::uint64_t nth, FailMode mode) {
    if (nth == 0) {
        g_failure_plan.store(0, std::memory_order_release);
        return;
    }
    const std::uint64_t first = g_calls.load(std::memory_order_acquire) + nth;
    const std::uint64_t plan = (first & ~kFromThenOnBit) | (mode == FailMode::FromThenOn ? kFromThenOnBit : 0);
    g_failure_plan.store(plan, std::memory_order_release);
}

std::uint64_t AllocationCount() { return g_calls.load(std::memory_order_acquire); }

std::int64_t LiveBlocks() { return g_live.load(std::memory_order_relaxed); }

}  // namespace testing
}  // namespace host
