#include "emulator/plant/fault_tally.h"

#include "device_sim/device_sim.h"

namespace tovihost {

void FaultTally::Add(const std::string& label, std::int32_t id) { faults_.push_back({label, id, 0, true}); }

void FaultTally::Count(Entry& entry) {
    if (entry.live) entry.hits = devsim_fault_hits(entry.id);
}

void FaultTally::Retire(std::int32_t id) {
    for (Entry& entry : faults_) {
        if (id != -1 && entry.id != id) continue;
        Count(entry);
        entry.live = false;
    }
}

void FaultTally::Print(std::FILE* out) {
    if (faults_.empty()) return;
    std::fprintf(out, "\ninjected faults:\n");
    bool idle = false;
    for (Entry& entry : faults_) {
        Count(entry);
        std::fprintf(out, "  %s: fired %llu time%s\n", entry.label.c_str(), static_cast<unsigned long long>(entry.hits),
                     entry.hits == 1 ? "" : "s");
        idle = idle || entry.hits == 0;
    }
    for (const Entry& entry : faults_) {
        if (entry.hits == 0) std::fprintf(out, "warning: the fault %s never fired\n", entry.label.c_str());
    }
    if (idle) {
        std::fprintf(out, "  (a fault's channel= is the device's channel: the analogue channel, port, counter or "
                          "alarm number on the module, or the serial port for COM functions; not the host's channel "
                          "number)\n");
    }
}

}  // namespace tovihost
