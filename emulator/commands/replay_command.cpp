// tovihost replay RECORDING... PARAMFILE: the host's polling loop with a recording
// as the simulated device set. Every call the driver makes is answered from the
// recording and compared with it; the host's writes come from the recorded output
// calls (and --write); the run ends when the recording is used up (or after
// --cycles) and the verdict is the last line. The recording is read as it goes:
// one file, the files of a rotated set in any order, or a set named by its current
// file with --set.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "device_sim/device_sim.h"
#include "emulator/commands/commands.h"
#include "emulator/host/system_info.h"
#include "emulator/replay/replay_writes.h"
#include "emulator/run/runner.h"
#include "recording/recording_reader.h"

namespace tovihost {
namespace {

const ArgumentRules kReplayRules{
    {"--cycles", "--period", "--write", "--csv", "--timeout", "--log-dir", "--record"}, {}, {"--plain", "--set"}};

devsim_replay_state ReplayState() {
    devsim_replay_state state{};
    devsim_replay_state_of(&state);
    return state;
}

// Asked after each cycle. The polling loop is done when the driver has made the
// recording's last calls but the closes of its stop, or once it strayed from the
// recording.
bool ReplayDone() {
    devsim_replay_cycle_done();
    devsim_replay_state state{};
    if (devsim_replay_state_of(&state) != 0) return true;
    return state.ended != 0 || state.through != 0 || state.divergences != 0;
}

std::string Count(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Hours:minutes:seconds.milliseconds since the recording started.
std::string RecordedTime(std::uint64_t microseconds) {
    const std::uint64_t milliseconds = microseconds / 1000;
    const std::uint64_t seconds = milliseconds / 1000;
    char text[64];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u.%03u", seconds / 3600, static_cast<unsigned>(seconds / 60 % 60),
                  static_cast<unsigned>(seconds % 60), static_cast<unsigned>(milliseconds % 1000));
    return text;
}

// The one line a terminal shows while the replay runs.
std::string Progress() {
    const devsim_replay_state state = ReplayState();
    const double done = state.size == 0 ? 100.0 : 100.0 * static_cast<double>(state.position) / static_cast<double>(state.size);
    char line[160];
    std::snprintf(line, sizeof line, "replay: recorded time %s, %3.0f%% read, %" PRIu64 " calls, %" PRIu64 " divergences",
                  RecordedTime(state.reached_us).c_str(), done, state.calls, state.divergences);
    return line;
}

}  // namespace

int ReplayCommand(const Options& options) {
    Arguments arguments;
    std::string error;
    if (!ParseArguments("replay", options.arguments, kReplayRules, arguments, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }
    if (arguments.positional.size() < 2) {
        std::fprintf(stderr, "%s  (tovihost help replay explains it)\n", CommandUsage("replay"));
        return kExitUsage;
    }
    const std::string param_path = arguments.positional.back();
    std::vector<std::string> files(arguments.positional.begin(), arguments.positional.end() - 1);
    if (arguments.Has("--set")) {
        std::vector<std::string> named;
        for (const std::string& current : files)
            for (const std::string& file : recording::RotatedSet(current)) named.push_back(file);
        files = named;
    }
    // Opened first, so that an unusable recording is reported before the driver starts.
    std::vector<const char*> paths;
    for (const std::string& file : files) paths.push_back(file.c_str());
    char message[1024] = {};
    if (devsim_replay_open(paths.data(), static_cast<std::uint32_t>(paths.size()), message, sizeof message) != 0) {
        std::fprintf(stderr, "tovihost replay: %s\n", message);
        return kExitUsage;
    }
    const devsim_replay_state opened = ReplayState();
    if (opened.damage[0] != '\0') {  // within the first calls read: no use starting the driver
        std::fprintf(stderr, "tovihost replay: %s\n", opened.damage);
        devsim_unload();
        return kExitUsage;
    }
    if (opened.files > 1) {
        std::printf("replay: %u files of the run started %s, read as one\n", opened.files, opened.started);
    }
    if (opened.continues != 0) {
        // Both forms cut to the millisecond, so that they name the same one.
        const std::uint64_t milliseconds = opened.continues_us / 1000;
        std::printf("replay starts at recorded time %s (%" PRIu64 ".%03u s) of the run started %s\n",
                    RecordedTime(opened.continues_us).c_str(), milliseconds / 1000,
                    static_cast<unsigned>(milliseconds % 1000), opened.started);
    }
    std::fflush(stdout);
    // Every call is answered from the recording, so the driver's worker and this
    // host take turns rather than work side by side: on one processor their
    // hand-overs are cheap.
    KeepToOneProcessor();

    bool started = false;
    std::string start_message;
    std::unique_ptr<ReplayWrites> writes;
    Options run = options;
    run.arguments = {param_path, "--period", arguments.Value("--period", "0")};
    for (const auto& [name, values] : arguments.options) {
        if (name == "--period" || name == "--set") continue;
        for (const std::string& value : values) {
            run.arguments.push_back(name);
            if (name != "--plain") run.arguments.push_back(value);
        }
    }
    std::string devices = files.front();
    if (files.size() > 1) devices += " and " + Count(files.size() - 1, "more file", "more files");
    const int code = RunLoop(run, [&](RunSettings& settings) {
        settings.command = "replay";
        settings.until = ", until the recording ends";
        settings.devices_loaded = devices;
        settings.check_hint = false;  // the devices are the recording's, not a device set check reads
        settings.stop = ReplayDone;
        settings.progress = Progress;
        settings.started = [&](bool ok, const std::string& said) {
            started = ok;
            start_message = said;
        };
        settings.derived_writes = [&](const Plant& plant, long long) {
            if (!writes) writes = std::make_unique<ReplayWrites>(plant);
            return writes->ForCycle();
        };
        settings.serial_device_of = [&](const PlantModule& module) -> std::int64_t {
            return writes ? writes->SerialDeviceOf(module) : -1;
        };
        settings.device_of = [&](const PlantModule& module) -> std::int64_t {
            return writes ? writes->DeviceOf(module) : -1;
        };
        settings.before_stop = devsim_replay_stopping;
    });
    devsim_replay_finish();
    devsim_replay_state state{};
    if (devsim_replay_state_of(&state) != 0) return code == 0 ? kExitUsage : code;
    if (!started) {
        if (start_message.empty()) return code == 0 ? kExitUsage : code;  // refused before it started: said so
        std::printf("replay: the driver did not start, so nothing was replayed: %s\n", start_message.c_str());
        return code == 0 ? kExitRefused : code;
    }
    std::printf("replay stopped at recorded time %s%s%s\n", RecordedTime(state.reached_us).c_str(),
                state.reached_at[0] != '\0' ? ", " : "", state.reached_at);
    std::printf("recorded calls: %" PRIu64 " made, %" PRIu64 " missing, %" PRIu64 " not reached%s; calls not in the "
                "recording: %" PRIu64 "\n",
                state.made, state.missing, state.remaining, state.read_all != 0 ? "" : " (and the rest, not read)",
                state.extra);
    if (state.unused_setup != 0) {
        std::printf("recorded set-up calls of devices this run did not bind: %" PRIu64 "\n", state.unused_setup);
    }
    if (state.before_start != 0 && state.before_unheld == 0) {
        std::printf("calls before the recording's start (answered as the next recorded ones): %" PRIu64 "\n",
                    state.before_start);
    } else if (state.before_start != 0) {
        std::printf("calls before the recording's start: %" PRIu64 " answered as the next recorded ones, %" PRIu64
                    " failed (the file holds no call of theirs)\n",
                    state.before_start - state.before_unheld, state.before_unheld);
    }
    if (state.left_out != 0) {
        std::printf("recorded calls of the part of a pass the file begins with, not replayed: %" PRIu64 "\n",
                    state.left_out);
    }
    if (state.damage[0] != '\0') {
        std::fprintf(stderr, "tovihost replay: %s\n", state.damage);
        std::printf("replay: %llu calls, %llu divergences\n", static_cast<unsigned long long>(state.calls),
                    static_cast<unsigned long long>(state.divergences));
        return kExitUsage;
    }
    if (state.divergences != 0) {
        std::printf("first divergence: %s\n", state.first_divergence);
        std::printf("replay: %llu calls, %llu divergences\n", static_cast<unsigned long long>(state.calls),
                    static_cast<unsigned long long>(state.divergences));
        return code != 0 ? code : kExitRefused;
    }
    // A run that hung reproduced nothing, whatever it matched.
    std::printf("%s: %llu calls, 0 divergences\n", code == 0 ? "reproduced" : "replay",
                static_cast<unsigned long long>(state.calls));
    return code;
}

}  // namespace tovihost
