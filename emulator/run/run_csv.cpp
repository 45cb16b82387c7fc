#include "emulator/run/run_csv.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "emulator/text/file_text.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

// Every digit a value holds: the shortest text that reads back as the same double.
std::string ExactValue(const ChannelValue& value) {
    if (value.type_code == kBoolean) return value.boolean ? "true" : "false";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value.real);
    return std::string(text, result.ptr);
}

}  // namespace

bool RunCsv::Open(const std::string& command, const std::string& path) {
    std::string why = CannotWrite(path);
    if (why.empty()) {
        errno = 0;
        csv_ = std::fopen(path.c_str(), "w");
        if (csv_ == nullptr) why = std::strerror(errno);
    }
    if (csv_ == nullptr) {
        std::fprintf(stderr, "tovihost %s: --csv %s: cannot be written: %s\n", command.c_str(), path.c_str(),
                     why.c_str());
        return false;
    }
    std::fprintf(csv_, "cycle,time_s,channel,module,function,direction,value,status\n");
    return true;
}

void RunCsv::Add(long long cycle, double seconds, const ChannelOutcome& outcome, const PlantChannel& channel,
                 bool written) {
    if (csv_ == nullptr) return;
    // A read that failed has no value: GetInput then answers the channel's last good one.
    const bool has_value = outcome.finished && (written || outcome.status == 0);
    std::fprintf(csv_, "%lld,%.3f,%d,%s,%s,%s,%s,%s\n", cycle, seconds, outcome.channel,
                 CsvField(ShownCp1250(channel.module)).c_str(), CsvField(channel.Function()).c_str(),
                 written ? "write" : "read", has_value ? ExactValue(outcome.value).c_str() : "",
                 outcome.finished ? std::to_string(outcome.status).c_str() : "unfinished");
}

void RunCsv::Close() {
    if (csv_ != nullptr) std::fclose(csv_);
    csv_ = nullptr;
}

}  // namespace tovihost
