// The faults a user injected, and how often each made a vendor call fail: reported
// at the end of a run or a scenario, with a warning for a fault that never fired
// (most often a channel= that names the host's channel, not the device's).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tovihost {

class FaultTally {
public:
    // A fault the simulator holds under id, described by label (as the user wrote it).
    void Add(const std::string& label, std::int32_t id);
    // Before the simulator drops faults (a clear, a device set loaded): keeps what
    // they counted. id -1: every fault.
    void Retire(std::int32_t id = -1);
    // "injected faults:" and a line per fault; nothing when none was injected.
    void Print(std::FILE* out);
    bool empty() const { return faults_.empty(); }

private:
    struct Entry {
        std::string label;
        std::int32_t id = 0;
        std::uint64_t hits = 0;
        bool live = true;
    };
    void Count(Entry& entry);
    std::vector<Entry> faults_;
};

}  // namespace tovihost
