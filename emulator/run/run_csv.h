// --csv FILE of a run: one line per channel outcome with the cycle, the time since
// the run began, the channel, its module and function, the direction, the value
// as every digit it holds (empty for a read that failed) and the status.
#pragma once

#include <cstdio>
#include <string>

#include "emulator/host/host_session.h"
#include "emulator/plant/plant.h"

namespace tovihost {

class RunCsv {
public:
    RunCsv() = default;
    RunCsv(const RunCsv&) = delete;
    RunCsv& operator=(const RunCsv&) = delete;
    ~RunCsv() { Close(); }

    // Creates the file with its heading; false with the message printed.
    bool Open(const std::string& command, const std::string& path);
    // One outcome; nothing when no file is open.
    void Add(long long cycle, double seconds, const ChannelOutcome& outcome, const PlantChannel& channel, bool written);
    void Close();

private:
    std::FILE* csv_ = nullptr;
};

}  // namespace tovihost
