// tovihost inspect RECORDING... [PARAMFILE]: what a recording holds, read as it
// goes: the span, calls and threads, per device the calls, failures and durations
// of each function, the longest gaps between calls; with --html a page of charts.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/commands/commands.h"
#include "emulator/host/driver_library.h"
#include "emulator/inspect/inspect_page.h"
#include "emulator/inspect/inspect_report.h"
#include "emulator/inspect/recording_summary.h"
#include "emulator/plant/plant.h"
#include "emulator/run/live_table.h"
#include "emulator/text/shown_text.h"
#include "recording/recording_reader.h"

namespace tovihost {
namespace {

const ArgumentRules kInspectRules{{"--from", "--to", "--html"}, {}, {"--plain"}};

constexpr char kUsage[] =
    "usage: tovihost inspect RECORDING... [PARAMFILE] [--from TIME] [--to TIME] [--html FILE]  (tovihost --help "
    "lists the options)\n";

bool StartsLikeRecording(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char start[sizeof recording::kMagic] = {};  // the word and the blank after it
    file.read(start, sizeof start);
    return file.gcount() == static_cast<std::streamsize>(sizeof start) &&
           recording::LooksLikeRecording(std::string_view(start, sizeof start));
}

// Seconds since the recording's start: "90", "90.5", "1:30", "0:01:30.5". False
// for anything else.
bool ParseTime(const std::string& text, std::uint64_t& microseconds) {
    if (text.empty() || text.size() > 24 || text.find_first_not_of("0123456789:.") != std::string::npos) return false;
    double total = 0;
    std::size_t start = 0;
    int parts = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        const std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        const bool last = colon == std::string::npos;
        if (part.empty() || part.front() == '.' || part.back() == '.' ||
            part.find('.') != part.rfind('.') || (!last && part.find('.') != std::string::npos) || ++parts > 3) {
            return false;
        }
        const double value = std::strtod(part.c_str(), nullptr);
        if (parts > 1 && value >= 60) return false;
        total = total * 60 + value;
        if (last) break;
        start = colon + 1;
    }
    if (total > 1e12) return false;
    microseconds = static_cast<std::uint64_t>(total * 1e6 + 0.5);
    return true;
}

class Progress {
public:
    explicit Progress(bool shown) : shown_(shown) {}
    void Show(const recording::SetReader& reader, std::uint64_t calls) {
        if (!shown_ || (calls & 0xFFFF) != 0) return;
        const double share = reader.size() == 0 ? 0 : 100.0 * static_cast<double>(reader.position()) /
                                                          static_cast<double>(reader.size());
        std::printf("\rinspect: %3.0f%% read, %llu calls", share, static_cast<unsigned long long>(calls));
        std::fflush(stdout);
        drawn_ = true;
    }
    ~Progress() {
        if (drawn_) std::printf("\r\033[K");
    }

private:
    bool shown_;
    bool drawn_ = false;
};

}  // namespace

int InspectCommand(const Options& options) {
    Arguments arguments;
    std::string error;
    if (!ParseArguments("inspect", options.arguments, kInspectRules, arguments, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }
    std::vector<std::string> paths = arguments.positional;
    std::string param_path;
    if (paths.size() >= 2 && !StartsLikeRecording(paths.back())) {
        param_path = paths.back();
        paths.pop_back();
    }
    if (paths.empty()) {
        std::fprintf(stderr, "%s", kUsage);
        return kExitUsage;
    }
    InspectSource source;
    source.to_us = UINT64_MAX;
    for (const char* name : {"--from", "--to"}) {
        if (!arguments.Has(name)) continue;
        std::uint64_t& target = std::string(name) == "--from" ? source.from_us : source.to_us;
        if (!ParseTime(arguments.Value(name), target)) {
            std::fprintf(stderr,
                         "tovihost inspect: %s takes seconds since the recording's start (90, 90.5, 1:30, 0:01:30.5), "
                         "not \"%s\"\n",
                         name, ShownUtf8(arguments.Value(name)).c_str());
            return kExitUsage;
        }
        source.limited = true;
    }
    if (source.from_us > source.to_us) {
        std::fprintf(stderr, "tovihost inspect: --from %s is after --to %s\n", arguments.Value("--from").c_str(),
                     arguments.Value("--to").c_str());
        return kExitUsage;
    }
    // One file names its rotated set: the older files FILE.1, FILE.2 ... beside it.
    if (paths.size() == 1) paths = recording::RotatedSet(paths.front());
    recording::SetReader reader;
    if (!reader.Open(paths, error)) {
        std::fprintf(stderr, "%s\n", ShownUtf8(error).c_str());
        return kExitUsage;
    }
    Plant plant;
    if (!param_path.empty()) {
        const std::string driver = options.driver_path.empty() ? DefaultDriverPath() : options.driver_path;
        if (!plant.Load(param_path, TypesPathBeside(driver), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return kExitUsage;
        }
    }
    for (std::size_t i = 0; i < reader.files(); ++i) source.paths.push_back(reader.path(i));
    source.header = reader.header();
    const std::string html_path = arguments.Value("--html");
    RecordingSummary summary(source.from_us, source.to_us, arguments.Has("--html"));
    recording::Call call;
    std::uint64_t read = 0;
    {
        Progress progress(!arguments.Has("--plain") && IsTerminal());
        while (reader.Next(call, error)) {
            summary.Add(call);
            progress.Show(reader, ++read);
        }
    }
    if (!param_path.empty()) plant.ResolveDevices(summary.listed());
    const Plant* known = param_path.empty() ? nullptr : &plant;
    std::fputs(InspectReport(source, summary, known).c_str(), stdout);
    if (!error.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", ShownUtf8(error).c_str());
        return kExitUsage;
    }
    if (arguments.Has("--html")) {
        if (!WriteInspectPage(html_path, source, summary, known, error)) {
            std::fprintf(stderr, "tovihost inspect: %s\n", ShownUtf8(error).c_str());
            return kExitUsage;
        }
        std::printf("page: %s\n", html_path.c_str());
    }
    return 0;
}

}  // namespace tovihost
