// Reads back what `tovihost run --csv FILE --trace` wrote: every CSV row has the
// documented columns and values, every input channel appears once per cycle, and
// every trace line on the standard output is a call line the simulator's own
// parser accepts, after the time it was made. With FAILED, that channel has at
// least one failed read, and no failed read has a value.
//   run_output_check CSV OUTPUT CYCLES INPUTS [FAILED]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device_sim/device_sim.h"

namespace {

int failures = 0;

void Fail(const std::string& what) {
    std::fprintf(stderr, "run_output_check: %s\n", what.c_str());
    ++failures;
}

// RFC 4180 fields of one line.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

bool IsNumber(const std::string& text) {
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

void CheckCsv(const std::string& path, long cycles, long inputs, const std::string& failed) {
    std::ifstream file(path);
    std::string line;
    if (!std::getline(file, line) || line != "cycle,time_s,channel,module,function,direction,value,status") {
        Fail(path + ": the header is missing or differs: " + line);
        return;
    }
    std::map<long, std::set<std::string>> reads;  // cycle -> channels read
    std::set<std::string> failed_reads;
    long rows = 0;
    while (std::getline(file, line)) {
        ++rows;
        const std::vector<std::string> f = Fields(line);
        const std::string where = path + ":" + std::to_string(rows + 1) + ": ";
        if (f.size() != 8) {
            Fail(where + "expected 8 fields: " + line);
            continue;
        }
        const long cycle = std::strtol(f[0].c_str(), nullptr, 10);
        if (cycle < 1 || cycle > cycles) Fail(where + "cycle out of range: " + f[0]);
        if (!IsNumber(f[1]) || std::strtod(f[1].c_str(), nullptr) < 0) Fail(where + "bad time: " + f[1]);
        if (!IsNumber(f[2])) Fail(where + "bad channel: " + f[2]);
        if (f[3].empty() || f[4].empty()) Fail(where + "module or function missing");
        if (f[5] != "read" && f[5] != "write") Fail(where + "bad direction: " + f[5]);
        if (f[7] != "0" && f[7] != "2") Fail(where + "bad status: " + f[7]);
        if (f[5] == "read" && f[7] == "2") {
            failed_reads.insert(f[2]);
            if (!f[6].empty()) Fail(where + "a failed read has a value: " + f[6]);
        } else if (f[6] != "true" && f[6] != "false" && !IsNumber(f[6])) {
            Fail(where + "bad value: " + f[6]);
        }
        if (f[5] == "read" && !reads[cycle].insert(f[2]).second) Fail(where + "channel read twice in a cycle");
    }
    if (static_cast<long>(reads.size()) != cycles) Fail(path + ": not every cycle has reads");
    if (!failed.empty() && failed_reads.count(failed) == 0) Fail(path + ": channel " + failed + " never failed a read");
    for (const auto& [cycle, channels] : reads) {
        if (static_cast<long>(channels.size()) != inputs) {
            Fail(path + ": cycle " + std::to_string(cycle) + " read " + std::to_string(channels.size()) +
                 " channels, not " + std::to_string(inputs));
        }
    }
}

void CheckTrace(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    long calls = 0;
    std::uint64_t last = 0;
    while (std::getline(file, line)) {
        // A call line follows the milliseconds since the trace began: "  12.345 ms  #SEQ ...".
        const auto mark = line.find(" ms  #");
        if (mark == std::string::npos) continue;
        if (!IsNumber(line.substr(line.find_first_not_of(' '), mark - line.find_first_not_of(' ')))) {
            Fail(path + ": a call line without its time: " + line);
        }
        line = line.substr(mark + 5);
        devsim::TraceRecord record;
        if (!devsim::ParseTraceLine(line, &record)) {
            Fail(path + ": not a call line: " + line);
            continue;
        }
        if (record.function.rfind("DRV_", 0) != 0 && record.function.rfind("COM", 0) != 0) {
            Fail(path + ": not a vendor function: " + line);
        }
        if (calls != 0 && record.sequence <= last) Fail(path + ": call lines out of order: " + line);
        last = record.sequence;
        ++calls;
    }
    if (calls == 0) Fail(path + ": no call lines");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: run_output_check CSV OUTPUT CYCLES INPUTS [FAILED]\n");
        return 2;
    }
    CheckCsv(argv[1], std::strtol(argv[3], nullptr, 10), std::strtol(argv[4], nullptr, 10), argc == 6 ? argv[5] : "");
    CheckTrace(argv[2]);
    return failures == 0 ? 0 : 1;
}
