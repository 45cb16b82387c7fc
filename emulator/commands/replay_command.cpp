// tovihost replay RECORDING PARAMFILE: the host's polling loop with a recording
// as the simulated device set. Every call the driver makes is answered from the
// recording and compared with it; the run ends when the recording is used up (or
// after --cycles) and the verdict is the last line.
#include <cstdio>
#include <string>
#include <vector>

#include "device_sim/device_sim.h"
#include "emulator/commands/commands.h"

namespace tovihost {
namespace {

const ArgumentRules kReplayRules{{"--cycles", "--period", "--write", "--csv", "--timeout", "--log-dir"}, {}, {}};

// The polling loop is done when every recorded call but the closes of the
// driver's stop was made, or once the driver strayed from the recording.
bool ReplayDone() {
    devsim_replay_state state{};
    if (devsim_replay_state_of(&state) != 0) return true;
    return state.ended != 0 || state.remaining == state.remaining_closes || state.divergences != 0;
}

}  // namespace

int ReplayCommand(const Options& options) {
    Arguments arguments;
    std::string error;
    if (!ParseArguments("replay", options.arguments, kReplayRules, arguments, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }
    if (arguments.positional.size() != 2) {
        std::fprintf(stderr, "usage: tovihost replay RECORDING PARAMFILE [--cycles N]  (tovihost --help lists the options)\n");
        return kExitUsage;
    }
    const std::string& recording = arguments.positional[0];
    // Read here first, so that a damaged recording is reported before the driver starts.
    char message[1024] = {};
    devsim_replay_state state{};
    if (devsim_load_file(recording.c_str(), message, sizeof message) != 0) {
        std::fprintf(stderr, "%s\n", message);
        return kExitUsage;
    }
    if (devsim_replay_state_of(&state) != 0) {
        std::fprintf(stderr, "%s:1: not a recording: it must start with \"tovi-recording 1\"\n", recording.c_str());
        devsim_unload();
        return kExitUsage;
    }
    Options run = options;
    run.arguments = {arguments.positional[1], "--devices", recording, "--plain", "--period",
                     arguments.Value("--period", "0")};
    for (const auto& [name, values] : arguments.options) {
        if (name == "--period") continue;
        for (const std::string& value : values) {
            run.arguments.push_back(name);
            run.arguments.push_back(value);
        }
    }
    const int code = RunLoop(run, ReplayDone);
    if (devsim_replay_state_of(&state) != 0) return code == 0 ? kExitUsage : code;
    const unsigned long long calls = state.calls, divergences = state.divergences;
    if (state.remaining != 0) {
        std::printf("%llu recorded calls were not made: %s\n", static_cast<unsigned long long>(state.remaining),
                    state.ended != 0 || state.remaining == state.remaining_closes
                        ? "the driver's stop closed less than it did when recording"
                        : "the run ended before the recording did");
    }
    if (divergences != 0) {
        std::printf("first divergence: %s\n", state.first_divergence);
        std::printf("replay: %llu calls, %llu divergences\n", calls, divergences);
        return code != 0 ? code : kExitRefused;
    }
    // A run the driver refused or that hung reproduced nothing, whatever it matched.
    std::printf("%s: %llu calls, 0 divergences\n", code == 0 ? "reproduced" : "replay", calls);
    return code;
}

}  // namespace tovihost
